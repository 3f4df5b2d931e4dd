// The source page's controls; see source_page.h.
#include "ui/source_page.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "front/job_description.h"
#include "ui/page_controls.h"

namespace trundle {

SourcePage::SourcePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SourceData"));
}

void SourcePage::Build(const PageControls& controls, QWidget* buttons, const QString& all_tables) {
  const auto px = [&controls](int designed) { return controls.Px(designed); };
  all_tables_ = all_tables;
  const auto table_combo = [&](QWidget* tab, const char* name, int top) {
    QComboBox* combo = controls.AddTableCombo(tab, QLatin1String(name), tr("Source Table"), top);
    combo->addItem(all_tables_);
    return combo;
  };
  auto* hint = new QLabel(tr("Select the source of the data to be moved."), this);
  hint->setObjectName(QStringLiteral("Label3"));
  hint->setAlignment(Qt::AlignHCenter);
  hint->setGeometry(px(16), px(72), px(465), px(16));
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("PageControl1"));
  tabs_->setGeometry(px(16), px(112), px(465), px(265));

  auto* text = new QWidget;
  text->setObjectName(QStringLiteral("SourceTextTab"));
  edit1_ = controls.AddBox(text, "Edit1", tr("Source File"), 24);
  browse_text_ = controls.AddBrowseButton(text, "BrowseSourceTextButton");
  controls.AddRadioGroup(text, "BrowseSourceTextGroup", tr("File Type"), QRect(16, 57, 185, 81),
                         {tr("Comma delimited"), tr("Tab delimited")}, 1, &text_type_);
  tabs_->addTab(text, tr("Text"));

  // A table file's tab: its box, the browse button beside it and the SQL box below.
  const auto table_file_tab = [&](const char* name, const char* box, const char* button,
                                  const QString& title, QLineEdit*& edit, QPushButton*& browse,
                                  QPlainTextEdit*& memo) {
    auto* tab = new QWidget;
    tab->setObjectName(QLatin1String(name));
    edit = controls.AddBox(tab, box, tr("Source Table"), 24);
    browse = controls.AddBrowseButton(tab, button);
    memo = new QPlainTextEdit(tab);
    tabs_->addTab(tab, title);
  };
  table_file_tab("SourcedBaseTab", "Edit2", "BrowseSourcedBaseButton", tr("dBase"), edit2_,
                 browse_dbase_, memo2_);
  table_file_tab("SourceParadoxTab", "Edit3", "BrowseSourceParadoxButton", tr("Paradox"), edit3_,
                 browse_paradox_, memo3_);

  auto* access = new QWidget;
  access->setObjectName(QStringLiteral("SourceAccessTab"));
  edit4_ = controls.AddBox(access, "Edit4", tr("Source Database"), 24);
  browse_access_ = controls.AddBrowseButton(access, "BrowseSourceAccessDatabaseButton");
  edit6_ = controls.AddBox(access, "Edit6", tr("Password"), 64, true);
  access_group_ = controls.AddRadioGroup(access, "SourceAccessVersionGroup", tr("Database version"),
                                         QRect(16, 86, 409, 40), {tr("Access 97"), tr("Access 2000")},
                                         2, &access_version_);
  access_version_->button(0)->setChecked(true);
  combo1_ = table_combo(access, "ComboBox1", 145);
  memo4_ = new QPlainTextEdit(access);
  tabs_->addTab(access, tr("Access"));

  auto* server = new QWidget;
  server->setObjectName(QStringLiteral("SourceOracleTab"));
  edit15_ = controls.AddBox(server, "Edit15", tr("Source Database"), 24);
  edit16_ = controls.AddBox(server, "Edit16", tr("User Name"), 64);
  edit17_ = controls.AddBox(server, "Edit17", tr("Password"), 104, true);
  combo2_ = table_combo(server, "ComboBox2", 144);
  memo5_ = new QPlainTextEdit(server);
  tabs_->addTab(server, tr("Oracle"));

  struct SqlBox {
    QPlainTextEdit* memo;
    const char* name;
    int top, height;
  };
  for (const SqlBox& s : {SqlBox{memo2_, "Memo2", 72, 137}, SqlBox{memo3_, "Memo3", 72, 137},
                          SqlBox{memo4_, "Memo4", 185, 47}, SqlBox{memo5_, "Memo5", 184, 48}}) {
    s.memo->setObjectName(QLatin1String(s.name));
    s.memo->setGeometry(px(16), px(s.top), px(409), px(s.height));
    s.memo->setTabChangesFocus(true);
    auto* label = new QLabel(tr("SQL"), s.memo->parentWidget());
    label->setObjectName(QLatin1String(s.name) + "Label");
    label->setGeometry(px(16), px(s.top - 16), px(409), px(16));
    label->setBuddy(s.memo);
  }

  // Edit2Change, Edit3Change, ComboBox1Change, ComboBox2Change: the SQL that reads the
  // whole table follows the table's name while the user has not edited it.
  connect(edit2_, &QLineEdit::textChanged, this,
          [this](const QString& table) { ProposeSql(memo2_, dkDBase, table); });
  connect(edit3_, &QLineEdit::textChanged, this,
          [this](const QString& table) { ProposeSql(memo3_, dkParadox, table); });
  connect(combo1_, &QComboBox::editTextChanged, this,
          [this](const QString& table) { ProposeSql(memo4_, dkAccess, table); });
  connect(combo2_, &QComboBox::editTextChanged, this,
          [this](const QString& table) { ProposeSql(memo5_, dkOracle, table); });
  declared_ = AddDeclaredTabs(tabs_, controls, true);
  for (const DeclaredTab& t : declared_) {
    t.table->addItem(all_tables_);
    if (t.sql)
      connect(t.table, &QComboBox::editTextChanged, this,
              [this, memo = t.sql, k = t.kind](const QString& table) { ProposeSql(memo, k, table); });
  }

  // The preview sits at the left of the page's button row.
  preview_button_ = new QPushButton(tr("Pre&view..."), buttons);
  preview_button_->setObjectName(QStringLiteral("PreviewButton"));
  preview_button_->setGeometry(px(16), px(5), px(90), px(25));
}

// A statement the user wrote or changed is theirs: a new table name does not replace
// it. The box follows the name again once it is emptied or holds the last proposal.
void SourcePage::ProposeSql(QPlainTextEdit* memo, TDataKind kind, const QString& table) {
  const QString now = memo->toPlainText();
  if (!now.isEmpty() && now != proposed_sql_.value(memo)) return;
  // A whole database is read table by table; no one statement reads it.
  const QString proposal = table == all_tables_
                               ? QString()
                               : QString::fromStdString(ProposedSql(kind, table.toStdString()));
  proposed_sql_[memo] = proposal;
  memo->setPlainText(proposal);
}

}  // namespace trundle

// The destination page's controls; see destination_page.h.
#include "ui/destination_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <tuple>

#include "front/job_description.h"
#include "ui/page_controls.h"

namespace trundle {

DestinationPage::DestinationPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Destination"));
}

void DestinationPage::Build(const PageControls& controls, QWidget* buttons) {
  const auto px = [&controls](int designed) { return controls.Px(designed); };
  auto* hint = new QLabel(tr("Select the destination of the data to be moved."), this);
  hint->setObjectName(QStringLiteral("Label12"));
  hint->setAlignment(Qt::AlignHCenter);
  hint->setGeometry(px(16), px(72), px(465), px(16));
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("PageControl2"));
  tabs_->setGeometry(px(16), px(112), px(465), px(265));
  BuildTextTab(controls);

  // A table file's tab: its box and the browse button beside it.
  const auto table_file_tab = [&](const char* name, const char* box, const char* button,
                                  const QString& title, QLineEdit*& edit, QPushButton*& browse) {
    auto* tab = new QWidget;
    tab->setObjectName(QLatin1String(name));
    edit = controls.AddBox(tab, box, tr("Destination Table"), 24);
    browse = controls.AddBrowseButton(tab, button);
    tabs_->addTab(tab, title);
  };
  table_file_tab("DestdBaseTab", "Edit9", "BrowseDestdBaseTable", tr("dBase"), edit9_,
                 browse_dbase_);
  table_file_tab("DestParadoxTab", "Edit10", "BrowseDestParadoxButton", tr("Paradox"), edit10_,
                 browse_paradox_);

  auto* access = new QWidget;
  access->setObjectName(QStringLiteral("DestAccessTab"));
  edit11_ = controls.AddBox(access, "Edit11", tr("Destination Database"), 24);
  browse_access_ = controls.AddBrowseButton(access, "BrowseDestAccessButton");
  edit5_ = controls.AddBox(access, "Edit5", tr("Password"), 64, true);
  access_group_ = controls.AddRadioGroup(access, "DestAccessVersionGroup", tr("Database version"),
                                         QRect(16, 105, 409, 40), {tr("Access 97"), tr("Access 2000")},
                                         2, &access_version_);
  access_version_->button(0)->setChecked(true);
  combo3_ = controls.AddTableCombo(access, "ComboBox3", tr("Destination Table"), 177);
  create_database_check_ =
      new QCheckBox(tr("Create the database if it doesn't exist (Access 2000)"), access);
  create_database_check_->setObjectName(QStringLiteral("CreateDatabaseCheck"));
  create_database_check_->setGeometry(px(16), px(207), px(409), px(21));
  // The database the box makes is an Access 2000 one, which Access 97 cannot open.
  connect(create_database_check_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) access_version_->button(1)->setChecked(true);
  });
  tabs_->addTab(access, tr("Access"));

  auto* server = new QWidget;
  server->setObjectName(QStringLiteral("DestOracleTab"));
  edit19_ = controls.AddBox(server, "Edit19", tr("Destination Database"), 24);
  edit20_ = controls.AddBox(server, "Edit20", tr("User Name"), 64);
  edit21_ = controls.AddBox(server, "Edit21", tr("Password"), 104, true);
  combo4_ = controls.AddTableCombo(server, "ComboBox4", tr("Destination Table"), 168);
  create_table_check_ = new QCheckBox(tr("Create the table if it doesn't exist"), server);
  create_table_check_->setObjectName(QStringLiteral("CreateTableCheck"));
  create_table_check_->setGeometry(px(16), px(198), px(409), px(21));
  tabs_->addTab(server, tr("Oracle"));

  // Any change of selection, by mouse, keyboard, code or the accessibility bus.
  connect(text_type_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) ShowTypeOptions();
  });
  connect(edit8_, &QLineEdit::textChanged, this, [this](const QString& path) {
    edit7_->setText(QString::fromStdString(HtmlTitleForFile(path.toStdString())));
  });
  declared_ = AddDeclaredTabs(tabs_, controls, false);

  // At the left of the page's button row, where the source page has Preview.
  fields_button_ = new QPushButton(tr("&Fields..."), buttons);
  fields_button_->setObjectName(QStringLiteral("FieldsButton"));
  fields_button_->setAccessibleName(tr("Fields"));
  fields_button_->setGeometry(px(16), px(5), px(90), px(25));
}

void DestinationPage::BuildTextTab(const PageControls& controls) {
  const auto px = [&controls](int designed) { return controls.Px(designed); };
  auto* text = new QWidget;
  text->setObjectName(QStringLiteral("DestTextTab"));
  edit8_ = controls.AddBox(text, "Edit8", tr("Destination File"), 24);
  browse_text_ = controls.AddBrowseButton(text, "BrowseDestTextButton");
  controls.AddRadioGroup(text, "BrowseDestTextGroup", tr("File Type"), QRect(16, 57, 185, 96),
                         {tr("Comma delimited"), tr("Tab delimited"), tr("HTML")}, 1, &text_type_);
  text_type_->button(0)->setChecked(true);
  notebook2_ = new QStackedWidget(text);
  notebook2_->setObjectName(QStringLiteral("Notebook2"));
  notebook2_->setGeometry(0, px(157), px(457), px(77));
  auto* text_options = new QWidget;
  text_options->setObjectName(QStringLiteral("TextOptions"));
  auto* text_box = new QGroupBox(tr("Text Options"), text_options);
  text_box->setObjectName(QStringLiteral("TextOptionsGroup"));
  text_box->setGeometry(px(16), px(1), px(441), px(74));
  clipboard_check_ = new QCheckBox(tr("Copy To Clipboard (don't create file)"), text_box);
  clipboard_check_->setObjectName(QStringLiteral("ClipboardCheck"));
  clipboard_check_->setGeometry(px(16), px(24), px(409), px(21));
  notebook2_->addWidget(text_options);
  auto* html_options = new QWidget;
  html_options->setObjectName(QStringLiteral("HTMLOptions"));
  auto* html_box = new QGroupBox(tr("HTML Options"), html_options);
  html_box->setObjectName(QStringLiteral("HTMLOptionsGroup"));
  html_box->setGeometry(px(16), px(1), px(441), px(74));
  for (auto [box, name, caption, top] :
       {std::tuple{&edit7_, "Edit7", tr("Title"), 18}, std::tuple{&edit12_, "Edit12", tr("Banner"), 45}}) {
    auto* label = new QLabel(caption, html_box);
    label->setObjectName(QLatin1String(name) + "Label");
    label->setGeometry(px(8), px(top + 3), px(46), px(16));
    *box = new QLineEdit(html_box);
    (*box)->setObjectName(QLatin1String(name));
    (*box)->setGeometry(px(56), px(top), px(369), px(21));
    label->setBuddy(*box);
  }
  edit12_->setText(QStringLiteral("Banner.html"));
  notebook2_->addWidget(html_options);
  tabs_->addTab(text, tr("Text"));
}

void DestinationPage::ShowTypeOptions() {
  switch (text_type_->checkedId()) {
    case 0:
      notebook2_->setVisible(false);
      break;
    case 1:
      notebook2_->setCurrentIndex(0);
      notebook2_->setVisible(true);
      break;
    case 2:
      notebook2_->setCurrentIndex(1);
      notebook2_->setVisible(true);
      break;
    default:
      break;
  }
}

}  // namespace trundle

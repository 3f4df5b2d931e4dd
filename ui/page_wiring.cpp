// How the window wires the source and destination pages (SourcePage and DestinationPage
// build their controls): the browse dialogs, the table lists, the preview and the Access
// version that follows a database's header.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "front/kinds.h"
#include "ui/destination_page.h"
#include "ui/main_form.h"
#include "ui/preview_dialog.h"
#include "ui/run_page.h"
#include "ui/source_page.h"

namespace trundle {
namespace {

const QStringList kSourceTextFilters = {QStringLiteral("Comma delimited (*.csv)"),
                                        QStringLiteral("Tab delimited (*.txt)"),
                                        QStringLiteral("All files (*.*)")};
const QStringList kDestTextFilters = {
    QStringLiteral("Comma delimited (*.csv)"), QStringLiteral("Tab delimited (*.txt)"),
    QStringLiteral("Html (*.html)"), QStringLiteral("All files (*.*)")};

// The suffix a name typed without one gets: the kind's first extension.
QString DefaultSuffix(const KindDeclaration* kind) {
  if (!kind || kind->extensions.empty()) return {};
  return QString::fromStdString(kind->extensions.front()).mid(1);
}

}  // namespace

QStringList FileFilters(TDataKind kind) {
  QStringList filters;
  if (const KindDeclaration* declared = FindKind(kind); declared && !declared->extensions.empty()) {
    QStringList patterns;
    for (const std::string& extension : declared->extensions)
      patterns << QStringLiteral("*") + QString::fromStdString(extension);
    filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(declared->title),
                                             patterns.join(QLatin1Char(' ')));
  }
  filters << QObject::tr("All files (*.*)");
  return filters;
}

void MainForm::ListTablesIn(QComboBox* combo, TableBox lists) {
  combo->installEventFilter(this);
  table_boxes_.insert(combo, lists);
}

void MainForm::ConnectDeclaredTabs(const std::vector<DeclaredTab>& tabs, bool source) {
  for (const DeclaredTab& t : tabs) {
    if (t.browse)
      connect(t.browse, &QPushButton::clicked, this, [this, box = t.database, k = t.kind, source] {
        source ? ChooseKindFile(box, k, false) : BrowseDestFile(box, k);
      });
    ListTablesIn(t.table, {t.kind, source});
  }
}

void MainForm::BuildSourcePage(SourcePage* page) {
  page->Build(controls_, buttons_[1].back->parentWidget(), AllTablesEntry());
  source_tabs_ = page->tabs();
  source_type_ = page->text_type();
  source_access_version_ = page->access_version();
  source_access_group_ = page->access_group();
  edit1_ = page->edit1();
  edit2_ = page->edit2();
  edit3_ = page->edit3();
  edit4_ = page->edit4();
  edit6_ = page->edit6();
  edit15_ = page->edit15();
  edit16_ = page->edit16();
  edit17_ = page->edit17();
  memo2_ = page->memo2();
  memo3_ = page->memo3();
  memo4_ = page->memo4();
  memo5_ = page->memo5();
  combo1_ = page->combo1();
  combo2_ = page->combo2();
  source_declared_ = page->declared();
  preview_button_ = page->preview_button();

  ListTablesIn(combo1_, {dkAccess, true});
  ListTablesIn(combo2_, {dkOracle, true});
  connect(page->browse_text(), &QPushButton::clicked, this, &MainForm::BrowseSourceTextButtonClick);
  connect(page->browse_dbase(), &QPushButton::clicked, this,
          [this] { ChooseKindFile(edit2_, dkDBase, false); });
  connect(page->browse_paradox(), &QPushButton::clicked, this,
          [this] { ChooseKindFile(edit3_, dkParadox, false); });
  connect(page->browse_access(), &QPushButton::clicked, this,
          [this] { ChooseKindFile(edit4_, dkAccess, false); });
  ConnectDeclaredTabs(source_declared_, true);

  connect(preview_button_, &QPushButton::clicked, this, &MainForm::PreviewButtonClick);
  // Whatever names the source, on any tab, may enable or disable it.
  connect(source_tabs_, &QTabWidget::currentChanged, this, &MainForm::UpdatePreviewButton);
  connect(source_type_, &QButtonGroup::idToggled, this, &MainForm::UpdatePreviewButton);
  for (auto* box : source_tabs_->findChildren<QLineEdit*>())
    connect(box, &QLineEdit::textChanged, this, &MainForm::UpdatePreviewButton);
  for (auto* memo : source_tabs_->findChildren<QPlainTextEdit*>())
    connect(memo, &QPlainTextEdit::textChanged, this, &MainForm::UpdatePreviewButton);
}

void MainForm::UpdatePreviewButton() {
  // Describe reads every page: until the run page is built there is nothing to ask.
  if (!preview_button_ || !run_page_->on_error()) return;
  const JobDescription description = Describe();
  preview_button_->setEnabled(MissingSource(description).isEmpty());
  FollowFieldMapSource(description);
}

void MainForm::PreviewButtonClick() {
  // One preview at a time: a new one replaces what an older source showed.
  for (auto* old : findChildren<PreviewDialog*>()) delete old;
  auto* dialog = new PreviewDialog(Describe().source, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  // Window-modal without a nested event loop: the page stays as it is behind it.
  dialog->open();
}

void MainForm::BuildDestinationPage(DestinationPage* page) {
  page->Build(controls_, buttons_[2].back->parentWidget());
  dest_tabs_ = page->tabs();
  dest_type_ = page->text_type();
  dest_access_version_ = page->access_version();
  dest_access_group_ = page->access_group();
  edit8_ = page->edit8();
  edit9_ = page->edit9();
  edit10_ = page->edit10();
  edit11_ = page->edit11();
  edit5_ = page->edit5();
  edit19_ = page->edit19();
  edit20_ = page->edit20();
  edit21_ = page->edit21();
  edit7_ = page->edit7();
  edit12_ = page->edit12();
  combo3_ = page->combo3();
  combo4_ = page->combo4();
  notebook2_ = page->notebook2();
  clipboard_check_ = page->clipboard_check();
  create_database_check_ = page->create_database_check();
  create_table_check_ = page->create_table_check();
  dest_declared_ = page->declared();
  fields_button_ = page->fields_button();

  ListTablesIn(combo3_, {dkAccess, false});
  ListTablesIn(combo4_, {dkOracle, false});
  // The version follows the database the box names, and the group's caption says what
  // its header holds.
  connect(edit4_, &QLineEdit::textChanged, this, [this] { FollowAccessVersion(true); });
  connect(edit11_, &QLineEdit::textChanged, this, [this] { FollowAccessVersion(false); });
  connect(create_database_check_, &QCheckBox::toggled, this, [this] { FollowAccessVersion(false); });
  connect(dest_access_version_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) FollowAccessVersion(false, false);
  });
  connect(page->browse_text(), &QPushButton::clicked, this, &MainForm::BrowseDestTextButtonClick);
  connect(page->browse_dbase(), &QPushButton::clicked, this,
          [this] { BrowseDestFile(edit9_, dkDBase); });
  connect(page->browse_paradox(), &QPushButton::clicked, this,
          [this] { BrowseDestFile(edit10_, dkParadox); });
  connect(page->browse_access(), &QPushButton::clicked, this,
          [this] { BrowseDestFile(edit11_, dkAccess); });
  ConnectDeclaredTabs(dest_declared_, false);
  connect(fields_button_, &QPushButton::clicked, this, &MainForm::FieldsButtonClick);
}

void MainForm::BrowseSourceTextButtonClick() {
  const int type = source_type_->checkedId();
  if (type == 0) open_dialog_.default_suffix = QStringLiteral("csv");
  if (type == 1) open_dialog_.default_suffix = QStringLiteral("txt");
  ChooseTextFile({false, tr("Select source file"), kSourceTextFilters, type + 1,
                  open_dialog_.default_suffix, edit1_->text(), false},
                 edit1_, source_type_, 2);
}

void MainForm::BrowseDestTextButtonClick() {
  if (BrowseDestFolder(edit8_)) return;
  const int type = dest_type_->checkedId();
  static const char* const kSuffixes[] = {"csv", "txt", "html"};
  if (type >= 0) save_dialog_.default_suffix = QLatin1String(kSuffixes[type]);
  save_dialog_.prompt_to_create = true;
  ChooseTextFile({true, tr("Select destination file"), kDestTextFilters, type + 1,
                  save_dialog_.default_suffix, edit8_->text(), true},
                 edit8_, dest_type_, 3);
}

void MainForm::ChooseTextFile(const FileDialogRequest& request, QLineEdit* box, QButtonGroup* types,
                              int type_count) {
  const auto answer = dialogs_->ChooseFile(this, request);
  if (!answer) return;
  box->setText(answer->path);
  SelectItem(types, answer->filter_index >= 1 && answer->filter_index <= type_count
                        ? answer->filter_index - 1
                        : -1);
}

void MainForm::BrowseDestFile(QLineEdit* box, TDataKind kind) {
  if (IsFileKind(kind) && BrowseDestFolder(box)) return;
  ChooseKindFile(box, kind, true);
}

void MainForm::ChooseKindFile(QLineEdit* box, TDataKind kind, bool save) {
  DialogMemory& memory = save ? save_dialog_ : open_dialog_;
  const KindDeclaration* declared = FindKind(kind);
  memory.default_suffix = DefaultSuffix(declared);
  const bool table = declared && declared->Can(kaOneFile);
  const QString title =
      save ? (table ? tr("Select destination table") : tr("Select destination database"))
           : (table ? tr("Select source table") : tr("Select source database"));
  const FileDialogRequest request{save,
                                  title,
                                  FileFilters(kind),
                                  0,
                                  memory.default_suffix,
                                  box->text(),
                                  memory.prompt_to_create};
  if (const auto answer = dialogs_->ChooseFile(this, request)) box->setText(answer->path);
}

void MainForm::FollowAccessVersion(bool source, bool choose) {
  QLineEdit* box = source ? edit4_ : edit11_;
  QButtonGroup* group = source ? source_access_version_ : dest_access_version_;
  QGroupBox* frame = source ? source_access_group_ : dest_access_group_;
  if (!frame) return;
  const std::string path = box->text().toStdString();
  std::string found;
  const std::string dao = path.empty() ? "" : DaoVersionOfFile(path, found);
  QString caption = tr("Database version");
  if (!dao.empty()) {
    if (choose) {
      const QSignalBlocker quiet(group);
      group->button(dao == "dao35" ? 0 : 1)->setChecked(true);
    }
    caption += tr(": the file is an %1 database").arg(QString::fromStdString(found));
  } else if (!source && create_database_check_->isChecked() && !path.empty() &&
             !QFileInfo::exists(QString::fromStdString(path))) {
    // What the box makes is an Access 2000 database, which DAO 3.5 cannot open.
    caption += group->checkedId() == 0
                   ? tr(": Access 97 cannot open the new database, made as Access 2000")
                   : tr(": a new database is made as Access 2000");
  }
  frame->setTitle(caption);
}

}  // namespace trundle

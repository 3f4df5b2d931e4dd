// The source and destination pages in the window: the source page's wiring (SourcePage
// builds its controls), the destination page's tab set, the browse dialogs, the table
// lists, the destination's options area and the HTML title.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>

#include "front/kinds.h"
#include "ui/main_form.h"
#include "ui/preview_dialog.h"
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
        source ? BrowseSourceFile(box, k) : BrowseDestFile(box, k);
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
          [this] { BrowseSourceFile(edit2_, dkDBase); });
  connect(page->browse_paradox(), &QPushButton::clicked, this,
          [this] { BrowseSourceFile(edit3_, dkParadox); });
  connect(page->browse_access(), &QPushButton::clicked, this,
          [this] { BrowseSourceFile(edit4_, dkAccess); });
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
  if (!preview_button_ || !on_error_) return;
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

void MainForm::BuildDestinationPage(QWidget* page) {
  auto* hint = new QLabel(tr("Select the destination of the data to be moved."), page);
  hint->setObjectName(QStringLiteral("Label12"));
  hint->setAlignment(Qt::AlignHCenter);
  hint->setGeometry(Px(16), Px(72), Px(465), Px(16));
  dest_tabs_ = new QTabWidget(page);
  dest_tabs_->setObjectName(QStringLiteral("PageControl2"));
  dest_tabs_->setGeometry(Px(16), Px(112), Px(465), Px(265));

  auto* text = new QWidget;
  text->setObjectName(QStringLiteral("DestTextTab"));
  edit8_ = controls_.AddBox(text, "Edit8", tr("Destination File"), 24);
  auto* browse_text = controls_.AddBrowseButton(text, "BrowseDestTextButton");
  controls_.AddRadioGroup(text, "BrowseDestTextGroup", tr("File Type"), QRect(16, 57, 185, 96),
                {tr("Comma delimited"), tr("Tab delimited"), tr("HTML")}, 1, &dest_type_);
  dest_type_->button(0)->setChecked(true);
  notebook2_ = new QStackedWidget(text);
  notebook2_->setObjectName(QStringLiteral("Notebook2"));
  notebook2_->setGeometry(0, Px(157), Px(457), Px(77));
  auto* text_options = new QWidget;
  text_options->setObjectName(QStringLiteral("TextOptions"));
  auto* text_box = new QGroupBox(tr("Text Options"), text_options);
  text_box->setObjectName(QStringLiteral("TextOptionsGroup"));
  text_box->setGeometry(Px(16), Px(1), Px(441), Px(74));
  clipboard_check_ = new QCheckBox(tr("Copy To Clipboard (don't create file)"), text_box);
  clipboard_check_->setObjectName(QStringLiteral("ClipboardCheck"));
  clipboard_check_->setGeometry(Px(16), Px(24), Px(409), Px(21));
  notebook2_->addWidget(text_options);
  auto* html_options = new QWidget;
  html_options->setObjectName(QStringLiteral("HTMLOptions"));
  auto* html_box = new QGroupBox(tr("HTML Options"), html_options);
  html_box->setObjectName(QStringLiteral("HTMLOptionsGroup"));
  html_box->setGeometry(Px(16), Px(1), Px(441), Px(74));
  for (auto [box, name, caption, top] :
       {std::tuple{&edit7_, "Edit7", tr("Title"), 18}, std::tuple{&edit12_, "Edit12", tr("Banner"), 45}}) {
    auto* label = new QLabel(caption, html_box);
    label->setObjectName(QLatin1String(name) + "Label");
    label->setGeometry(Px(8), Px(top + 3), Px(46), Px(16));
    *box = new QLineEdit(html_box);
    (*box)->setObjectName(QLatin1String(name));
    (*box)->setGeometry(Px(56), Px(top), Px(369), Px(21));
    label->setBuddy(*box);
  }
  edit12_->setText(QStringLiteral("Banner.html"));
  notebook2_->addWidget(html_options);
  dest_tabs_->addTab(text, tr("Text"));

  auto* dbase = new QWidget;
  dbase->setObjectName(QStringLiteral("DestdBaseTab"));
  edit9_ = controls_.AddBox(dbase, "Edit9", tr("Destination Table"), 24);
  auto* browse_dbase = controls_.AddBrowseButton(dbase, "BrowseDestdBaseTable");
  dest_tabs_->addTab(dbase, tr("dBase"));

  auto* paradox = new QWidget;
  paradox->setObjectName(QStringLiteral("DestParadoxTab"));
  edit10_ = controls_.AddBox(paradox, "Edit10", tr("Destination Table"), 24);
  auto* browse_paradox = controls_.AddBrowseButton(paradox, "BrowseDestParadoxButton");
  dest_tabs_->addTab(paradox, tr("Paradox"));

  auto* access = new QWidget;
  access->setObjectName(QStringLiteral("DestAccessTab"));
  edit11_ = controls_.AddBox(access, "Edit11", tr("Destination Database"), 24);
  auto* browse_access = controls_.AddBrowseButton(access, "BrowseDestAccessButton");
  edit5_ = controls_.AddBox(access, "Edit5", tr("Password"), 64, true);
  controls_.AddRadioGroup(access, "DestAccessVersionGroup", tr("Database version"), QRect(16, 105, 409, 40),
                {tr("Access 97"), tr("Access 2000")}, 2, &dest_access_version_);
  dest_access_version_->button(0)->setChecked(true);
  dest_access_group_ = access->findChild<QGroupBox*>(QStringLiteral("DestAccessVersionGroup"));
  combo3_ = controls_.AddTableCombo(access, "ComboBox3", tr("Destination Table"), 177);
  ListTablesIn(combo3_, {dkAccess, false});
  create_database_check_ =
      new QCheckBox(tr("Create the database if it doesn't exist (Access 2000)"), access);
  create_database_check_->setObjectName(QStringLiteral("CreateDatabaseCheck"));
  create_database_check_->setGeometry(Px(16), Px(207), Px(409), Px(21));
  // The database the box makes is an Access 2000 one, which Access 97 cannot open.
  connect(create_database_check_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) dest_access_version_->button(1)->setChecked(true);
  });
  // The version follows the database the box names, and the group's caption says what
  // its header holds.
  connect(edit4_, &QLineEdit::textChanged, this, [this] { FollowAccessVersion(true); });
  connect(edit11_, &QLineEdit::textChanged, this, [this] { FollowAccessVersion(false); });
  connect(create_database_check_, &QCheckBox::toggled, this, [this] { FollowAccessVersion(false); });
  connect(dest_access_version_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) FollowAccessVersion(false, false);
  });
  dest_tabs_->addTab(access, tr("Access"));

  auto* server = new QWidget;
  server->setObjectName(QStringLiteral("DestOracleTab"));
  edit19_ = controls_.AddBox(server, "Edit19", tr("Destination Database"), 24);
  edit20_ = controls_.AddBox(server, "Edit20", tr("User Name"), 64);
  edit21_ = controls_.AddBox(server, "Edit21", tr("Password"), 104, true);
  combo4_ = controls_.AddTableCombo(server, "ComboBox4", tr("Destination Table"), 168);
  ListTablesIn(combo4_, {dkOracle, false});
  create_table_check_ = new QCheckBox(tr("Create the table if it doesn't exist"), server);
  create_table_check_->setObjectName(QStringLiteral("CreateTableCheck"));
  create_table_check_->setGeometry(Px(16), Px(198), Px(409), Px(21));
  dest_tabs_->addTab(server, tr("Oracle"));

  connect(browse_text, &QPushButton::clicked, this, &MainForm::BrowseDestTextButtonClick);
  connect(browse_dbase, &QPushButton::clicked, this, [this] { BrowseDestFile(edit9_, dkDBase); });
  connect(browse_paradox, &QPushButton::clicked, this,
          [this] { BrowseDestFile(edit10_, dkParadox); });
  connect(browse_access, &QPushButton::clicked, this,
          [this] { BrowseDestFile(edit11_, dkAccess); });
  // Any change of selection, by mouse, keyboard, code or the accessibility bus.
  connect(dest_type_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) BrowseDestTextGroupClick();
  });
  connect(edit8_, &QLineEdit::textChanged, this, [this](const QString& path) {
    edit7_->setText(QString::fromStdString(HtmlTitleForFile(path.toStdString())));
  });
  dest_declared_ = AddDeclaredTabs(dest_tabs_, controls_, false);
  ConnectDeclaredTabs(dest_declared_, false);
  AddFieldsButton();
}

void MainForm::BrowseSourceTextButtonClick() {
  const int type = source_type_->checkedId();
  if (type == 0) open_dialog_.default_suffix = QStringLiteral("csv");
  if (type == 1) open_dialog_.default_suffix = QStringLiteral("txt");
  FileDialogRequest request{false,          tr("Select source file"),   kSourceTextFilters,
                            type + 1,       open_dialog_.default_suffix, edit1_->text(),
                            false};
  const auto answer = dialogs_->ChooseFile(this, request);
  if (!answer) return;
  edit1_->setText(answer->path);
  SelectItem(source_type_, answer->filter_index >= 1 && answer->filter_index <= 2
                               ? answer->filter_index - 1
                               : -1);
}

void MainForm::BrowseSourceFile(QLineEdit* box, TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  open_dialog_.default_suffix = DefaultSuffix(declared);
  const QString title = declared && declared->Can(kaOneFile) ? tr("Select source table")
                                                             : tr("Select source database");
  const FileDialogRequest request{
      false, title, FileFilters(kind), 0, open_dialog_.default_suffix, box->text(), false};
  if (const auto answer = dialogs_->ChooseFile(this, request)) box->setText(answer->path);
}

void MainForm::BrowseDestTextButtonClick() {
  if (BrowseDestFolder(edit8_)) return;
  const int type = dest_type_->checkedId();
  static const char* const kSuffixes[] = {"csv", "txt", "html"};
  if (type >= 0) save_dialog_.default_suffix = QLatin1String(kSuffixes[type]);
  save_dialog_.prompt_to_create = true;
  FileDialogRequest request{true,     tr("Select destination file"),  kDestTextFilters,
                            type + 1, save_dialog_.default_suffix,     edit8_->text(),
                            true};
  const auto answer = dialogs_->ChooseFile(this, request);
  if (!answer) return;
  edit8_->setText(answer->path);
  SelectItem(dest_type_, answer->filter_index >= 1 && answer->filter_index <= 3
                             ? answer->filter_index - 1
                             : -1);
}

void MainForm::BrowseDestFile(QLineEdit* box, TDataKind kind) {
  if (IsFileKind(kind) && BrowseDestFolder(box)) return;
  const KindDeclaration* declared = FindKind(kind);
  save_dialog_.default_suffix = DefaultSuffix(declared);
  const QString title = declared && declared->Can(kaOneFile) ? tr("Select destination table")
                                                             : tr("Select destination database");
  const FileDialogRequest request{true,
                                  title,
                                  FileFilters(kind),
                                  0,
                                  save_dialog_.default_suffix,
                                  box->text(),
                                  save_dialog_.prompt_to_create};
  if (const auto answer = dialogs_->ChooseFile(this, request)) box->setText(answer->path);
}

void MainForm::BrowseDestTextGroupClick() {
  switch (dest_type_->checkedId()) {
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

// The source and destination pages: their tab sets, the browse dialogs, the proposed SQL,
// the table lists, the destination's options area and the HTML title.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTabWidget>

#include "ui/main_form.h"

namespace trundle {
namespace {

const QStringList kSourceTextFilters = {QStringLiteral("Comma delimited (*.csv)"),
                                        QStringLiteral("Tab delimited (*.txt)"),
                                        QStringLiteral("All files (*.*)")};
const QStringList kDestTextFilters = {
    QStringLiteral("Comma delimited (*.csv)"), QStringLiteral("Tab delimited (*.txt)"),
    QStringLiteral("Html (*.html)"), QStringLiteral("All files (*.*)")};
const QStringList kDBaseFilters = {QStringLiteral("dBase (*.dbf)"),
                                   QStringLiteral("All files (*.*)")};
const QStringList kParadoxFilters = {QStringLiteral("Paradox (*.db)"),
                                     QStringLiteral("All files (*.*)")};
const QStringList kAccessFilters = {QStringLiteral("Access (*.mdb)"),
                                    QStringLiteral("All files (*.*)")};

// Restores the cursor however the list handler is left.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Selects item `id` of a radio group, or none for -1 (which an exclusive group refuses
// unless told otherwise).
void SelectItem(QButtonGroup* group, int id) {
  if (id >= 0) {
    group->button(id)->setChecked(true);
    return;
  }
  if (!group->checkedButton()) return;
  group->setExclusive(false);
  group->checkedButton()->setChecked(false);
  group->setExclusive(true);
}

std::string DaoVersion(const QButtonGroup* group) {
  switch (group->checkedId()) {
    case 0: return "dao35";
    case 1: return "dao36";
    default: return "";
  }
}

}  // namespace

QLineEdit* MainForm::AddBox(QWidget* tab, const QString& name, const QString& caption, int top,
                            bool password) {
  auto* label = new QLabel(caption, tab);
  label->setObjectName(name + "Label");
  label->setGeometry(Px(16), Px(top - 16), Px(409), Px(16));
  auto* box = new QLineEdit(tab);
  box->setObjectName(name);
  box->setGeometry(Px(16), Px(top), Px(409), Px(21));
  if (password) box->setEchoMode(QLineEdit::Password);
  label->setBuddy(box);
  return box;
}

QComboBox* MainForm::AddTableCombo(QWidget* tab, const QString& name, const QString& caption,
                                   int top) {
  auto* label = new QLabel(caption, tab);
  label->setObjectName(name + "Label");
  label->setGeometry(Px(16), Px(top - 16), Px(409), Px(16));
  auto* combo = new QComboBox(tab);
  combo->setObjectName(name);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setGeometry(Px(16), Px(top), Px(409), Px(21));
  label->setBuddy(combo);
  // The box's own name is its text; the part that takes the typing is named by the label.
  combo->lineEdit()->setAccessibleName(caption);
  combo->installEventFilter(this);
  return combo;
}

QPushButton* MainForm::AddBrowseButton(QWidget* tab, const QString& name) {
  auto* button = new QPushButton(QStringLiteral("..."), tab);
  button->setObjectName(name);
  button->setAccessibleName(tr("Browse"));
  button->setGeometry(Px(432), Px(24), Px(21), Px(21));
  return button;
}

QGroupBox* MainForm::AddRadioGroup(QWidget* tab, const QString& name, const QString& caption,
                                   QRect designed, const QStringList& items, int columns,
                                   QButtonGroup** group) {
  auto* box = new QGroupBox(caption, tab);
  box->setObjectName(name);
  box->setGeometry(Px(designed.x()), Px(designed.y()), Px(designed.width()),
                   Px(designed.height()));
  *group = new QButtonGroup(box);
  // A layout, not fixed places: where the caption ends and the frame begins depends on
  // the style and the font, and a first item placed at a fixed top sits on the frame.
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(Px(8), 0, Px(8), 0);
  grid->setHorizontalSpacing(0);
  grid->setVerticalSpacing(Px(2));
  const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(items[i], box);
    radio->setObjectName(QStringLiteral("%1Item%2").arg(name).arg(i));
    radio->setMinimumHeight(Px(18));
    grid->addWidget(radio, i % rows, i / rows);
    (*group)->addButton(radio, i);
  }
  grid->setRowStretch(rows, 1);
  return box;
}

void MainForm::BuildSourcePage(QWidget* page) {
  auto* hint = new QLabel(tr("Select the source of the data to be moved."), page);
  hint->setObjectName(QStringLiteral("Label3"));
  hint->setAlignment(Qt::AlignHCenter);
  hint->setGeometry(Px(16), Px(72), Px(465), Px(16));
  source_tabs_ = new QTabWidget(page);
  source_tabs_->setObjectName(QStringLiteral("PageControl1"));
  source_tabs_->setGeometry(Px(16), Px(112), Px(465), Px(265));

  auto* text = new QWidget;
  text->setObjectName(QStringLiteral("SourceTextTab"));
  edit1_ = AddBox(text, "Edit1", tr("Source File"), 24);
  auto* browse_text = AddBrowseButton(text, "BrowseSourceTextButton");
  AddRadioGroup(text, "BrowseSourceTextGroup", tr("File Type"), QRect(16, 57, 185, 81),
                {tr("Comma delimited"), tr("Tab delimited")}, 1, &source_type_);
  source_tabs_->addTab(text, tr("Text"));

  auto* dbase = new QWidget;
  dbase->setObjectName(QStringLiteral("SourcedBaseTab"));
  edit2_ = AddBox(dbase, "Edit2", tr("Source Table"), 24);
  auto* browse_dbase = AddBrowseButton(dbase, "BrowseSourcedBaseButton");
  memo2_ = new QPlainTextEdit(dbase);
  source_tabs_->addTab(dbase, tr("dBase"));

  auto* paradox = new QWidget;
  paradox->setObjectName(QStringLiteral("SourceParadoxTab"));
  edit3_ = AddBox(paradox, "Edit3", tr("Source Table"), 24);
  auto* browse_paradox = AddBrowseButton(paradox, "BrowseSourceParadoxButton");
  memo3_ = new QPlainTextEdit(paradox);
  source_tabs_->addTab(paradox, tr("Paradox"));

  auto* access = new QWidget;
  access->setObjectName(QStringLiteral("SourceAccessTab"));
  edit4_ = AddBox(access, "Edit4", tr("Source Database"), 24);
  auto* browse_access = AddBrowseButton(access, "BrowseSourceAccessDatabaseButton");
  edit6_ = AddBox(access, "Edit6", tr("Password"), 64, true);
  AddRadioGroup(access, "SourceAccessVersionGroup", tr("Database version"),
                QRect(16, 86, 409, 40), {tr("Access 97"), tr("Access 2000")}, 2,
                &source_access_version_);
  source_access_version_->button(0)->setChecked(true);
  source_access_group_ = access->findChild<QGroupBox*>(QStringLiteral("SourceAccessVersionGroup"));
  combo1_ = AddTableCombo(access, "ComboBox1", tr("Source Table"), 145);
  memo4_ = new QPlainTextEdit(access);
  source_tabs_->addTab(access, tr("Access"));

  auto* server = new QWidget;
  server->setObjectName(QStringLiteral("SourceOracleTab"));
  edit15_ = AddBox(server, "Edit15", tr("Source Database"), 24);
  edit16_ = AddBox(server, "Edit16", tr("User Name"), 64);
  edit17_ = AddBox(server, "Edit17", tr("Password"), 104, true);
  combo2_ = AddTableCombo(server, "ComboBox2", tr("Source Table"), 144);
  memo5_ = new QPlainTextEdit(server);
  source_tabs_->addTab(server, tr("Oracle"));

  struct SqlBox {
    QPlainTextEdit* memo;
    const char* name;
    int top, height;
  };
  for (const SqlBox& s : {SqlBox{memo2_, "Memo2", 72, 137}, SqlBox{memo3_, "Memo3", 72, 137},
                          SqlBox{memo4_, "Memo4", 185, 47}, SqlBox{memo5_, "Memo5", 184, 48}}) {
    s.memo->setObjectName(QLatin1String(s.name));
    s.memo->setGeometry(Px(16), Px(s.top), Px(409), Px(s.height));
    s.memo->setTabChangesFocus(true);
    auto* label = new QLabel(tr("SQL"), s.memo->parentWidget());
    label->setObjectName(QLatin1String(s.name) + "Label");
    label->setGeometry(Px(16), Px(s.top - 16), Px(409), Px(16));
    label->setBuddy(s.memo);
  }

  connect(browse_text, &QPushButton::clicked, this, &MainForm::BrowseSourceTextButtonClick);
  connect(browse_dbase, &QPushButton::clicked, this, [this] {
    BrowseSourceFile(edit2_, "dbf", tr("Select source table"), kDBaseFilters);
  });
  connect(browse_paradox, &QPushButton::clicked, this, [this] {
    BrowseSourceFile(edit3_, "db", tr("Select source table"), kParadoxFilters);
  });
  connect(browse_access, &QPushButton::clicked, this, [this] {
    BrowseSourceFile(edit4_, "mdb", tr("Select source database"), kAccessFilters);
  });
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
}

// A statement the user wrote or changed is theirs: a new table name does not replace
// it. The box follows the name again once it is emptied or holds the last proposal.
void MainForm::ProposeSql(QPlainTextEdit* memo, TDataKind kind, const QString& table) {
  const QString now = memo->toPlainText();
  if (!now.isEmpty() && now != proposed_sql_.value(memo)) return;
  const QString proposal = QString::fromStdString(ProposedSql(kind, table.toStdString()));
  proposed_sql_[memo] = proposal;
  memo->setPlainText(proposal);
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
  edit8_ = AddBox(text, "Edit8", tr("Destination File"), 24);
  auto* browse_text = AddBrowseButton(text, "BrowseDestTextButton");
  AddRadioGroup(text, "BrowseDestTextGroup", tr("File Type"), QRect(16, 57, 185, 96),
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
  edit9_ = AddBox(dbase, "Edit9", tr("Destination Table"), 24);
  auto* browse_dbase = AddBrowseButton(dbase, "BrowseDestdBaseTable");
  dest_tabs_->addTab(dbase, tr("dBase"));

  auto* paradox = new QWidget;
  paradox->setObjectName(QStringLiteral("DestParadoxTab"));
  edit10_ = AddBox(paradox, "Edit10", tr("Destination Table"), 24);
  auto* browse_paradox = AddBrowseButton(paradox, "BrowseDestParadoxButton");
  dest_tabs_->addTab(paradox, tr("Paradox"));

  auto* access = new QWidget;
  access->setObjectName(QStringLiteral("DestAccessTab"));
  edit11_ = AddBox(access, "Edit11", tr("Destination Database"), 24);
  auto* browse_access = AddBrowseButton(access, "BrowseDestAccessButton");
  edit5_ = AddBox(access, "Edit5", tr("Password"), 64, true);
  AddRadioGroup(access, "DestAccessVersionGroup", tr("Database version"), QRect(16, 105, 409, 40),
                {tr("Access 97"), tr("Access 2000")}, 2, &dest_access_version_);
  dest_access_version_->button(0)->setChecked(true);
  dest_access_group_ = access->findChild<QGroupBox*>(QStringLiteral("DestAccessVersionGroup"));
  combo3_ = AddTableCombo(access, "ComboBox3", tr("Destination Table"), 177);
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
  edit19_ = AddBox(server, "Edit19", tr("Destination Database"), 24);
  edit20_ = AddBox(server, "Edit20", tr("User Name"), 64);
  edit21_ = AddBox(server, "Edit21", tr("Password"), 104, true);
  combo4_ = AddTableCombo(server, "ComboBox4", tr("Destination Table"), 168);
  dest_tabs_->addTab(server, tr("Oracle"));

  connect(browse_text, &QPushButton::clicked, this, &MainForm::BrowseDestTextButtonClick);
  connect(browse_dbase, &QPushButton::clicked, this, [this] {
    BrowseDestFile(edit9_, "dbf", tr("Select destination table"), kDBaseFilters);
  });
  connect(browse_paradox, &QPushButton::clicked, this, [this] {
    BrowseDestFile(edit10_, "db", tr("Select destination table"), kParadoxFilters);
  });
  connect(browse_access, &QPushButton::clicked, this, [this] {
    BrowseDestFile(edit11_, "mdb", tr("Select destination database"), kAccessFilters);
  });
  // Any change of selection, by mouse, keyboard, code or the accessibility bus.
  connect(dest_type_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) BrowseDestTextGroupClick();
  });
  connect(edit8_, &QLineEdit::textChanged, this, [this](const QString& path) {
    edit7_->setText(QString::fromStdString(HtmlTitleForFile(path.toStdString())));
  });
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

void MainForm::BrowseSourceFile(QLineEdit* box, const QString& suffix, const QString& title,
                                const QStringList& filters) {
  open_dialog_.default_suffix = suffix;
  const FileDialogRequest request{false, title, filters, 0, suffix, box->text(), false};
  if (const auto answer = dialogs_->ChooseFile(this, request)) box->setText(answer->path);
}

void MainForm::BrowseDestTextButtonClick() {
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

void MainForm::BrowseDestFile(QLineEdit* box, const QString& suffix, const QString& title,
                              const QStringList& filters) {
  save_dialog_.default_suffix = suffix;
  const FileDialogRequest request{true,        title, filters, 0, suffix, box->text(),
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

void MainForm::SetTableLister(TDataKind kind, TableLister lister) {
  (kind == dkAccess ? access_lister_ : server_lister_) = std::move(lister);
}

// ComboBox1Enter to ComboBox4Enter: the list is read again from the database each time
// the focus enters the box. The box keeps the text it had.
void MainForm::FillTableList(QComboBox* combo, TDataKind kind, bool source) {
  const JobDescription description = Describe();
  EndDescription end = source ? description.source : description.destination;
  end.kind = kind;
  const TableLister& lister = kind == dkAccess ? access_lister_ : server_lister_;
  // Refilling the list moves the box's text; the text and the SQL that follows it stay.
  const QString text = combo->currentText();
  auto refill = [combo, &text](const QStringList& items, bool enabled) {
    const QSignalBlocker quiet(combo);
    combo->clear();
    combo->addItems(items);
    if (!enabled)
      if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
        for (int i = 0; i < model->rowCount(); ++i) model->item(i)->setEnabled(false);
    combo->setEditText(text);
  };
  if (!lister) {
    refill({tr("Listing %1 tables is not available yet: type the table's name")
                .arg(kind == dkAccess ? tr("Access") : tr("server"))},
           false);
    return;
  }
  // The description of the end that belongs to this combo box, whatever tab is active.
  if (kind == dkAccess) {
    end.database = (source ? edit4_ : edit11_)->text().toStdString();
    end.password = (source ? edit6_ : edit5_)->text().toStdString();
    end.dao_version = DaoVersion(source ? source_access_version_ : dest_access_version_);
  } else {
    end.database = (source ? edit15_ : edit19_)->text().toStdString();
    end.user = (source ? edit16_ : edit20_)->text().toStdString();
    end.password = (source ? edit17_ : edit21_)->text().toStdString();
  }
  // Entering the box is no request to open a database that is not named yet, or not
  // made yet (the Access tab's "create" box): the list stays empty, without a box.
  if (end.database.empty() || (kind == dkAccess && !QFileInfo::exists(QString::fromStdString(end.database)))) {
    refill({}, true);
    return;
  }
  // A database that cannot be opened is said once for the same entries: walking the
  // pages back and forth enters the box again and would raise the same box again.
  const QString entries = QString::fromStdString(end.database + '\n' + end.user + '\n' +
                                                 end.password + '\n' + end.dao_version);
  QString& failed = list_failures_[combo];
  std::vector<std::string> names;
  try {
    WaitCursor wait;
    names = lister(end);
  } catch (const std::exception& e) {
    const QString message = QString::fromStdString(e.what());
    refill({message}, false);
    if (failed != entries) ShowListErrorBox(message);
    failed = entries;
    return;
  }
  failed.clear();
  QStringList items;
  for (const std::string& name : names) items << QString::fromStdString(name);
  refill(items, true);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    // Focus that comes back with the window or from the box's own list is no entry.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (watched == combo1_) FillTableList(combo1_, dkAccess, true);
      if (watched == combo3_) FillTableList(combo3_, dkAccess, false);
      if (watched == combo2_) FillTableList(combo2_, dkOracle, true);
      if (watched == combo4_) FillTableList(combo4_, dkOracle, false);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

JobDescription MainForm::Describe() const {
  JobDescription d;
  EndDescription& s = d.source;
  auto str = [](const QString& text) { return text.toStdString(); };
  switch (source_tabs_->currentIndex()) {
    case 0:
      s.kind = source_type_->checkedId() == 0   ? dkCsv
               : source_type_->checkedId() == 1 ? dkText
                                                : dkUnknown;
      s.file = str(edit1_->text());
      break;
    case 1:
      s.kind = dkDBase;
      s.file = str(edit2_->text());
      s.sql = str(memo2_->toPlainText());
      break;
    case 2:
      s.kind = dkParadox;
      s.file = str(edit3_->text());
      s.sql = str(memo3_->toPlainText());
      break;
    case 3:
      s.kind = dkAccess;
      s.database = str(edit4_->text());
      s.dao_version = DaoVersion(source_access_version_);
      s.password = str(edit6_->text());
      s.table = str(combo1_->currentText());
      s.sql = str(memo4_->toPlainText());
      break;
    case 4:
      s.kind = dkOracle;
      s.database = str(edit15_->text());
      s.user = str(edit16_->text());
      s.password = str(edit17_->text());
      s.table = str(combo2_->currentText());
      s.sql = str(memo5_->toPlainText());
      break;
  }
  d.if_exists = if_exists_->checkedId() == 1 ? IfExists::kReplace : IfExists::kAppend;
  EndDescription& t = d.destination;
  switch (dest_tabs_->currentIndex()) {
    case 0: {
      static constexpr TDataKind kTypes[] = {dkCsv, dkText, dkHtml};
      const int type = dest_type_->checkedId();
      t.kind = type >= 0 ? kTypes[type] : dkUnknown;
      t.file = str(edit8_->text());
      d.html_title = str(edit7_->text());
      d.html_banner = str(edit12_->text());
      d.clipboard = clipboard_check_->isChecked();
      break;
    }
    case 1:
      t.kind = dkDBase;
      t.file = str(edit9_->text());
      break;
    case 2:
      t.kind = dkParadox;
      t.file = str(edit10_->text());
      break;
    case 3:
      t.kind = dkAccess;
      t.database = str(edit11_->text());
      t.dao_version = DaoVersion(dest_access_version_);
      t.password = str(edit5_->text());
      t.table = str(combo3_->currentText());
      t.create_database = create_database_check_->isChecked();
      break;
    case 4:
      t.kind = dkOracle;
      t.database = str(edit19_->text());
      t.user = str(edit20_->text());
      t.password = str(edit21_->text());
      t.table = str(combo4_->currentText());
      break;
  }
  return d;
}

}  // namespace trundle

// What the source and destination pages' entries describe: the job, and the table lists
// their database tabs read from the databases they name.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>

#include "front/field_plan.h"
#include "front/kinds.h"
#include "ui/main_form.h"
#include "ui/recent_files.h"
#include "ui/run_page.h"

namespace trundle {
namespace {

// Restores the cursor however the list handler is left.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

std::string DaoVersion(const QButtonGroup* group) {
  switch (group->checkedId()) {
    case 0:
      return "dao35";
    case 1:
      return "dao36";
    default:
      return "";
  }
}

}  // namespace

// A reject file with no destination file to lie beside (a server's table, the
// clipboard) goes in the current folder, where the file dialogs open and trundle-cli
// puts it, unless the window was started in a folder it cannot write (a launcher may
// start it in /): then in the home folder.
std::string FolderForFiles() {
  const QString current = QDir::currentPath();
  return (QFileInfo(current).isWritable() ? current : QDir::homePath()).toStdString();
}

bool IsDatabaseFile(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared && declared->Can(kaHoldsTables) && !declared->extensions.empty();
}

void MainForm::SetTableLister(TDataKind kind, TableLister lister) {
  listers_[kind] = std::move(lister);
}

// ComboBox1Enter to ComboBox4Enter, and the declared tabs' table boxes: the list is read
// again from the database each time the focus enters the box. The box keeps its text.
void MainForm::FillTableList(QComboBox* combo, TDataKind kind, bool source) {
  const JobDescription description = Describe();
  EndDescription end = source ? description.source : description.destination;
  end.kind = kind;
  const auto found = listers_.find(kind);
  const TableLister lister = found == listers_.end() ? TableLister() : found->second;
  // Refilling the list moves the box's text; the text and the SQL that follows it stay.
  const QString text = combo->currentText();
  // A source's list starts with the entry that moves every table; it stays choosable when
  // the tables cannot be listed, and the run then says why the database cannot be read.
  auto refill = [combo, &text, source](const QStringList& items, bool enabled) {
    const QSignalBlocker quiet(combo);
    combo->clear();
    const int first = source ? 1 : 0;
    if (source) combo->addItem(AllTablesEntry());
    combo->addItems(items);
    if (!enabled)
      if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
        for (int i = first; i < model->rowCount(); ++i) model->item(i)->setEnabled(false);
    combo->setEditText(text);
  };
  if (!lister) {
    // A build without the kind has no declaration to take its title from.
    const QString title = kind == dkAccess   ? tr("Access")
                          : kind == dkOracle ? tr("server")
                                             : QString::fromUtf8(KindTitle(kind));
    refill({tr("Listing %1 tables is not available yet: type the table's name").arg(title)}, false);
    return;
  }
  // The description of the end that belongs to this combo box, whatever tab is active.
  if (const DeclaredTab* tab = FindDeclaredTab(combo)) {
    end = EndDescription{};
    end.kind = kind;
    end.database = tab->database->text().toStdString();
  } else if (kind == dkAccess) {
    end.database = (source ? edit4_ : edit11_)->text().toStdString();
    end.password = (source ? edit6_ : edit5_)->text().toStdString();
    end.dao_version = DaoVersion(source ? source_access_version_ : dest_access_version_);
  } else {
    end.database = (source ? edit15_ : edit19_)->text().toStdString();
    end.user = (source ? edit16_ : edit20_)->text().toStdString();
    end.password = (source ? edit17_ : edit21_)->text().toStdString();
  }
  // Entering the box is no request to open a database that is not named yet, or not
  // made yet (the Access tab's "create" box, a SQLite database the run creates): the
  // list stays empty, without a box.
  if (end.database.empty() ||
      (IsDatabaseFile(kind) && !QFileInfo::exists(QString::fromStdString(end.database)))) {
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
      auto* combo = qobject_cast<QComboBox*>(watched);
      if (const auto box = table_boxes_.constFind(combo); combo && box != table_boxes_.cend())
        FillTableList(combo, box->kind, box->source);
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
    default:
      if (const DeclaredTab* tab = FindDeclaredTab(true, source_tabs_->currentIndex())) {
        s.kind = tab->kind;
        s.database = str(tab->database->text());
        s.table = str(tab->table->currentText());
        if (tab->sql) s.sql = str(tab->sql->toPlainText());
      }
      break;
  }
  d.if_exists = run_page_->if_exists()->checkedId() == 1 ? IfExists::kReplace : IfExists::kAppend;
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
      t.create_table = create_table_check_->isChecked();
      break;
    default:
      if (const DeclaredTab* tab = FindDeclaredTab(false, dest_tabs_->currentIndex())) {
        t.kind = tab->kind;
        t.database = str(tab->database->text());
        t.table = str(tab->table->currentText());
      }
      break;
  }
  // The reject file is named only for a run that may write one.
  if (run_page_->on_error()->checkedId() == 1) {
    d.on_error = TOnError::kSkip;
    d.reject_file = RejectFileBesideDestination(d, FolderForFiles());
  }
  if (SameSourceTable(d.source, field_map_for_)) d.field_map = field_map_;
  ApplyOpenedSettings(d);
  return d;
}

// A file of the recent list back in the box of its kind's tab, on its end's page, as if
// browsed for.
void MainForm::OpenRecentFile(const RecentFile& file) {
  // A source must be there to be read; a destination may be made again.
  if (file.source && !QFileInfo::exists(file.path)) {
    RecentFiles::Remove(file);
    dialogs_->ShowMessage(this, windowTitle(),
                          tr("%1 is no longer there; it leaves the list.").arg(file.path));
    return;
  }
  const bool source = file.source;
  const TDataKind kind = KindOfLocation(file.path.toStdString()).value_or(dkUnknown);
  QTabWidget* tabs = source ? source_tabs_ : dest_tabs_;
  QLineEdit* box = nullptr;
  int index = -1;
  switch (kind) {
    case dkCsv:
    case dkText:
    case dkHtml: {
      QButtonGroup* type = source ? source_type_ : dest_type_;
      const int id = kind == dkCsv ? 0 : kind == dkText ? 1 : 2;
      if (type->button(id)) {
        index = 0;
        box = source ? edit1_ : edit8_;
        type->button(id)->setChecked(true);
      }
      break;
    }
    case dkDBase:
      index = 1;
      box = source ? edit2_ : edit9_;
      break;
    case dkParadox:
      index = 2;
      box = source ? edit3_ : edit10_;
      break;
    case dkAccess:
      index = 3;
      box = source ? edit4_ : edit11_;
      break;
    default:
      for (const DeclaredTab& tab : source ? source_declared_ : dest_declared_)
        if (tab.kind == kind) index = tab.index, box = tab.database;
  }
  if (!box) {
    dialogs_->ShowMessage(this, windowTitle(),
                          tr("%1 is no kind of file this version can open as a %2.")
                              .arg(file.path, source ? tr("source") : tr("destination")));
    return;
  }
  tabs->setCurrentIndex(index);
  box->setText(file.path);
  ShowPage(source ? 1 : 2);
}

// After a run that moved records: its source's and destination's files, where they are
// files, go to the top of the recent list, the source first.
void MainForm::RememberRunFiles(const JobDescription& description) {
  if (!destination_path_.isEmpty()) RecentFiles::Add({false, destination_path_});
  const EndDescription& end = description.source;
  const QFileInfo source(QString::fromStdString(IsFileKind(end.kind) ? end.file : end.database));
  if (!source.filePath().isEmpty() && source.isFile())
    RecentFiles::Add({true, source.absoluteFilePath()});
}

}  // namespace trundle

// Whole databases in the window: the "(all tables)" entry that heads a database source's
// table lists, the destination page that then asks for a database or a folder, and the
// run of every table through WholeDatabaseRun with a line per table on the run page.
//
// The run is made on this thread with one table at a time, as a single table's run is:
// its callbacks let Qt process pending events, so the window stays painted and answers
// Stop, Close and the menu, and no widget is touched from another thread.
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>

#include "front/kinds.h"
#include "front/register_adaptors.h"
#include "front/run_sequence.h"
#include "front/whole_database.h"
#include "ui/gauge.h"
#include "ui/main_form.h"
#include "ui/run_page.h"

namespace trundle {
namespace {

enum Column { kTable, kRecords, kProgress, kOutcome };

// The label above a box keeps its designed caption in a property, so that leaving the
// whole-database mode gives it back.
void SetCaption(QLabel* label, const QString& whole, bool on) {
  if (!label) return;
  if (!label->property("designedText").isValid()) label->setProperty("designedText", label->text());
  label->setText(on ? whole : label->property("designedText").toString());
}

bool SamePath(const std::string& a, const std::string& b) {
  const QFileInfo fa(QString::fromStdString(a)), fb(QString::fromStdString(b));
  if (fa.exists() && fb.exists()) return fa.canonicalFilePath() == fb.canonicalFilePath();
  return fa.absoluteFilePath() == fb.absoluteFilePath();
}

QString OutcomeText(const TableResult& r) {
  switch (r.outcome) {
    case TableOutcome::kMoved:
      return r.records_rejected == 0 ? MainForm::tr("moved")
                                     : MainForm::tr("set aside: %1 of %2 records in %3")
                                           .arg(r.records_rejected)
                                           .arg(r.records_read)
                                           .arg(QString::fromStdString(r.reject_file));
    case TableOutcome::kDiffers:
      return MainForm::tr("differs: %1").arg(QString::fromStdString(r.error));
    case TableOutcome::kStopped:
      return MainForm::tr("stopped");
    case TableOutcome::kFailed:
      break;
  }
  return MainForm::tr("failed: %1").arg(QString::fromStdString(r.error));
}

}  // namespace

QString MainForm::AllTablesEntry() { return tr("(all tables)"); }

bool MainForm::WholeDatabaseChosen() const {
  const QComboBox* box = nullptr;
  switch (source_tabs_->currentIndex()) {
    case 3:
      box = combo1_;
      break;
    case 4:
      box = combo2_;
      break;
    default:
      if (const DeclaredTab* tab = FindDeclaredTab(true, source_tabs_->currentIndex()))
        box = tab->table;
  }
  return box && box->currentText().trimmed() == AllTablesEntry();
}

void MainForm::ConnectWholeDatabase() {
  for (auto box = table_boxes_.cbegin(); box != table_boxes_.cend(); ++box)
    if (box->source)
      connect(const_cast<QComboBox*>(box.key()), &QComboBox::editTextChanged, this,
              &MainForm::FollowWholeDatabase);
  connect(source_tabs_, &QTabWidget::currentChanged, this, &MainForm::FollowWholeDatabase);
  // A per-table list above a shorter log, shown for a whole database's run only.
  QWidget* page = run_page_->log()->parentWidget();
  table_list_ = new QTreeWidget(page);
  table_list_->setObjectName(QStringLiteral("TableList"));
  table_list_->setAccessibleName(tr("Tables"));
  table_list_->setHeaderLabels({tr("Table"), tr("Records"), tr("Done"), tr("Outcome")});
  table_list_->setRootIsDecorated(false);
  table_list_->setGeometry(Px(16), Px(122), Px(465), Px(70));
  table_list_->header()->resizeSection(kTable, Px(120));
  table_list_->header()->resizeSection(kRecords, Px(70));
  table_list_->header()->resizeSection(kProgress, Px(45));
  table_list_->hide();
}

void MainForm::FollowWholeDatabase() {
  const bool on = WholeDatabaseChosen();
  auto label = [this](const char* name) { return findChild<QLabel*>(QLatin1String(name)); };
  SetCaption(label("Label12"),
             tr("Select where every table goes: a database, or a folder that gets a file "
                "for each table."),
             on);
  SetCaption(label("Edit8Label"), tr("Destination Folder (a file for each table)"), on);
  SetCaption(label("Edit9Label"), tr("Destination Folder (a dBase table for each table)"), on);
  SetCaption(label("Edit10Label"), tr("Destination Folder (a Paradox table for each table)"), on);
  // Each table keeps its own name in a destination database: the table box has no say.
  std::vector<QComboBox*> tables = {combo3_, combo4_};
  for (const DeclaredTab& t : dest_declared_) tables.push_back(t.table);
  for (QComboBox* box : tables) {
    box->setEnabled(!on);
    SetCaption(
        qobject_cast<QLabel*>(box->parentWidget()->findChild<QLabel*>(box->objectName() + "Label")),
        tr("Destination Table (each table keeps its own name)"), on);
  }
}

bool MainForm::BrowseDestFolder(QLineEdit* box) {
  if (!WholeDatabaseChosen()) return false;
  FileDialogRequest request;
  request.save = true;
  request.title = tr("Select destination folder");
  request.initial_file = box->text();
  request.folder = true;
  if (const auto answer = dialogs_->ChooseFile(this, request)) box->setText(answer->path);
  return true;
}

QString MainForm::DescribeWholeDatabase(const JobDescription& d, WholeDatabaseOptions& o) const {
  const QString dest_page = tr("on the Destination page");
  const EndDescription& s = d.source;
  const EndDescription& t = d.destination;
  if (s.database.empty()) return tr("Fill in the source database on the Source Data page");
  if (dest_tabs_->currentIndex() == 0 && d.clipboard)
    return tr("The clipboard holds one table, not a whole database: clear Copy To Clipboard "
              "and name a folder for the tables' files %1")
        .arg(dest_page);
  if (t.kind == dkHtml)
    return tr("An HTML page shows one table, not a whole database: choose Comma delimited or "
              "Tab delimited and name a folder for the tables' files %1")
        .arg(dest_page);
  if (t.kind == dkUnknown)
    return tr("Choose the destination files' type, Comma delimited or Tab delimited, %1")
        .arg(dest_page);
  const bool folder = IsFileKind(t.kind);
  if (folder) {
    const QFileInfo where(QString::fromStdString(t.file));
    if (t.file.empty())
      return tr("Fill in the destination folder %1: each table becomes a file in it")
          .arg(dest_page);
    if (where.exists() && !where.isDir())
      return tr("The destination %1 is a file; a whole database goes into a folder, a file "
                "for each table")
          .arg(where.filePath());
  } else {
    if (t.database.empty()) return tr("Fill in the destination database %1").arg(dest_page);
    if (t.kind == s.kind &&
        (IsDatabaseFile(t.kind) ? SamePath(t.database, s.database) : t.database == s.database))
      return tr("The destination database %1 is the source database: choose another %2")
          .arg(QString::fromStdString(t.database), dest_page);
  }
  o.source = s;
  o.source.table.clear();
  o.source.sql.clear();
  o.destination = t;
  o.destination.table.clear();
  o.if_exists = d.if_exists;
  o.on_error = d.on_error;
  o.jobs = 1;
  // Records set aside go beside what the run writes: in the destination folder, beside
  // the database file, or where a single run's would go.
  if (folder)
    o.reject_folder = t.file;
  else if (IsDatabaseFile(t.kind))
    o.reject_folder = QFileInfo(QString::fromStdString(t.database)).absolutePath().toStdString();
  else
    o.reject_folder = FolderForFiles();
  return {};
}

void MainForm::ShowTableRows(const WholeDatabaseRun& run) {
  table_list_->clear();
  for (const std::string& table : run.Tables()) {
    auto* row = new QTreeWidgetItem(table_list_);
    row->setText(kTable, QString::fromStdString(table));
    row->setText(kRecords, QStringLiteral("0"));
    row->setText(kProgress, QStringLiteral("0%"));
    row->setText(kOutcome, tr("waiting"));
    row->setToolTip(kTable, QString::fromStdString(run.DestinationOf(table)));
  }
  table_list_->show();
  run_page_->log()->setGeometry(Px(16), Px(194), Px(465), Px(42));
}

void MainForm::ShowTableProgress(const std::string& table, int percent, int64_t records) {
  const QList<QTreeWidgetItem*> rows =
      table_list_->findItems(QString::fromStdString(table), Qt::MatchExactly, kTable);
  if (rows.isEmpty()) return;
  QTreeWidgetItem* row = rows.front();
  row->setText(kRecords, QString::number(records));
  row->setText(kProgress, QStringLiteral("%1%").arg(percent));
  row->setText(kOutcome, tr("moving"));
  table_list_->scrollToItem(row);
  // The gauge shows the whole run: the tables before this one, and this one's share.
  const int count = table_list_->topLevelItemCount();
  if (count > 0)
    run_page_->gauge()->SetPosition((table_list_->indexOfTopLevelItem(row) * 100 + percent) /
                                    count);
  QCoreApplication::processEvents();
}

void MainForm::ShowTableOutcome(const TableResult& result) {
  const QList<QTreeWidgetItem*> rows =
      table_list_->findItems(QString::fromStdString(result.table), Qt::MatchExactly, kTable);
  if (rows.isEmpty()) return;
  QTreeWidgetItem* row = rows.front();
  row->setText(kRecords, QString::number(result.records_moved));
  if (result.outcome == TableOutcome::kMoved) row->setText(kProgress, QStringLiteral("100%"));
  row->setText(kOutcome, OutcomeText(result));
  row->setToolTip(kOutcome, OutcomeText(result));
  QCoreApplication::processEvents();
}

void MainForm::RunWholeDatabase(const JobDescription& description) {
  WholeDatabaseOptions options;
  if (const QString why = DescribeWholeDatabase(description, options); !why.isEmpty()) {
    RefuseRun(why);
    return;
  }
  WholeDatabaseRun run(options);
  if (const std::string why = run.Plan(); !why.empty()) {
    RefuseRun(QString::fromStdString(why));
    return;
  }
  ShowTableRows(run);
  const bool had_focus = BeginRunControls();
  whole_ = &run;
  // The last line of the run itself: the cause when it ends before any table (a folder
  // that cannot be made).
  std::string last_run_line;
  run.OnMessage = [this, &last_run_line](const std::string& table, const std::string& line) {
    if (table.empty()) last_run_line = line;
    MessageCallback(table.empty() ? line : "[" + table + "] " + line);
  };
  run.OnProgress = [this](const std::string& table, int percent, int64_t records) {
    ShowTableProgress(table, percent, records);
  };
  run.OnTableFinished = [this](const TableResult& result) { ShowTableOutcome(result); };
  int failed = 0;
  QString error;
  try {
    failed = run.Run();
  } catch (const std::exception& e) {
    error = QString::fromStdString(e.what());
    MessageCallback(e.what());
  }
  whole_ = nullptr;
  // Tables a Stop kept from beginning have no callback of their own: every line is
  // brought to its table's result.
  for (const TableResult& r : run.Results())
    if (!r.table.empty()) ShowTableOutcome(r);
  const TablesTally tally = TallyTables(run.Results());
  const int64_t set_aside = tally.set_aside;
  QStringList lost;
  for (const TableResult& r : run.Results())
    if (r.outcome != TableOutcome::kMoved)
      lost << QStringLiteral("%1: %2").arg(QString::fromStdString(r.table), OutcomeText(r));
  run_page_->speed_note()->setText(
      tr("%1 of %2 tables moved").arg(tally.moved).arg(static_cast<int>(run.Tables().size())));
  if (failed < 0 && error.isEmpty()) error = QString::fromStdString(last_run_line);
  if (error.isEmpty() && !lost.isEmpty())
    error = tr("These tables did not arrive whole:\n%1").arg(lost.join(QLatin1Char('\n')));
  if (failed == 0) run_page_->gauge()->SetPosition(100);
  EndRunControls(had_focus);
  if (!error.isEmpty() && !close_after_run_) ShowErrorBox(error);
  if (error.isEmpty() && set_aside > 0 && !close_after_run_)
    dialogs_->ShowMessage(this, windowTitle(),
                          tr("Every table arrived, but %1 records were set aside; the log "
                             "names each table's reject file.")
                              .arg(set_aside));
  if (close_after_run_) close();
}

}  // namespace trundle

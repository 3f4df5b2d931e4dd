// The run page's work: the Trundle button, the log and the gauge, what to do with a record the
// destination refuses, the run's pace and what it set aside; About, Read Me and closing.
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include "engine/locale_format.h"
#include "front/kinds.h"
#include "front/register_adaptors.h"
#include "front/run_sequence.h"
#include "front/whole_database.h"
#include "ui/gauge.h"
#include "ui/main_form.h"
#include "ui/run_page.h"

namespace trundle {

void MainForm::BuildRunPage(RunPage* page) {
  run_page_ = page;
  page->Build(controls_, ReadyHint());
  connect(run_page_->trundle_button(), &QPushButton::clicked, this, &MainForm::TrundleButtonClick);
  connect(run_page_->stop_button(), &QPushButton::clicked, this, [this] {
    if (job_) job_->RequestStop();
    if (whole_) whole_->Stop();
  });
  connect(run_page_->if_exists(), &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) ShowDestinationNote();
  });
  connect(run_page_->open_rejects_button(), &QPushButton::clicked, this,
          &MainForm::OpenRejectFileClick);
  connect(run_page_->open_destination_button(), &QPushButton::clicked, this,
          &MainForm::OpenDestinationClick);
}

QString MainForm::ReadyHint() {
  return tr("Ready to perform the data move. Click the Trundle button to begin.");
}

void MainForm::TrundleButtonClick() {
  // Events processed inside the callbacks may deliver a second click; one run at a time.
  if (running_) return;
  const JobDescription description = Describe();
  run_page_->log()->clear();
  // The last run's notes go with its log, also when this one is refused.
  run_page_->speed_note()->clear();
  run_page_->reject_note()->hide();
  run_page_->open_rejects_button()->hide();
  reject_path_.clear();
  run_page_->open_destination_button()->hide();
  destination_path_.clear();
  if (const std::string missing = MissingKindMessage(description); !missing.empty()) {
    ShowErrorBox(QString::fromStdString(missing));
    return;
  }
  // The per-table lines belong to a whole database's run, shown once it is planned.
  table_list_->hide();
  run_page_->log()->setGeometry(Px(16), Px(122), Px(465), Px(114));
  if (WholeDatabaseChosen()) {
    RunWholeDatabase(description);
    return;
  }
  if (const QString missing = MissingEntry(description); !missing.isEmpty()) {
    RefuseRun(missing);
    return;
  }
  // Refused before anything is opened: a run would read the file it is writing.
  if (const std::string same = SameAsSourceMessage(description); !same.empty()) {
    RefuseRun(QString::fromStdString(same));
    return;
  }
  // A saved transfer told to fail on an existing destination holds in the window too.
  if (const std::string there = ExistingDestinationRefusal(description); !there.empty()) {
    RefuseRun(QString::fromStdString(there));
    return;
  }
  const bool had_focus = BeginRunControls();
  QString error;
  QString set_aside;
  {
    RunSequence run(description);
    job_ = &run.job();
    run.OnMessage = [this](const std::string& message) { MessageCallback(message); };
    run.OnProgress = [this](int32_t percent) { ProgressCallback(percent); };
    run.OnNote = [this](const std::string& line) { MessageCallback(line); };
    run.OnEnded = [&](const RunResult&) {
      set_aside = ShowRunResult(run.job());
      ShowDestinationButton(description, run.job());
      if (run.job().records_moved() > 0) RememberRunFiles(description);
    };
    // A run that failed, stopped reading on an error (a partial copy) or opened nothing
    // says why in a box, not only in the log.
    error = QString::fromStdString(run.Run().error);
    job_ = nullptr;
  }
  EndRunControls(had_focus);
  if (!error.isEmpty() && !close_after_run_) ShowErrorBox(error);
  // A run that set records aside has not moved the whole table: it ends with a box that
  // says so, where a clean run ends quietly.
  if (error.isEmpty() && !close_after_run_ && !set_aside.isEmpty())
    dialogs_->ShowMessage(this, windowTitle(), set_aside);
  if (close_after_run_) close();
}

bool MainForm::BeginRunControls() {
  // The note may be older than the file: said again as the run starts.
  ShowDestinationNote();
  // Disabling the button moves the focus on to Back4; a keyboard user who started the
  // run gets it back on Trundle, not on a button that leaves the page.
  const bool had_focus = run_page_->trundle_button()->hasFocus();
  run_page_->trundle_button()->setEnabled(false);
  // Back would leave a run that goes on behind the source page, whose entries no longer
  // say what is being moved: the run page stays until the run ends or is stopped.
  buttons_[3].back->setEnabled(false);
  run_page_->hint()->setText(tr("The data move is running. Click Stop to end it."));
  run_page_->stop_button()->setEnabled(true);
  run_page_->on_error_group()->setEnabled(false);
  speed_ = RunSpeed();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  running_ = true;
  stop_requested_ = false;
  run_page_->gauge()->SetPosition(0);
  return had_focus;
}

void MainForm::EndRunControls(bool had_focus) {
  running_ = false;
  QApplication::restoreOverrideCursor();
  run_page_->trundle_button()->setEnabled(true);
  run_page_->stop_button()->setEnabled(false);
  run_page_->on_error_group()->setEnabled(true);
  buttons_[3].back->setEnabled(true);
  run_page_->hint()->setText(ReadyHint());
  if (had_focus && notebook1_->currentIndex() == 3) run_page_->trundle_button()->setFocus();
}

namespace {

QString Records(int64_t count) {
  return count == 1 ? MainForm::tr("1 record") : MainForm::tr("%1 records").arg(count);
}

}  // namespace

QString MainForm::ShowRunResult(const TTrundle& job) {
  const char separator = CurrentLocaleFormats()->decimal_separator;
  // A run that opened nothing, or failed, has no pace to tell; the log says what it did.
  const bool ran =
      job.outcome() != TRunOutcome::kNotRun && job.outcome() != TRunOutcome::kNotOpened;
  run_page_->speed_note()->setText(
      ran ? QString::fromStdString(TotalsText(job.records_moved(), job.records_read(),
                                              job.elapsed_seconds(), separator))
          : QString());
  // Records set aside by a run that then failed are in the file all the same.
  if (job.records_rejected() == 0) return {};
  reject_path_ = QString::fromStdString(job.RejectFilePath);
  const QString text = tr("%1 set aside in %2").arg(Records(job.records_rejected()), reject_path_);
  // The path shortened in its middle where it does not fit; the whole in the tip and for
  // screen readers.
  const QString lead = tr("%1 set aside in ").arg(Records(job.records_rejected()));
  const QFontMetrics metrics(run_page_->reject_note()->font());
  run_page_->reject_note()->setText(lead + metrics.elidedText(reject_path_, Qt::ElideMiddle,
                                                              run_page_->reject_note()->width() -
                                                                  metrics.horizontalAdvance(lead)));
  run_page_->reject_note()->setToolTip(text);
  run_page_->reject_note()->setAccessibleName(text);
  run_page_->reject_note()->show();
  run_page_->open_rejects_button()->show();
  return tr("%1 moved and %2 set aside in\n%3\nMend that file and load it again to move the rest.")
      .arg(Records(job.records_moved()), Records(job.records_rejected()), reject_path_);
}

void MainForm::OpenRejectFileClick() {
  if (dialogs_->OpenWithDesktop(reject_path_)) return;
  dialogs_->ShowMessage(this, windowTitle(),
                        tr("No program on this desktop opens comma-delimited files. The "
                           "reject file is:\n%1")
                            .arg(reject_path_));
}

// The destination's file (a table file, or the database file holding the table), when the
// run put records in it; a server or the clipboard has none to open.
void MainForm::ShowDestinationButton(const JobDescription& description, const TTrundle& job) {
  if (job.records_moved() == 0 || description.clipboard) return;
  const std::string& path = IsFileKind(description.destination.kind)
                                ? description.destination.file
                                : description.destination.database;
  const QFileInfo file(QString::fromStdString(path));
  if (path.empty() || !file.isFile()) return;
  destination_path_ = file.absoluteFilePath();
  run_page_->open_destination_button()->setToolTip(destination_path_);
  run_page_->open_destination_button()->show();
}

// The file with the program the desktop gives its kind; failing that, the folder that
// holds it, so that the user finds it; failing both, where it is.
void MainForm::OpenDestinationClick() {
  if (dialogs_->OpenWithDesktop(destination_path_)) return;
  const QString folder = QFileInfo(destination_path_).absolutePath();
  if (dialogs_->OpenWithDesktop(folder)) return;
  dialogs_->ShowMessage(this, windowTitle(),
                        tr("No program on this desktop opens the destination or its folder. "
                           "It is:\n%1")
                            .arg(destination_path_));
}

void MainForm::MessageCallback(const std::string& message) {
  QString text = QString::fromStdString(message);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  run_page_->log()->appendPlainText(text);
  QCoreApplication::processEvents();
}

void MainForm::ProgressCallback(int percent) {
  run_page_->gauge()->SetPosition(percent);
  if (job_) {
    const RunSpeed::Clock::time_point now = RunSpeed::Clock::now();
    speed_.Update(job_->records_read(), now);
    if (speed_.Due(now))
      run_page_->speed_note()->setText(QString::fromStdString(
          SpeedText(speed_.Rate(), speed_.SecondsLeft(job_->Source().RecordCount),
                    CurrentLocaleFormats()->decimal_separator)));
  }
  QCoreApplication::processEvents();
}

namespace {

// A table box still showing the placeholder names no table; a statement typed in the
// SQL box may name one instead.
bool NoTable(const EndDescription& end) {
  const QString table = QString::fromStdString(end.table).trimmed();
  return (table.isEmpty() || table == QObject::tr("<Select table>")) &&
         (end.sql.empty() || end.sql == ProposedSql(end.kind, end.table));
}

// Past the Text tab, a kind that holds tables needs its database and a table; a table
// file kind its file (or, as a source, a statement).
bool HoldsTables(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared && declared->Can(kaHoldsTables);
}

}  // namespace

QString MainForm::MissingSource(const JobDescription& d) const {
  const EndDescription& s = d.source;
  const QString source_page = tr("on the Source Data page");
  if (source_tabs_->currentIndex() == 0) {
    if (s.file.empty()) return tr("Fill in the source file %1").arg(source_page);
    if (s.kind == dkUnknown)
      return tr("Choose the source file's type, Comma delimited or Tab delimited, %1")
          .arg(source_page);
  } else if (HoldsTables(s.kind)) {
    if (s.database.empty()) return tr("Fill in the source database %1").arg(source_page);
    if (NoTable(s)) return tr("Choose or type the source table %1").arg(source_page);
  } else if (s.file.empty() && s.sql.empty()) {
    return tr("Fill in the source table %1").arg(source_page);
  }
  return {};
}

QString MainForm::MissingEntry(const JobDescription& d) const {
  if (const QString source = MissingSource(d); !source.isEmpty()) return source;
  const EndDescription& t = d.destination;
  const QString dest_page = tr("on the Destination page");
  if (dest_tabs_->currentIndex() == 0) {
    if (t.kind == dkUnknown)
      return tr("Choose the destination file's type, Comma delimited, Tab delimited or HTML, %1")
          .arg(dest_page);
    if (t.file.empty() && !(t.kind == dkText && d.clipboard))
      return tr("Fill in the destination file %1").arg(dest_page);
  } else if (HoldsTables(t.kind)) {
    if (t.database.empty()) return tr("Fill in the destination database %1").arg(dest_page);
    if (NoTable(t)) return tr("Choose or type the destination table %1").arg(dest_page);
  } else if (t.file.empty()) {
    return tr("Fill in the destination table %1").arg(dest_page);
  }
  return {};
}

void MainForm::ShowDestinationNote() {
  JobDescription description = Describe();
  const TDataKind kind = description.destination.kind;
  // A whole database meets the destination table by table: which tables are there is
  // known once the run reaches them, and each is appended to or replaced as chosen.
  if (WholeDatabaseChosen()) {
    const EndDescription& t = description.destination;
    run_page_->if_exists()->button(1)->setEnabled(CanReplace(kind));
    if (!CanReplace(kind) && run_page_->if_exists()->checkedId() == 1)
      run_page_->if_exists()->button(0)->setChecked(true);
    for (QAbstractButton* radio : run_page_->if_exists()->buttons())
      radio->setVisible(kind != dkHtml);
    run_page_->destination_note()->setText(
        tr("Every table goes to %1 by its own name; a table there already is appended to or "
           "replaced as chosen below.")
            .arg(QString::fromStdString(IsFileKind(kind) ? t.file : t.database)));
    return;
  }
  // A database file is asked; a server is not logged on to for a note: its table exists
  // or the run cannot start.
  const bool ask = IsDatabaseFile(kind);
  // The source as its own destination is no destination to append to or replace: the
  // note says what the run will say.
  const std::string same = SameAsSourceMessage(description);
  const bool exists = same.empty() && DestinationExists(description, ask);
  run_page_->if_exists()->button(1)->setEnabled(CanReplace(kind));
  if (!CanReplace(kind) && run_page_->if_exists()->checkedId() == 1)
    run_page_->if_exists()->button(0)->setChecked(true);
  for (QAbstractButton* radio : run_page_->if_exists()->buttons())
    radio->setVisible(exists && kind != dkHtml);
  description = Describe();
  run_page_->destination_note()->setText(
      QString::fromStdString(same.empty() ? ExistingDestinationNote(description, ask) : same));
}

void MainForm::RefuseRun(const QString& why) {
  MessageCallback(tr("Not started: %1").arg(why).toStdString());
  ShowErrorBox(why);
}

// A run's failure: its message as the run gave it (and the log shows it), in a plain
// box with OK.
void MainForm::ShowErrorBox(const QString& message) {
  dialogs_->ShowError(this, windowTitle(), message, false);
}

// A table list that could not be read: the box of an error the pages did not expect,
// with a stop icon and the message ended by a full stop.
void MainForm::ShowListErrorBox(const QString& message) {
  QString text = message;
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  dialogs_->ShowError(this, windowTitle(), text, true);
}

void MainForm::About1Click() {
  dialogs_->ShowMessage(
      this, windowTitle(),
      QStringLiteral("Trundle v" TRUNDLE_VERSION "\n") +
          tr("Copies one table between text, HTML, dBase, Paradox, Access, SQLite and "
             "server databases.\n"
             "Free software under the GNU Lesser General Public License 3.0 or later."));
}

// readme.txt beside the program; an installed program finds it in its share folder.
void MainForm::ReadMe1Click() {
  const QString folder = QCoreApplication::applicationDirPath();
  QString path = folder + QStringLiteral("/readme.txt");
  const QString installed = folder + QStringLiteral("/../share/doc/trundle/readme.txt");
  if (!QFileInfo::exists(path) && QFileInfo::exists(installed))
    path = QFileInfo(installed).canonicalFilePath();
  // A desktop without an opener (xdg-open) would otherwise answer the menu with nothing.
  if (dialogs_->OpenWithDesktop(path)) return;
  dialogs_->ShowMessage(this, windowTitle(),
                        QFileInfo::exists(path)
                            ? tr("No program on this desktop opens text files. The read-me "
                                 "is:\n%1")
                                  .arg(path)
                            : tr("The read-me is missing:\n%1").arg(path));
}

// Closing while a job runs would free what the job is using: the run is asked to stop,
// and the window closes once the job has returned.
bool MainForm::AskToStopRun() {
  if (stop_requested_) return true;
  if (!dialogs_->Ask(this, tr("Confirm"), tr("A transfer is running. Stop it and quit Trundle?")))
    return false;
  stop_requested_ = true;
  close_after_run_ = true;
  // The job ends at the next record boundary; the window closes when Execute returns.
  if (job_) job_->RequestStop();
  if (whole_) whole_->Stop();
  return true;
}

void MainForm::closeEvent(QCloseEvent* event) {
  if (!running_) {
    event->accept();
    return;
  }
  event->ignore();
  AskToStopRun();
}

}  // namespace trundle

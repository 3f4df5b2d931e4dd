// The run page's choice for a record the destination refuses: stopped by default, or set
// aside in a file beside the destination, with the count, the file and a button that
// opens it after the run; and the run's totals.
#include <sqlite3.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <filesystem>
#include <vector>

#include "front/job_file.h"
#include "tests/test_files.h"
#include "tests/ui/cli_log.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/recent_files.h"

namespace trundle {
namespace {

class RejectsTest : public WindowTest {
 protected:
  void CsvSource(const std::string& file) {
    Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(file));
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
  }
  void DBaseDestination(const std::string& file) {
    Get<QTabWidget>("PageControl2")->setCurrentIndex(1);
    Get<QLineEdit>("Edit9")->setText(QString::fromStdString(file));
  }
  void Run(bool skip) {
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    QTest::mouseClick(Get<QRadioButton>(skip ? "OnErrorGroupItem1" : "OnErrorGroupItem0"),
                      Qt::LeftButton);
    Click("TrundleButton");
    Click("Back4");
  }
  bool NoteShown() {
    return !Get<QLabel>("RejectNote")->isHidden() ||
           !Get<QPushButton>("OpenRejectFileButton")->isHidden();
  }
  QString Log() { return Get<QPlainTextEdit>("Memo6")->toPlainText(); }
  // What trundle-cli writes to standard output for `args`, line by line.
  QStringList Lines(const std::vector<std::string>& args) {
    QStringList lines = CliLog(dir_, args);
    for (QString& line : lines)
      if (line.endsWith('\r')) line.chop(1);
    return lines;
  }
  // The records of a table file as trundle-cli reads them, one comma-delimited line each.
  QStringList Records(const std::string& table) {
    QStringList lines = Lines({table, "-"});
    lines.removeFirst();
    return lines;
  }
  // A dBase table whose NAME field holds three bytes, made by a run of the window.
  void NarrowTable() {
    WriteFile(dir_ / "first.csv", "id,name\r\n1,Ann\r\n");
    CsvSource(dir_ / "first.csv");
    DBaseDestination(dir_ / "t.dbf");
    Run(false);
    ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
    WriteFile(dir_ / "in.csv", "id,name\r\n2,Bob\r\n3,Annabel\r\n4,Cy\r\n");
    CsvSource(dir_ / "in.csv");
  }

  ScratchFolder dir_;
};

// Set aside: the good records arrive, the file beside the table holds the bad one whole,
// the page names it and opens it through the desktop, and the run ends with a box.
TEST_F(RejectsTest, ATooLongValueIsSetAsideBesideADBaseTable) {
  EXPECT_EQ(Get<QGroupBox>("OnErrorGroup")->title(), "When a record is refused:");
  EXPECT_TRUE(Get<QRadioButton>("OnErrorGroupItem0")->isChecked()) << "Stop is the default";
  EXPECT_EQ(form_->Describe().on_error, TOnError::kStop);
  NarrowTable();
  Run(true);
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  const std::string rejects = dir_ / "t.dbf.rejects.csv";
  EXPECT_EQ(ReadFile(rejects),
            "Record,ID,NAME,Reason\r\n2,3,Annabel,\"field NAME: the value 'Annabel' takes 7 "
            "bytes, and the field holds 3\"\r\n");
  EXPECT_EQ(Records(dir_ / "t.dbf"),
            QStringList({"\"1\",\"Ann\"", "\"2\",\"Bob\"", "\"4\",\"Cy\""}));
  const QString path = QString::fromStdString(rejects);
  EXPECT_TRUE(Log().contains("1 record was set aside in " + path)) << Log().toStdString();
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_EQ(dialogs_->messages[0], "2 records moved and 1 record set aside in\n" + path +
                                       "\nMend that file and load it again to move the rest.");
  Click("Next3");
  auto* note = Get<QLabel>("RejectNote");
  EXPECT_TRUE(note->isVisible());
  EXPECT_EQ(note->toolTip(), "1 record set aside in " + path);
  EXPECT_TRUE(note->text().startsWith("1 record set aside in "));
  EXPECT_TRUE(note->text().endsWith("rejects.csv")) << note->text().toStdString();
  EXPECT_TRUE(Get<QLabel>("SpeedNote")->text().startsWith("2 records moved in 00:00:"))
      << Get<QLabel>("SpeedNote")->text().toStdString();
  Click("OpenRejectFileButton");
  EXPECT_EQ(dialogs_->opened, std::vector<QString>{path});
  // A desktop without an opener: the page says where the file is.
  dialogs_->desktop_opens = false;
  Click("OpenRejectFileButton");
  ASSERT_EQ(dialogs_->messages.size(), 2u);
  EXPECT_TRUE(dialogs_->messages[1].endsWith("\n" + path)) << dialogs_->messages[1].toStdString();
  // A run refused before it starts takes the last run's notes away with its log.
  Get<QLineEdit>("Edit9")->clear();
  Click("TrundleButton");
  EXPECT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_FALSE(NoteShown());
  EXPECT_EQ(Get<QLabel>("SpeedNote")->text(), "");
}

// Stop, the default, is the run as it always was: the long value is cut and said so,
// nothing is set aside and no file is made.
TEST_F(RejectsTest, StopCutsIntoDBaseAsBeforeAndMakesNoFile) {
  NarrowTable();
  Run(false);
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_EQ(Records(dir_ / "t.dbf").size(), 4);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.dbf.rejects.csv"));
  EXPECT_FALSE(Log().contains("set aside"));
  EXPECT_FALSE(NoteShown());
}

// What a saved transfer holds that no page shows is kept by the run: more records set
// aside than its limit end the run with an error box (not the box of a run that moved the
// rest), and "fail" on an existing destination refuses the run before it writes.
TEST_F(RejectsTest, ASavedTransfersLimitsHoldInTheWindow) {
  NarrowTable();
  JobDescription d = form_->Describe();
  d.on_error = TOnError::kSkip;
  d.max_rejects = 0;
  SaveJobFile(d, dir_ / "limit.json");
  ASSERT_TRUE(form_->OpenTransferFile(QString::fromStdString(dir_ / "limit.json")));
  Run(true);
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0], "more than 0 records were set aside; the run was stopped");
  EXPECT_TRUE(dialogs_->messages.empty()) << dialogs_->messages[0].toStdString();

  d.on_error = TOnError::kStop;
  d.max_rejects = -1;
  d.if_exists = IfExists::kFail;
  SaveJobFile(d, dir_ / "fail.json");
  const QStringList before = Records(dir_ / "t.dbf");
  ASSERT_TRUE(form_->OpenTransferFile(QString::fromStdString(dir_ / "fail.json")));
  Run(false);
  ASSERT_EQ(dialogs_->errors.size(), 2u);
  const QString note = QString::fromStdString(dir_ / "t.dbf") + " exists: the run will not start";
  EXPECT_EQ(dialogs_->errors[1], note);
  EXPECT_TRUE(Log().contains("Not started: " + note)) << Log().toStdString();
  EXPECT_EQ(Records(dir_ / "t.dbf"), before);
}

// A table that refuses a Null: stop ends the run at that record with its reason in the
// box; set aside, every other record of the batch arrives and the file lies beside the
// database. A run that sets nothing aside then leaves no file and no note.
TEST_F(RejectsTest, ARefusalIntoSqliteStopsOrIsSetAside) {
  const std::string shop = dir_ / "shop.sqlite";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(shop.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "create table t (id integer primary key, name text not null)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  WriteFile(dir_ / "in.csv", "id,name\r\n1,Ann\r\n2,\r\n3,Cy\r\n");
  CsvSource(dir_ / "in.csv");
  Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestSqliteTab"));
  Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(shop));
  Get<QComboBox>("DestSqliteTable")->setEditText("t");
  Run(false);
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].contains("NOT NULL constraint failed"))
      << dialogs_->errors[0].toStdString();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.rejects.csv"));
  EXPECT_FALSE(NoteShown());

  Run(true);
  EXPECT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(ReadFile(dir_ / "t.rejects.csv").substr(0, 30), "Record,ID,NAME,Reason\r\n2,2,,fi");
  EXPECT_EQ(Lines({"--source-table", "t", shop, "-"}),
            QStringList({"\"id\",\"name\"", "\"1\",\"Ann\"", "\"3\",\"Cy\""}));
  EXPECT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_TRUE(NoteShown());

  // Clean, with set aside still chosen: no file, no note, no box.
  std::filesystem::remove(dir_ / "t.rejects.csv");
  WriteFile(dir_ / "clean.csv", "id,name\r\n7,Di\r\n8,Ed\r\n");
  CsvSource(dir_ / "clean.csv");
  Run(true);
  EXPECT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "t.rejects.csv"));
  EXPECT_FALSE(NoteShown());
  EXPECT_TRUE(Get<QLabel>("SpeedNote")->text().startsWith("2 records moved in "));
}

// After a run that wrote a file (a table file, a database file), a button opens it with
// the desktop, or its folder when no program opens it, or says where it is; a run that
// moved nothing, or wrote to the clipboard, has nothing to open.
TEST_F(RejectsTest, TheDestinationOpensAfterARunThatWroteIt) {
  auto shown = [this] { return !Get<QPushButton>("OpenDestinationButton")->isHidden(); };
  EXPECT_FALSE(shown());
  NarrowTable();
  EXPECT_TRUE(shown());
  const QString table = QString::fromStdString(dir_ / "t.dbf");
  Click("Next3");
  Click("OpenDestinationButton");
  EXPECT_EQ(dialogs_->opened, std::vector<QString>{table});
  dialogs_->desktop_opens = false;
  Click("OpenDestinationButton");
  EXPECT_EQ(dialogs_->opened,
            (std::vector<QString>{table, table, QString::fromStdString(dir_.path())}));
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_TRUE(dialogs_->messages[0].endsWith(":\n" + table)) << dialogs_->messages[0].toStdString();
  Click("Back4");

  // Into a database: the database file.
  const std::string shop = dir_ / "shop.sqlite";
  Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestSqliteTab"));
  Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(shop));
  Get<QComboBox>("DestSqliteTable")->setEditText("t");
  Run(false);
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_TRUE(shown());
  dialogs_->desktop_opens = true;
  Click("Next3");
  Click("OpenDestinationButton");
  EXPECT_EQ(dialogs_->opened.back(), QString::fromStdString(shop));
  Click("Back4");

  // A source that is not there moves nothing: the last run's button goes.
  CsvSource(dir_ / "missing.csv");
  Run(false);
  EXPECT_FALSE(shown());
}

// The files of runs that moved records come back from File > Recent Files into the box of
// their kind on their end's page; the list keeps the newest eight once each, and a source
// that has gone leaves it.
TEST_F(RejectsTest, RecentFilesComeBackIntoTheirBoxes) {
  RecentFiles::Clear();
  auto* menu = form_->findChild<QMenu*>("RecentFiles1");
  ASSERT_NE(menu, nullptr);
  auto entries = [menu] {
    emit menu->aboutToShow();
    QStringList texts;
    for (QAction* action : menu->actions())
      if (!action->isSeparator()) texts << action->text() + (action->isEnabled() ? "" : " (off)");
    return texts;
  };
  EXPECT_EQ(entries(), QStringList({"(none yet) (off)", "&Clear the List (off)"}));
  NarrowTable();  // first.csv into t.dbf
  const QString csv = QString::fromStdString(dir_ / "first.csv");
  const QString dbf = QString::fromStdString(dir_ / "t.dbf");
  EXPECT_EQ(entries(), QStringList({"&1 Source: " + csv, "&2 Destination: " + dbf,
                                    "&Clear the List"}));
  Get<QLineEdit>("Edit1")->clear();
  Get<QLineEdit>("Edit9")->clear();
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  form_->findChild<QAction*>("RecentFile1")->trigger();
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Get<QTabWidget>("PageControl1")->currentIndex(), 0);
  EXPECT_EQ(form_->Describe().source.kind, dkCsv);
  EXPECT_EQ(form_->Describe().source.file, csv.toStdString());
  form_->findChild<QAction*>("RecentFile2")->trigger();
  EXPECT_EQ(Page(), 2);
  EXPECT_EQ(form_->Describe().destination.kind, dkDBase);
  EXPECT_EQ(form_->Describe().destination.file, dbf.toStdString());

  // Eight kept, newest first, each once.
  for (int i = 0; i < 9; ++i) RecentFiles::Add({false, QString("/out/%1.csv").arg(i)});
  RecentFiles::Add({false, "/out/3.csv"});
  QVector<RecentFile> kept = RecentFiles::Load();
  ASSERT_EQ(kept.size(), 8);
  EXPECT_EQ(kept[0].path, "/out/3.csv");
  EXPECT_EQ(kept[1].path, "/out/8.csv");
  EXPECT_EQ(kept[7].path, "/out/1.csv");

  // A source no longer there: said, and gone from the list.
  RecentFiles::Add({true, csv});
  std::filesystem::remove(csv.toStdString());
  form_->findChild<QAction*>("RecentFile1")->trigger();
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_EQ(dialogs_->messages[0], csv + " is no longer there; it leaves the list.");
  EXPECT_FALSE(RecentFiles::Load().contains(RecentFile{true, csv}));
  form_->findChild<QAction*>("ClearRecentFiles1")->trigger();
  EXPECT_TRUE(RecentFiles::Load().isEmpty());
}

}  // namespace
}  // namespace trundle

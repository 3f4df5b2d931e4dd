// Runs started from the window: the log against trundle-cli's for the same move, the
// files written, errors, the gauge, a second click and closing during a run.
#include <sqlite3.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "tests/databases/access/access_test_util.h"
#include "tests/test_files.h"
#include "tests/ui/cli_log.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/gauge.h"

namespace trundle {
namespace {

std::string Rows(int count) {
  std::string csv = "ID,NAME\n";
  for (int i = 1; i <= count; ++i) csv += std::to_string(i) + ",name " + std::to_string(i) + "\n";
  return csv;
}

class RunPageTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    WriteFile(dir_ / "in.csv", "ID,NAME,CITY\n1,Ann,Oslo\n2,\"Bo, Jr\",Rome\n3,Cy,\n");
  }
  // Fills the pages as a user would: the source a CSV file, the destination `file` of
  // text type `type` (0 comma, 1 tab, 2 HTML) or, with `dbase`, a dBase table.
  void Describe(const std::string& source, const std::string& file, int type, bool dbase = false) {
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(source));
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
    Get<QTabWidget>("PageControl2")->setCurrentIndex(dbase ? 1 : 0);
    Get<QLineEdit>(dbase ? "Edit9" : "Edit8")->setText(QString::fromStdString(file));
    Get<QRadioButton>(QString("BrowseDestTextGroupItem%1").arg(type).toLatin1())->setChecked(true);
    Get<QLineEdit>("Edit12")->setText(QString::fromStdString(dir_ / "Banner.html"));
  }
  QStringList WindowLog() {
    return WithoutTimes(Get<QPlainTextEdit>("Memo6")->toPlainText().split('\n'));
  }
  void Run() {
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Click("TrundleButton");
  }

  ScratchFolder dir_;
};

TEST_F(RunPageTest, RunsLogAsTheCommandLineDoesAndWriteTheSameFiles) {
  struct Move {
    const char* name;  // destination file of the window; the command line's gets "cli-"
    int type;
    bool dbase;
    const char* dest_kind;
  } moves[] = {
      {"out.txt", 1, false, "text"}, {"out.html", 2, false, "html"}, {"out.dbf", 0, true, "dbase"}};
  // A banner that is there: a missing one is logged with the program's own folder, which
  // differs between the window and the command line.
  WriteFile(dir_ / "Banner.html", "<B>News</B>");
  for (const Move& m : moves) {
    SCOPED_TRACE(m.name);
    Describe(dir_ / "in.csv", dir_ / m.name, m.type, m.dbase);
    Run();
    ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
    const std::string cli_file = dir_ / (std::string("cli-") + m.name);
    std::vector<std::string> args = {"--dest-kind", m.dest_kind, dir_ / "in.csv", cli_file};
    // The window always holds a banner name; the command line takes one for a page only.
    if (m.type == 2)
      args.insert(args.begin(), {"--html-title", "out", "--html-banner", dir_ / "Banner.html"});
    QStringList cli = CliLog(dir_, args);
    cli.replaceInStrings(QString::fromStdString(cli_file), QString::fromStdString(dir_ / m.name));
    EXPECT_EQ(WindowLog(), cli);
    EXPECT_TRUE(WindowLog().contains("3 records moved"));
    EXPECT_EQ(ReadFile(dir_ / m.name), ReadFile(cli_file));
    EXPECT_EQ(Get<Gauge>("Gauge1")->value(), 100);
    EXPECT_EQ(Get<Gauge>("Gauge1")->text(), "100%");
    Click("Back4");
  }
  EXPECT_NE(ReadFile(dir_ / "out.txt").find("Bo, Jr"), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "out.html").find("<TITLE>out</TITLE>"), std::string::npos)
      << ReadFile(dir_ / "out.html");
}

TEST_F(RunPageTest, AnAccessTableMovesAsTheCommandLineMovesIt) {
  const std::string fixture = testing::AccessFixture("delTestV2000.mdb");
  Click("Next1");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  Get<QLineEdit>("Edit4")->setText(QString::fromStdString(fixture));
  Get<QRadioButton>("SourceAccessVersionGroupItem1")->setChecked(true);
  Get<QComboBox>("ComboBox1")->setFocus();
  ASSERT_EQ(Get<QComboBox>("ComboBox1")->findText("Table"), 1);
  Get<QComboBox>("ComboBox1")->setCurrentIndex(1);
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "select * from [Table]");
  Click("Next2");
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "out.csv"));
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  QStringList cli = CliLog(dir_, {"--source-table", "Table", fixture, dir_ / "cli.csv"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.csv"),
                       QString::fromStdString(dir_ / "out.csv"));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_EQ(WindowLog().value(1).toStdString(),
            "Moving data from Table in " + fixture + " to " + (dir_ / "out.csv"));
  EXPECT_FALSE(ReadFile(dir_ / "out.csv").empty());
  EXPECT_EQ(ReadFile(dir_ / "out.csv"), ReadFile(dir_ / "cli.csv"));
}

// The Access tab's check box makes a missing destination database first, as trundle-cli
// --create-database does; unticked, a missing database is reported as before.
TEST_F(RunPageTest, TheCreateDatabaseBoxMakesAMissingAccessDatabase) {
  const std::string database = dir_ / "new.mdb";
  Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "in.csv"));
  Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
  Get<QTabWidget>("PageControl2")->setCurrentIndex(3);
  Get<QLineEdit>("Edit11")->setText(QString::fromStdString(database));
  Get<QComboBox>("ComboBox3")->setEditText("People");
  Get<QRadioButton>("DestAccessVersionGroupItem1")->setChecked(true);
  Run();
  EXPECT_TRUE(WindowLog().contains("Database doesn't exist"));
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].contains(QString::fromStdString(database)))
      << dialogs_->errors[0].toStdString();
  EXPECT_FALSE(std::filesystem::exists(database));
  dialogs_->errors.clear();
  Click("Back4");

  // Ticking the box chooses Access 2000, the only version that opens what it makes.
  Get<QRadioButton>("DestAccessVersionGroupItem0")->setChecked(true);
  QTest::mouseClick(Get<QCheckBox>("CreateDatabaseCheck"), Qt::LeftButton);
  EXPECT_TRUE(Get<QRadioButton>("DestAccessVersionGroupItem1")->isChecked());
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  ASSERT_TRUE(std::filesystem::exists(database));
  QStringList cli = CliLog(
      dir_, {"--create-database", "--dest-table", "People", dir_ / "in.csv", dir_ / "cli.mdb"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.mdb"), QString::fromStdString(database));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_EQ(WindowLog().value(0).toStdString(), "Created the empty Access database " + database);
  Click("Back4");

  // Access 97 opens no Access 2000 database: nothing is made, and the window says why.
  std::filesystem::remove(database);
  Get<QRadioButton>("DestAccessVersionGroupItem0")->setChecked(true);
  Run();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].contains("DAO 3.5")) << dialogs_->errors[0].toStdString();
  EXPECT_FALSE(std::filesystem::exists(database));
}

// As with trundle-cli --create-database, a database the box made goes again when the run
// creates no table in it (here the source is missing); the log says so.
TEST_F(RunPageTest, ADatabaseTheBoxMadeGoesAgainWhenNoTableIsCreated) {
  const std::string database = dir_ / "new.mdb";
  Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "missing.csv"));
  Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
  Get<QTabWidget>("PageControl2")->setCurrentIndex(3);
  Get<QLineEdit>("Edit11")->setText(QString::fromStdString(database));
  Get<QComboBox>("ComboBox3")->setEditText("People");
  Get<QRadioButton>("DestAccessVersionGroupItem1")->setChecked(true);
  QTest::mouseClick(Get<QCheckBox>("CreateDatabaseCheck"), Qt::LeftButton);
  Run();
  EXPECT_FALSE(std::filesystem::exists(database));
  EXPECT_EQ(WindowLog().value(0).toStdString(), "Created the empty Access database " + database);
  EXPECT_EQ(WindowLog().back().toStdString(), "Removed the empty Access database " + database +
                                                  " this run created: no table was created in it");
  QStringList cli = CliLog(dir_, {"--create-database", "--dest-table", "People",
                                  dir_ / "missing.csv", dir_ / "cli.mdb"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.mdb"), QString::fromStdString(database));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "cli.mdb"));
}

TEST_F(RunPageTest, ClipboardAndUnsetKinds) {
  Describe(dir_ / "in.csv", dir_ / "file.txt", 1);
  Run();
  Click("Back4");
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "unused.txt"));
  QTest::mouseClick(Get<QCheckBox>("ClipboardCheck"), Qt::LeftButton);
  Run();
  EXPECT_TRUE(WindowLog().contains(
      QString::fromStdString("Moving data from " + (dir_ / "in.csv") + " to clipboard")));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), ReadFile(dir_ / "file.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "unused.txt"));

  // A comma destination keeps the hidden tick but names its file.
  Get<QRadioButton>("BrowseDestTextGroupItem0")->setChecked(true);
  Click("TrundleButton");
  EXPECT_TRUE(WindowLog().contains(QString::fromStdString("Moving data from " + (dir_ / "in.csv") +
                                                          " to " + (dir_ / "unused.txt"))));

  // No source file type: nothing is read.
  Click("Back4");
  Click("Back3");
  dialogs_->file = FileDialogAnswer{QString::fromStdString(dir_ / "in.csv"), 3};
  Click("BrowseSourceTextButton");
  Run();
  // Nothing is read: the box and the log name what to choose.
  ASSERT_FALSE(dialogs_->errors.empty());
  EXPECT_TRUE(dialogs_->errors.back().startsWith("Choose the source file's type"));
  EXPECT_TRUE(WindowLog().value(0).startsWith("Not started: Choose the source file's type"));
  EXPECT_FALSE(WindowLog().join('\n').contains("records moved"));
}

// What the pages leave unfilled is named before the run, with its page, rather than
// surfacing as an engine's message about an empty name or a table called "<Select table>".
TEST_F(RunPageTest, AnEntryLeftUnfilledIsNamedBeforeTheRun) {
  struct Case {
    const char* name;
    std::function<void()> fill;
    const char* message;
  } cases[] = {
      {"no destination file", [&] { Get<QLineEdit>("Edit8")->clear(); },
       "Fill in the destination file on the Destination page"},
      {"no source file", [&] { Get<QLineEdit>("Edit1")->clear(); },
       "Fill in the source file on the Source Data page"},
      {"server table not chosen",
       [&] {
         Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
         Get<QLineEdit>("Edit15")->setText("ORCL");
         Get<QComboBox>("ComboBox2")->setEditText("<Select table>");
         Get<QPlainTextEdit>("Memo5")->clear();
       },
       "Choose or type the source table on the Source Data page"},
      {"Access destination table not chosen",
       [&] {
         Get<QTabWidget>("PageControl2")->setCurrentIndex(3);
         Get<QLineEdit>("Edit11")->setText(QString::fromStdString(dir_ / "shop.mdb"));
         Get<QComboBox>("ComboBox3")->setEditText("<Select table>");
       },
       "Choose or type the destination table on the Destination page"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Describe(dir_ / "in.csv", dir_ / "out.csv", 0);
    Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
    c.fill();
    dialogs_->errors.clear();
    Run();
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_EQ(dialogs_->errors[0], QString(c.message));
    EXPECT_EQ(WindowLog(), QStringList{QString("Not started: ") + c.message});
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.csv"));
    Click("Back4");
  }
  // A statement typed for the server source names its table: no complaint about the box.
  Describe(dir_ / "in.csv", dir_ / "out.csv", 0);
  Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  Get<QComboBox>("ComboBox2")->setEditText("<Select table>");
  Get<QPlainTextEdit>("Memo5")->setPlainText("select 1");
  dialogs_->errors.clear();
  Run();
  EXPECT_FALSE(WindowLog().value(0).startsWith("Not started"));
}

TEST_F(RunPageTest, ADestinationThatCannotBeWrittenShowsTheErrorAndKeepsTheLog) {
  Describe(dir_ / "in.csv", dir_ / "no/such/folder/out.csv", 0);
  Run();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].contains(QString::fromStdString(dir_ / "no/such/folder")))
      << dialogs_->errors[0].toStdString();
  EXPECT_EQ(Page(), 3);
  // The folder is found missing as the destination opens, before a record moves; the log
  // stays.
  EXPECT_TRUE(WindowLog().contains("Reading table"));
  EXPECT_FALSE(WindowLog().contains("Moving data"));
  EXPECT_TRUE(Get("TrundleButton")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  // A second run starts from an empty log and a gauge at 0.
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "out.csv"));
  Click("TrundleButton");
  EXPECT_EQ(WindowLog().count("Moving data"), 1);
  EXPECT_EQ(dialogs_->errors.size(), 1u);
}

// A source that cannot be read ends like any other failure: the error box with the
// reason, and a log that says the run failed, not only that it completed.
TEST_F(RunPageTest, ASourceThatCannotBeReadEndsWithTheErrorBox) {
  std::filesystem::create_directory(dir_ / "folder");
  WriteFile(dir_ / "empty.csv", "");
  CliLog(dir_, {dir_ / "in.csv", dir_ / "t.dbf"});
  const std::string access2000 = testing::AccessFixture("delTestV2000.mdb");
  struct Case {
    const char* name;
    std::function<void()> fill;  // the source page
    const char* reason;          // in the box
  } cases[] = {
      {"missing file", [&] { Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "no.csv")); },
       "no such file"},
      {"folder", [&] { Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "folder")); },
       "folder"},
      {"binary file",
       [&] {
         WriteFile(dir_ / "program.csv", std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0,\n", 14));
         Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "program.csv"));
       },
       "is not a text file"},
      {"empty file", [&] { Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "empty.csv")); },
       "0 bytes"},
      {"wrong SQL",
       [&] {
         Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
         Get<QLineEdit>("Edit2")->setText(QString::fromStdString(dir_ / "t.dbf"));
         Get<QPlainTextEdit>("Memo2")->setPlainText("selec * from t");
       },
       "syntax error"},
      {"empty SQL",
       [&] {
         Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
         Get<QLineEdit>("Edit2")->setText(QString::fromStdString(dir_ / "t.dbf"));
         Get<QPlainTextEdit>("Memo2")->clear();
       },
       ""},
      {"Access 2000 opened as 97",
       [&] {
         Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
         Get<QLineEdit>("Edit4")->setText(QString::fromStdString(access2000));
         Get<QRadioButton>("SourceAccessVersionGroupItem0")->setChecked(true);
         Get<QComboBox>("ComboBox1")->setEditText("Table");
       },
       "Unrecognized database format"},
  };
  // An Access end is named by its table and its database file.
  const QString access_line = QString::fromStdString("Moving data from Table in " + access2000 +
                                                     " to " + (dir_ / "out.html"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Describe(dir_ / "in.csv", dir_ / "out.html", 2);
    Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
    c.fill();
    dialogs_->errors.clear();
    Run();
    ASSERT_EQ(dialogs_->errors.size(), 1u) << WindowLog().join('\n').toStdString();
    EXPECT_TRUE(dialogs_->errors[0].contains(c.reason)) << dialogs_->errors[0].toStdString();
    // The box says what the log says, word for word, without an icon: nothing added.
    EXPECT_FALSE(dialogs_->error_icons.back());
    EXPECT_TRUE(Get<QPlainTextEdit>("Memo6")->toPlainText().contains(dialogs_->errors[0]));
    EXPECT_TRUE(WindowLog().contains("Failed: nothing was moved"));
    EXPECT_FALSE(WindowLog().join('\n').contains("records moved"));
    EXPECT_EQ(Get<Gauge>("Gauge1")->value(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.html"));
    if (Get<QTabWidget>("PageControl1")->currentIndex() == 3) {
      EXPECT_TRUE(WindowLog().contains(access_line)) << WindowLog().join('\n').toStdString();
    }
    Click("Back4");
  }
  // A run that succeeds shows no box and no line of failure.
  dialogs_->errors.clear();
  Describe(dir_ / "in.csv", dir_ / "out.csv", 0);
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  Run();
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_FALSE(WindowLog().join('\n').contains("Failed"));
}

// The destination the source itself, by its own path, another path to it or a link:
// refused before anything is opened, the source left as it was.
TEST_F(RunPageTest, TheSourceAsItsOwnDestinationIsRefused) {
  const std::string before = ReadFile(dir_ / "in.csv");
  std::filesystem::create_directory(dir_ / "sub");
  std::filesystem::create_symlink(dir_ / "in.csv", dir_ / "link.csv");
  std::filesystem::create_hard_link(dir_ / "in.csv", dir_ / "hard.csv");
  for (const std::string& dest : {dir_ / "in.csv", dir_ / "sub/../in.csv", dir_ / "link.csv",
                                  dir_ / "hard.csv"}) {
    SCOPED_TRACE(dest);
    dialogs_->errors.clear();
    Describe(dir_ / "in.csv", dest, 1);
    Run();
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_TRUE(dialogs_->errors[0].contains("is the source file"));
    // The page said so before the run, and offered neither Append nor Replace.
    EXPECT_EQ(Get<QLabel>("DestinationNote")->text(), dialogs_->errors[0]);
    EXPECT_FALSE(Get("AppendRadio")->isVisible());
    EXPECT_TRUE(WindowLog().value(0).startsWith("Not started: "));
    EXPECT_FALSE(WindowLog().join('\n').contains("Commenced"));
    EXPECT_EQ(ReadFile(dir_ / "in.csv"), before);
    Click("Back4");
  }
  // The clipboard writes no file: the same name in the box is no conflict.
  dialogs_->errors.clear();
  QTest::mouseClick(Get<QCheckBox>("ClipboardCheck"), Qt::LeftButton);
  Run();
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_EQ(ReadFile(dir_ / "in.csv"), before);
}

// The run page says that a destination is there and what the run will do with it;
// Append (the default) adds the records after its own, Replace writes it anew.
TEST_F(RunPageTest, AnExistingDestinationIsSaidAndAppendedToOrReplaced) {
  const std::string out = dir_ / "out.csv";
  Describe(dir_ / "in.csv", out, 0);
  Run();
  auto* note = Get<QLabel>("DestinationNote");
  auto* append = Get<QRadioButton>("AppendRadio");
  auto* replace = Get<QRadioButton>("ReplaceRadio");
  EXPECT_FALSE(WindowLog().join('\n').contains("exists"));
  const std::string once = ReadFile(out);
  Click("Back4");
  Click("Next3");
  EXPECT_EQ(note->text().toStdString(), out + " exists: the records will be appended to it");
  EXPECT_TRUE(append->isVisible() && append->isChecked());
  Click("TrundleButton");
  EXPECT_TRUE(WindowLog().contains("The destination table exists: the records are appended to it"));
  EXPECT_EQ(ReadFile(out).size(), 2 * once.size() - once.find('\n') - 1);  // one header

  QTest::mouseClick(replace, Qt::LeftButton);
  EXPECT_EQ(note->text().toStdString(), out + " exists: it will be replaced by the source's table");
  Click("TrundleButton");
  EXPECT_EQ(ReadFile(out), once);
  EXPECT_TRUE(dialogs_->errors.empty());

  // A dBase table keeps its records: Replace is not offered, Append is chosen again.
  Click("Back4");
  Describe(dir_ / "in.csv", dir_ / "t.dbf", 0, true);
  Run();
  Click("Back4");
  Click("Next3");
  EXPECT_TRUE(append->isChecked());
  EXPECT_FALSE(replace->isEnabled());
  EXPECT_TRUE(note->text().endsWith("appended to it"));
  // A destination not there yet: no note, no choice.
  Click("Back4");
  Describe(dir_ / "in.csv", dir_ / "new.csv", 0);
  Click("Next3");
  EXPECT_TRUE(note->text().isEmpty());
  EXPECT_FALSE(append->isVisible());
}

// The Stop button ends a run at a record boundary without closing the window; the log's
// last line says what the destination holds.
TEST_F(RunPageTest, TheStopButtonStopsTheRunAndTheWindowStays) {
  WriteFile(dir_ / "big.csv", Rows(3000));
  Describe(dir_ / "big.csv", dir_ / "big.txt", 1);
  auto* stop = Get<QPushButton>("StopButton");
  EXPECT_FALSE(stop->isEnabled());
  bool clicked = false;
  QObject::connect(Get<Gauge>("Gauge1"), &QProgressBar::valueChanged, form_.get(),
                   [stop, &clicked](int percent) {
                     if (percent < 10 || clicked) return;
                     clicked = stop->isEnabled();
                     QTest::mouseClick(stop, Qt::LeftButton);
                   });
  Run();
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(form_->running());
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_EQ(WindowLog().filter("Stopped on request: ").size(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "big.txt"));
  EXPECT_EQ(WindowLog().back().toStdString(),
            "The destination " + (dir_ / "big.txt") +
                " is left as it was: it holds none of the records moved");
  EXPECT_TRUE(dialogs_->questions.empty());
  EXPECT_TRUE(dialogs_->errors.empty());
}

TEST_F(RunPageTest, ASecondClickDuringARunDoesNotStartASecondRun) {
  WriteFile(dir_ / "big.csv", Rows(3000));
  Describe(dir_ / "big.csv", dir_ / "big.txt", 1);
  bool disabled_during_run = false;
  QString hint_during_run;
  QTimer::singleShot(0, form_.get(), [this, &disabled_during_run, &hint_during_run] {
    // Back stays disabled: the run page stays up until the run ends.
    disabled_during_run =
        form_->running() && !Get("TrundleButton")->isEnabled() && !Get("Back4")->isEnabled();
    hint_during_run = Get<QLabel>("Label31")->text();
    QTest::mouseClick(Get<QPushButton>("Back4"), Qt::LeftButton);
    form_->TrundleButtonClick();
  });
  Run();
  EXPECT_TRUE(disabled_during_run);
  EXPECT_EQ(hint_during_run, "The data move is running. Click Stop to end it.");
  EXPECT_EQ(Page(), 3);
  EXPECT_TRUE(Get("Back4")->isEnabled());
  EXPECT_TRUE(Get<QLabel>("Label31")->text().startsWith("Ready"));
  EXPECT_EQ(WindowLog().count("3000 records moved"), 1);
  EXPECT_EQ(WindowLog().filter("Commenced").size(), 1);
}

TEST_F(RunPageTest, ClosingDuringARunAsksAndWaitsForTheJob) {
  WriteFile(dir_ / "big.csv", Rows(3000));
  Describe(dir_ / "big.csv", dir_ / "big.txt", 1);
  dialogs_->answer = false;
  QTimer::singleShot(0, form_.get(), [this] { form_->close(); });
  Run();
  // No: the run went on to its end and the window stayed.
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_TRUE(dialogs_->questions[0].contains("transfer is running"));
  EXPECT_TRUE(form_->isVisible());
  EXPECT_TRUE(WindowLog().contains("3000 records moved"));

  // Yes, part-way through: the job stops at a record boundary, the file is not written,
  // the log says how far it got, and only then does the window close.
  dialogs_->answer = true;
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "stopped.txt"));
  bool asked_during_run = false;
  QObject::connect(Get<Gauge>("Gauge1"), &QProgressBar::valueChanged, form_.get(),
                   [this, &asked_during_run](int percent) {
                     if (percent < 10 || asked_during_run) return;
                     asked_during_run = form_->running();
                     QTest::keyClick(form_.get(), Qt::Key_Escape);
                   });
  Click("TrundleButton");
  EXPECT_TRUE(asked_during_run);
  EXPECT_EQ(dialogs_->questions.size(), 2u);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_FALSE(form_->running());
  const QStringList stopped = WindowLog().filter("Stopped on request: ");
  ASSERT_EQ(stopped.size(), 1) << WindowLog().join('\n').toStdString();
  const int moved = stopped[0].section(' ', 3, 3).toInt();
  EXPECT_GE(moved, 300);
  EXPECT_LT(moved, 3000);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "stopped.txt"));
  EXPECT_EQ(WindowLog().back().toStdString(),
            "The destination " + (dir_ / "stopped.txt") +
                " is left as it was: it holds none of the records moved");
  EXPECT_TRUE(dialogs_->errors.empty());
}

TEST_F(RunPageTest, ClosingWhileTheSourceIsReadStopsTheReading) {
  WriteFile(dir_ / "big.csv", Rows(20000));
  Describe(dir_ / "big.csv", dir_ / "big.txt", 1);
  dialogs_->answer = true;
  // Closed as soon as the reading begins: the stop is honoured inside the reading, not
  // only once every record is in memory.
  auto* log = Get<QPlainTextEdit>("Memo6");
  QObject::connect(log, &QPlainTextEdit::textChanged, form_.get(), [this, log] {
    if (dialogs_->questions.empty() && log->toPlainText().endsWith("Reading table")) form_->close();
  });
  Run();
  EXPECT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_FALSE(WindowLog().join('\n').contains("records read"));
  EXPECT_TRUE(WindowLog().contains("Stopped on request: 0 records moved"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "big.txt"));
}

// The Oracle tab against a private SQLite database, reached through the SQLite ODBC driver
// named in the connection string.
class ServerTabTest : public RunPageTest {
 protected:
  void SetUp() override {
    RunPageTest::SetUp();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "shop.db").c_str(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db,
                                "create table customers (id integer, name text, city text);"
                                "insert into customers values (1, 'Ann', 'Oslo'),"
                                " (2, 'Bo, Jr', null), (3, 'Zoë \"Z\"', 'Köln');"
                                "create table orders (id integer, amount real);",
                                nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
    connection_ = "Driver=" TRUNDLE_SQLITE_ODBC ";Database=" + (dir_ / "shop.db");
    Click("Next1");
    Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  }
  QStringList Listed(const char* combo) {
    QStringList items;
    for (int i = 0; i < Get<QComboBox>(combo)->count(); ++i)
      items << Get<QComboBox>(combo)->itemText(i);
    items.sort();
    return items;
  }
  std::string connection_;
};

TEST_F(ServerTabTest, TheTableListsComeFromTheDatabase) {
  Get<QLineEdit>("Edit15")->setText(QString::fromStdString(connection_));
  Get<QComboBox>("ComboBox2")->setFocus();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_EQ(Listed("ComboBox2"), QStringList({"(all tables)", "customers", "orders"}));
  EXPECT_EQ(Get<QComboBox>("ComboBox2")->currentText(), "<Select table>");

  Click("Next2");
  Get<QTabWidget>("PageControl2")->setCurrentIndex(4);
  Get<QLineEdit>("Edit19")->setText(QString::fromStdString(connection_));
  Get<QComboBox>("ComboBox4")->setFocus();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_EQ(Listed("ComboBox4"), QStringList({"customers", "orders"}));

  // A database the driver cannot open: its message in the error box.
  Get<QLineEdit>("Edit19")->setText(
      QString::fromStdString("Driver=" TRUNDLE_SQLITE_ODBC ";Database=" + (dir_ / "no/such.db")));
  Get("Edit19")->setFocus();
  Get<QComboBox>("ComboBox4")->setFocus();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].endsWith('.'));
  EXPECT_EQ(dialogs_->error_captions[0], "Trundle");
}

TEST_F(ServerTabTest, ATableMovesToCsvAsTheCommandLineMovesIt) {
  Get<QLineEdit>("Edit15")->setText(QString::fromStdString(connection_));
  auto* combo = Get<QComboBox>("ComboBox2");
  combo->setFocus();
  combo->setCurrentIndex(combo->findText("customers"));
  EXPECT_EQ(Get<QPlainTextEdit>("Memo5")->toPlainText(), "select * from customers");
  Click("Next2");
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "out.csv"));
  Get<QRadioButton>("BrowseDestTextGroupItem0")->setChecked(true);
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  QStringList cli = CliLog(dir_, {"--source-kind", "odbc", "--source-table", "customers",
                                  connection_, dir_ / "cli.csv"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.csv"),
                       QString::fromStdString(dir_ / "out.csv"));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_TRUE(WindowLog().contains("3 records moved"));
  const std::string out = ReadFile(dir_ / "out.csv");
  EXPECT_EQ(out, ReadFile(dir_ / "cli.csv"));
  for (const char* row : {"\"1\",\"Ann\",\"Oslo\"\r\n", "\"2\",\"Bo, Jr\",\"\"\r\n",
                          "\"3\",\"Zoë \"\"Z\"\"\",\"Köln\"\r\n"})
    EXPECT_NE(out.find(row), std::string::npos) << row << " in\n" << out;
}

TEST_F(RunPageTest, ReadMeOpensTheFileBesideTheProgram) {
  form_->findChild<QAction*>("ReadMe1")->trigger();
  ASSERT_EQ(dialogs_->opened.size(), 1u);
  EXPECT_TRUE(dialogs_->opened[0].endsWith("/readme.txt"));
}

TEST(GaugeTest, ValuesOutsideTheRangeSetTheNearerEnd) {
  Gauge gauge;
  for (auto [set, shown] : {std::pair{42, 42}, {150, 100}, {-5, 0}, {100, 100}, {0, 0}}) {
    gauge.SetPosition(set);
    EXPECT_EQ(gauge.value(), shown);
    EXPECT_EQ(gauge.text(), QString("%1%").arg(shown));
  }
}

}  // namespace
}  // namespace trundle

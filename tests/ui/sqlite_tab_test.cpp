// The SQLite tabs, made from the kind's declaration: where they sit, what they describe,
// their browse dialogs and table lists, and runs into and out of a SQLite database.
#include <sqlite3.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <filesystem>
#include <functional>
#include <set>

#include "front/kinds.h"
#include "tests/test_files.h"
#include "tests/ui/sqlite_rows.h"
#include "tests/ui/cli_log.h"
#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

// Runs `sql` on the database at `path`, made when missing.
void Exec(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

class SqliteTabTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    WriteFile(dir_ / "in.csv", "ID,NAME,CITY\n1,Ann,Oslo\n2,\"Bo, Jr\",Rome\n3,Zoë \"Z\",Köln\n");
    Exec(shop_,
         "create table customers (id integer primary key, name text, city text);"
         "insert into customers values (1, 'Ann', 'Oslo'), (2, 'Bo, Jr', null),"
         " (3, 'Zoë \"Z\"', 'Köln');"
         "create table \"Order \"\"Lines\"\"\" (id integer, amount real);"
         "create index by_city on customers (city);"
         "create view from_oslo as select name from customers where city = 'Oslo';");
  }
  void ChooseSqliteTab(bool source) {
    Get<QTabWidget>(source ? "PageControl1" : "PageControl2")
        ->setCurrentWidget(Get(source ? "SourceSqliteTab" : "DestSqliteTab"));
  }
  void Source(const std::string& database, const QString& table) {
    ChooseSqliteTab(true);
    Get<QLineEdit>("SourceSqliteDatabase")->setText(QString::fromStdString(database));
    Get<QComboBox>("SourceSqliteTable")->setEditText(table);
  }
  void Destination(const std::string& database, const QString& table) {
    ChooseSqliteTab(false);
    Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(database));
    Get<QComboBox>("DestSqliteTable")->setEditText(table);
  }
  void CsvSource() {
    Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "in.csv"));
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
  }
  QStringList Listed(const char* combo) {
    QStringList items;
    for (int i = 0; i < Get<QComboBox>(combo)->count(); ++i)
      items << Get<QComboBox>(combo)->itemText(i);
    return items;
  }
  // Enters a table box from the database box, as a user tabbing through the page would.
  void EnterTableBox(const char* database, const char* combo) {
    Get(database)->setFocus();
    Get(combo)->setFocus();
  }
  QStringList WindowLog() {
    return WithoutTimes(Get<QPlainTextEdit>("Memo6")->toPlainText().split('\n'));
  }
  void Run() {
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Click("TrundleButton");
  }

  ScratchFolder dir_;
  const std::string shop_ = dir_ / "shop.sqlite";
};

// The designed tabs keep their places; the SQLite tab comes after them on both pages and
// describes a SQLite end: the file, the table and, for a source, the statement.
TEST_F(SqliteTabTest, TheSqliteTabsDescribeASqliteEnd) {
  for (const QString end : {"Source", "Dest"}) {
    auto* tabs = Get<QTabWidget>(end == "Source" ? "PageControl1" : "PageControl2");
    QStringList captions, names;
    for (int i = 0; i < tabs->count(); ++i) {
      captions << tabs->tabText(i);
      names << tabs->widget(i)->objectName();
    }
    EXPECT_EQ(captions, QStringList({"Text", "dBase", "Paradox", "Access", "Oracle", "SQLite"}));
    QStringList designed;
    for (const char* tab :
         {"TextTab", "dBaseTab", "ParadoxTab", "AccessTab", "OracleTab", "SqliteTab"})
      designed << end + tab;
    EXPECT_EQ(names, designed);
  }
  // The first show reset the boxes as it resets the designed ones.
  EXPECT_EQ(Get<QComboBox>("SourceSqliteTable")->currentText(), "<Select table>");
  EXPECT_EQ(Get<QComboBox>("DestSqliteTable")->currentText(), "<Select table>");
  EXPECT_TRUE(Get<QPlainTextEdit>("SourceSqliteSql")->toPlainText().isEmpty());

  Source(shop_, "Order \"Lines\"");
  auto* sql = Get<QPlainTextEdit>("SourceSqliteSql");
  EXPECT_EQ(sql->toPlainText(), "select * from \"Order \"\"Lines\"\"\"");
  Destination(dir_ / "new.sqlite", "People");
  JobDescription d = form_->Describe();
  EXPECT_EQ(d.source.kind, dkSqlite);
  EXPECT_EQ(d.source.database, shop_);
  EXPECT_EQ(d.source.table, "Order \"Lines\"");
  EXPECT_EQ(d.source.sql, "select * from \"Order \"\"Lines\"\"\"");
  EXPECT_EQ(d.destination.kind, dkSqlite);
  EXPECT_EQ(d.destination.database, dir_ / "new.sqlite");
  EXPECT_EQ(d.destination.table, "People");
  EXPECT_EQ(d.destination.sql, "");
  // A destination reads no statement: its tab has no SQL box.
  EXPECT_EQ(form_->findChild<QWidget*>("DestSqliteSql"), nullptr);

  // An edited statement is the user's and goes as typed.
  sql->setPlainText("select id from customers where id > 1");
  Get<QComboBox>("SourceSqliteTable")->setEditText("customers");
  EXPECT_EQ(form_->Describe().source.sql, "select id from customers where id > 1");
  // Boxes are named by their labels for screen readers.
  EXPECT_EQ(Get<QLabel>("SourceSqliteDatabaseLabel")->buddy(), Get("SourceSqliteDatabase"));
  EXPECT_EQ(Get<QLabel>("DestSqliteTableLabel")->text(), "Destination Table");
}

// Every declared kind that can be read has a tab (or a file type on the Text tab) on the
// Source Data page, and every one that can be written one on the Destination page.
TEST_F(SqliteTabTest, EveryDeclaredKindIsReachableFromTheWindow) {
  for (const bool source : {true, false}) {
    SCOPED_TRACE(source ? "source" : "destination");
    auto* tabs = Get<QTabWidget>(source ? "PageControl1" : "PageControl2");
    auto* types = Get<QGroupBox>(source ? "BrowseSourceTextGroup" : "BrowseDestTextGroup");
    std::set<TDataKind> reached;
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      const auto kind = [&] {
        const JobDescription d = form_->Describe();
        return source ? d.source.kind : d.destination.kind;
      };
      if (i > 0) {
        EXPECT_TRUE(reached.insert(kind()).second) << "a second tab for the kind of tab " << i;
        continue;
      }
      for (auto* type : types->findChildren<QRadioButton*>()) {
        type->setChecked(true);
        reached.insert(kind());
      }
    }
    std::set<TDataKind> declared;
    // PostgreSQL has no tab yet (its logon takes a user and a password): trundle-cli only.
    for (const KindDeclaration& k : Kinds())
      if (k.Can(source ? kaRead : kaWrite) && k.kind != dkPostgres) declared.insert(k.kind);
    EXPECT_EQ(reached, declared);
  }
}

// Every browse dialog of a database or table file kind takes its filters, its suffix and
// its title from the kind's declaration.
TEST_F(SqliteTabTest, BrowseDialogsFollowTheKindsDeclarations) {
  Click("Next1");
  ChooseSqliteTab(true);
  dialogs_->file = FileDialogAnswer{QString::fromStdString(shop_), 1};
  Click("BrowseSourceSqliteButton");
  ASSERT_EQ(dialogs_->requests.size(), 1u);
  FileDialogRequest r = dialogs_->requests.back();
  EXPECT_FALSE(r.save);
  EXPECT_EQ(r.title, "Select source database");
  EXPECT_EQ(r.filters.join('|'), "SQLite (*.sqlite *.sqlite3 *.db3)|All files (*.*)");
  EXPECT_EQ(r.default_suffix, "sqlite");
  EXPECT_EQ(Get<QLineEdit>("SourceSqliteDatabase")->text().toStdString(), shop_);

  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  Click("BrowseSourceAccessDatabaseButton");
  EXPECT_EQ(dialogs_->requests.back().filters.join('|'), "Access (*.mdb *.accdb)|All files (*.*)");
  EXPECT_EQ(dialogs_->requests.back().default_suffix, "mdb");

  Click("Next2");
  ChooseSqliteTab(false);
  dialogs_->file = FileDialogAnswer{QString::fromStdString(dir_ / "new.sqlite"), 1};
  Get<QLineEdit>("DestSqliteDatabase")->setText("typed.sqlite");
  Click("BrowseDestSqliteButton");
  r = dialogs_->requests.back();
  EXPECT_TRUE(r.save);
  EXPECT_EQ(r.title, "Select destination database");
  EXPECT_EQ(r.initial_file, "typed.sqlite");
  EXPECT_EQ(r.filters.first(), "SQLite (*.sqlite *.sqlite3 *.db3)");
  EXPECT_EQ(Get<QLineEdit>("DestSqliteDatabase")->text().toStdString(), dir_ / "new.sqlite");
  Get<QTabWidget>("PageControl2")->setCurrentIndex(2);
  Click("BrowseDestParadoxButton");
  r = dialogs_->requests.back();
  EXPECT_EQ(r.title, "Select destination table");
  EXPECT_EQ(r.filters.join('|'), "Paradox (*.db)|All files (*.*)");
  EXPECT_EQ(r.default_suffix, "db");
}

// The table list is the file's tables and views, read each time the box is entered; a
// file not there yet lists nothing and raises no box, one that is no database says so once.
TEST_F(SqliteTabTest, TheTableListsAreReadFromTheFile) {
  Click("Next1");
  ChooseSqliteTab(true);
  Get<QLineEdit>("SourceSqliteDatabase")->setText(QString::fromStdString(shop_));
  EnterTableBox("SourceSqliteDatabase", "SourceSqliteTable");
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_EQ(Listed("SourceSqliteTable"),
            QStringList({"(all tables)", "customers", "Order \"Lines\"", "from_oslo"}));
  EXPECT_EQ(Get<QComboBox>("SourceSqliteTable")->currentText(), "<Select table>");
  Get<QComboBox>("SourceSqliteTable")->setCurrentIndex(3);
  EXPECT_EQ(Get<QPlainTextEdit>("SourceSqliteSql")->toPlainText(), "select * from \"from_oslo\"");
  // A table made since is listed at the next entry.
  Exec(shop_, "create table later (x);");
  EnterTableBox("SourceSqliteDatabase", "SourceSqliteTable");
  EXPECT_EQ(Listed("SourceSqliteTable").size(), 5);

  Click("Next2");
  ChooseSqliteTab(false);
  const std::string fresh = dir_ / "new.sqlite";
  Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(fresh));
  EnterTableBox("DestSqliteDatabase", "DestSqliteTable");
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_TRUE(Listed("DestSqliteTable").isEmpty());
  EXPECT_FALSE(std::filesystem::exists(fresh));  // listing made no file
  // A new name is a table the run creates.
  Get<QComboBox>("DestSqliteTable")->lineEdit()->clear();
  QTest::keyClicks(Get<QComboBox>("DestSqliteTable")->lineEdit(), "People");
  EXPECT_EQ(form_->Describe().destination.table, "People");

  WriteFile(dir_ / "notes.sqlite", std::string(2048, 'x'));
  Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(dir_ / "notes.sqlite"));
  EnterTableBox("DestSqliteDatabase", "DestSqliteTable");
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].contains(QString::fromStdString(dir_ / "notes.sqlite")))
      << dialogs_->errors[0].toStdString();
  EXPECT_TRUE(dialogs_->error_icons[0]);
  EnterTableBox("DestSqliteDatabase", "DestSqliteTable");
  EXPECT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(Get<QComboBox>("DestSqliteTable")->currentText(), "People");
}

// A CSV file into a SQLite database that is not there yet: the file and the table are
// made, the log is trundle-cli's for the same move, and a second run appends.
TEST_F(SqliteTabTest, ACsvFileMovesIntoANewSqliteDatabase) {
  const std::string fresh = dir_ / "new.sqlite";
  CsvSource();
  Destination(fresh, "People");
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  const char* select = "select ID, NAME, CITY from People order by ID";
  EXPECT_EQ(Query(fresh, select).join('\n').toStdString(),
            "1|Ann|Oslo\n2|Bo, Jr|Rome\n3|Zoë \"Z\"|Köln");
  EXPECT_EQ(Query(fresh, "pragma integrity_check"), QStringList{"ok"});
  QStringList cli = CliLog(dir_, {"--dest-table", "People", dir_ / "in.csv", dir_ / "cli.sqlite"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.sqlite"), QString::fromStdString(fresh));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_TRUE(WindowLog().contains("3 records moved"));

  // The table is there now, in whatever letter case it is named: the page says that the
  // records go after its own, and offers no Replace.
  Click("Back4");
  Get<QComboBox>("DestSqliteTable")->setEditText("PEOPLE");
  Click("Next3");
  EXPECT_EQ(Get<QLabel>("DestinationNote")->text().toStdString(),
            "The table PEOPLE of " + fresh + " exists: the records will be appended to it");
  EXPECT_TRUE(Get("AppendRadio")->isVisible());
  EXPECT_FALSE(Get("ReplaceRadio")->isEnabled());
  Click("TrundleButton");
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_EQ(Query(fresh, "select count(*) from People"), QStringList{"6"});
}

// A SQLite table out to a CSV file as trundle-cli moves it, the source left byte for byte
// as it was; an edited statement moves what it selects.
TEST_F(SqliteTabTest, ASqliteTableMovesOutAsTheCommandLineMovesIt) {
  const std::string before = ReadFile(shop_);
  Click("Next1");
  Source(shop_, "customers");
  Click("Next2");
  Get<QTabWidget>("PageControl2")->setCurrentIndex(0);
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "out.csv"));
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  QStringList cli = CliLog(dir_, {"--source-table", "customers", shop_, dir_ / "cli.csv"});
  cli.replaceInStrings(QString::fromStdString(dir_ / "cli.csv"),
                       QString::fromStdString(dir_ / "out.csv"));
  EXPECT_EQ(WindowLog(), cli);
  EXPECT_TRUE(WindowLog().contains("3 records moved"));
  const std::string out = ReadFile(dir_ / "out.csv");
  EXPECT_EQ(out, ReadFile(dir_ / "cli.csv"));
  EXPECT_NE(out.find("\"3\",\"Zoë \"\"Z\"\"\",\"Köln\""), std::string::npos) << out;
  EXPECT_EQ(ReadFile(shop_), before);

  Click("Back4");
  Click("Back3");
  Get<QPlainTextEdit>("SourceSqliteSql")->setPlainText("select name from customers where id > 1");
  Click("Next2");
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir_ / "some.csv"));
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  EXPECT_TRUE(WindowLog().contains("2 records moved")) << WindowLog().join('\n').toStdString();
  EXPECT_EQ(ReadFile(shop_), before);
}

// What the SQLite tabs leave unfilled is named before the run, as on the other database
// tabs, and a table is refused as its own destination.
TEST_F(SqliteTabTest, AnEntryLeftUnfilledOrTheSourceAsItsDestinationIsRefused) {
  struct Case {
    const char* name;
    std::function<void()> fill;
    const char* message;
  } cases[] = {
      {"no source database", [&] { Source("", "customers"); },
       "Fill in the source database on the Source Data page"},
      {"no source table", [&] { Source(shop_, "<Select table>"); },
       "Choose or type the source table on the Source Data page"},
      {"no destination database", [&] { Destination("", "People"); },
       "Fill in the destination database on the Destination page"},
      {"no destination table", [&] { Destination(shop_, ""); },
       "Choose or type the destination table on the Destination page"},
      {"the source table itself",
       [&] {
         Source(shop_, "customers");
         Destination(shop_, "Customers");
       },
       "is the source table"},
  };
  const std::string before = ReadFile(shop_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CsvSource();
    Destination(dir_ / "out.sqlite", "People");
    c.fill();
    dialogs_->errors.clear();
    Run();
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_TRUE(dialogs_->errors[0].contains(c.message)) << dialogs_->errors[0].toStdString();
    EXPECT_TRUE(WindowLog().value(0).startsWith("Not started: "));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.sqlite"));
    Click("Back4");
    Click("Back3");
  }
  EXPECT_EQ(ReadFile(shop_), before);
}

}  // namespace
}  // namespace trundle

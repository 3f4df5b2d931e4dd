// A whole database from the window: the "(all tables)" entry of the source's table lists,
// the destination page that then asks for a folder or a database, the run page's line per
// table, and the destinations that cannot take a whole database.
#include <sqlite3.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "tests/databases/access/access_test_util.h"
#include "tests/test_files.h"
#include "tests/ui/cli_log.h"
#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

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

class WholeDatabaseTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Exec(shop_,
         "create table customers (id integer primary key, name text, city text);"
         "insert into customers values (1, 'Ann', 'Oslo'), (2, 'Bo, Jr', null),"
         " (3, 'Zoë \"Z\"', 'Köln');"
         "create table \"Order Lines\" (id integer, amount real);"
         "insert into \"Order Lines\" values (1, 2.5), (2, -0.125);");
  }
  void SqliteSource() {
    Click("Next1");
    Get<QTabWidget>("PageControl1")->setCurrentWidget(Get("SourceSqliteTab"));
    Get<QLineEdit>("SourceSqliteDatabase")->setText(QString::fromStdString(shop_));
    EnterTableBox("SourceSqliteDatabase", "SourceSqliteTable");
    Get<QComboBox>("SourceSqliteTable")->setCurrentIndex(0);
  }
  void CsvFolder(const std::string& folder) {
    while (Page() < 2) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Get<QTabWidget>("PageControl2")->setCurrentIndex(0);
    Get<QRadioButton>("BrowseDestTextGroupItem0")->setChecked(true);
    Get<QLineEdit>("Edit8")->setText(QString::fromStdString(folder));
  }
  void EnterTableBox(const char* database, const char* combo) {
    Get(database)->setFocus();
    Get(combo)->setFocus();
  }
  QStringList Listed(const char* combo) {
    QStringList items;
    for (int i = 0; i < Get<QComboBox>(combo)->count(); ++i)
      items << Get<QComboBox>(combo)->itemText(i);
    return items;
  }
  void Run() {
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Click("TrundleButton");
  }
  // The run page's lines: table, records, share done and outcome, joined by '|'.
  QStringList Rows() {
    QStringList rows;
    auto* list = Get<QTreeWidget>("TableList");
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* row = list->topLevelItem(i);
      rows << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join('|');
    }
    return rows;
  }
  std::string Log() { return Get<QPlainTextEdit>("Memo6")->toPlainText().toStdString(); }

  ScratchFolder dir_;
  const std::string shop_ = dir_ / "shop.sqlite";
};

// The entry heads the lists of the Access and SQLite sources, above the tables read from
// the database, and no destination's; choosing it empties the proposed statement and turns
// the destination page to folders and databases, choosing a table turns it back.
TEST_F(WholeDatabaseTest, TheAllTablesEntryHeadsADatabaseSourcesList) {
  Click("Next1");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  Get<QLineEdit>("Edit4")->setText(
      QString::fromStdString(testing::AccessFixture("delTestV2000.mdb")));
  Get<QRadioButton>("SourceAccessVersionGroupItem1")->setChecked(true);
  EnterTableBox("Edit4", "ComboBox1");
  EXPECT_EQ(Listed("ComboBox1").value(0), "(all tables)");
  EXPECT_EQ(Get<QComboBox>("ComboBox1")->findText("Table"), 1);
  Get<QComboBox>("ComboBox1")->setCurrentIndex(0);
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "");

  Get<QTabWidget>("PageControl1")->setCurrentWidget(Get("SourceSqliteTab"));
  Get<QLineEdit>("SourceSqliteDatabase")->setText(QString::fromStdString(shop_));
  EnterTableBox("SourceSqliteDatabase", "SourceSqliteTable");
  QStringList listed = Listed("SourceSqliteTable");
  ASSERT_EQ(listed.size(), 3) << listed.join(',').toStdString();
  EXPECT_EQ(listed[0], "(all tables)");
  EXPECT_TRUE(listed.contains("customers") && listed.contains("Order Lines"));

  Click("Next2");
  Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestSqliteTab"));
  Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(shop_));
  EnterTableBox("DestSqliteDatabase", "DestSqliteTable");
  EXPECT_FALSE(Listed("DestSqliteTable").contains("(all tables)"));

  // The SQLite source's box still shows a table: the destination asks for one.
  Get<QComboBox>("SourceSqliteTable")->setCurrentIndex(1);
  EXPECT_TRUE(Get<QComboBox>("DestSqliteTable")->isEnabled());
  EXPECT_EQ(Get<QLabel>("Edit8Label")->text(), "Destination File");
  Get<QComboBox>("SourceSqliteTable")->setCurrentIndex(0);
  EXPECT_FALSE(Get<QComboBox>("DestSqliteTable")->isEnabled());
  EXPECT_FALSE(Get<QComboBox>("ComboBox3")->isEnabled());
  EXPECT_EQ(Get<QLabel>("Edit8Label")->text(), "Destination Folder (a file for each table)");
  EXPECT_EQ(Get<QLabel>("Edit9Label")->text(), "Destination Folder (a dBase table for each table)");
  // The dBase tab's browse button asks for a folder, then for a file again.
  dialogs_->file = FileDialogAnswer{QString::fromStdString(dir_ / "tables"), 0};
  Get<QTabWidget>("PageControl2")->setCurrentIndex(1);
  Click("BrowseDestdBaseTable");
  ASSERT_FALSE(dialogs_->requests.empty());
  EXPECT_TRUE(dialogs_->requests.back().folder);
  EXPECT_EQ(dialogs_->requests.back().title, "Select destination folder");
  EXPECT_EQ(Get<QLineEdit>("Edit9")->text().toStdString(), dir_ / "tables");
  Get<QComboBox>("SourceSqliteTable")->setCurrentIndex(1);
  Click("BrowseDestdBaseTable");
  EXPECT_FALSE(dialogs_->requests.back().folder);
  EXPECT_EQ(Get<QLabel>("Edit9Label")->text(), "Destination Table");
  EXPECT_TRUE(Get<QComboBox>("ComboBox3")->isEnabled());
}

// Every table becomes a CSV file in a folder the run makes, each file as trundle-cli
// writes that table alone; the run page has a line per table with its count and outcome.
TEST_F(WholeDatabaseTest, AWholeSqliteDatabaseBecomesAFolderOfCsvFiles) {
  SqliteSource();
  CsvFolder(dir_ / "out");
  Run();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  QStringList rows = Rows();
  rows.sort();
  EXPECT_EQ(rows, QStringList({"Order Lines|2|100%|moved", "customers|3|100%|moved"}));
  for (const std::string table : {"customers", "Order Lines"}) {
    std::filesystem::remove(dir_ / "cli.csv");
    CliLog(dir_, {"--source-table", table, shop_, dir_ / "cli.csv"});
    EXPECT_EQ(ReadFile(dir_ / ("out/" + table + ".csv")), ReadFile(dir_ / "cli.csv")) << table;
  }
  EXPECT_NE(ReadFile(dir_ / "out/customers.csv").find("Köln"), std::string::npos);
  EXPECT_NE(Log().find("[customers] "), std::string::npos) << Log();
  EXPECT_EQ(Get<QLabel>("SpeedNote")->text(), "2 of 2 tables moved");
}

// A table whose file cannot be made fails alone: its line says why, the other arrives,
// and the box at the end names the table that failed.
TEST_F(WholeDatabaseTest, AFailingTableShowsFailedWhileTheOthersArrive) {
  std::filesystem::create_directories(dir_ / "out/customers.csv");
  SqliteSource();
  CsvFolder(dir_ / "out");
  Run();
  QStringList rows = Rows();
  rows.sort();
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0], "Order Lines|2|100%|moved");
  EXPECT_TRUE(rows[1].startsWith("customers|")) << rows[1].toStdString();
  EXPECT_TRUE(rows[1].endsWith("|failed: Could not replace " +
                               QString::fromStdString(dir_ / "out/customers.csv") +
                               ": Is a directory"))
      << rows[1].toStdString();
  CliLog(dir_, {"--source-table", "Order Lines", shop_, dir_ / "cli.csv"});
  EXPECT_EQ(ReadFile(dir_ / "out/Order Lines.csv"), ReadFile(dir_ / "cli.csv"));
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(
      dialogs_->errors[0].startsWith("These tables did not arrive whole:\ncustomers: failed: "))
      << dialogs_->errors[0].toStdString();
  EXPECT_NE(Log().find("did not arrive whole: customers"), std::string::npos) << Log();
}

// Stop ends the table that is moving and begins no other; the window stays, and the box
// names the tables that did not arrive.
TEST_F(WholeDatabaseTest, StopEndsTheRunAndBeginsNoOtherTable) {
  Exec(shop_,
       "create table a_big (n integer);"
       "with recursive c(n) as (select 1 union all select n + 1 from c where n < 20000)"
       " insert into a_big select n from c;"
       "create table z_after (n integer); insert into z_after values (1);");
  SqliteSource();
  CsvFolder(dir_ / "out");
  auto* stop = Get<QPushButton>("StopButton");
  auto* list = Get<QTreeWidget>("TableList");
  bool clicked = false;
  QObject::connect(list->model(), &QAbstractItemModel::dataChanged, form_.get(), [&] {
    const QList<QTreeWidgetItem*> big = list->findItems("a_big", Qt::MatchExactly, 0);
    if (clicked || big.isEmpty() || big[0]->text(1).toInt() < 100) return;
    clicked = stop->isEnabled();
    QTest::mouseClick(stop, Qt::LeftButton);
  });
  Run();
  ASSERT_TRUE(clicked);
  EXPECT_FALSE(form_->running());
  // Those before the big one are in; those after it were never begun.
  const QStringList rows = Rows();
  const int big = static_cast<int>(rows.indexOf(QRegularExpression("^a_big\\|.*")));
  ASSERT_GE(big, 0);
  ASSERT_LT(big, rows.size() - 1) << "a table must follow the stopped one";
  EXPECT_TRUE(rows[big].endsWith("|stopped")) << rows[big].toStdString();
  QStringList lost = {"a_big: stopped"};
  for (int i = 0; i < rows.size(); ++i) {
    if (i < big) {
      EXPECT_TRUE(rows[i].endsWith("|moved")) << rows[i].toStdString();
      continue;
    }
    if (i == big) continue;
    EXPECT_TRUE(rows[i].endsWith("|0|0%|stopped")) << rows[i].toStdString();
    lost << rows[i].section('|', 0, 0) + ": stopped";
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/z_after.csv"));
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0].toStdString(),
            "These tables did not arrive whole:\n" + lost.join('\n').toStdString());
}

// Destinations that cannot take a whole database are refused before anything is made,
// with the sentence that says what to do, in the box and the log.
TEST_F(WholeDatabaseTest, DestinationsThatDoNotFitAreRefusedBeforeTheRun) {
  WriteFile(dir_ / "plain.csv", "ID\n1\n");
  const struct {
    const char* name;
    std::function<void()> choose;
    std::string says;
  } cases[] = {
      {"clipboard",
       [&] {
         CsvFolder("");
         Get<QCheckBox>("ClipboardCheck")->setChecked(true);
       },
       "The clipboard holds one table, not a whole database: clear Copy To Clipboard and name "
       "a folder for the tables' files on the Destination page"},
      {"HTML page",
       [&] {
         CsvFolder(dir_ / "out");
         Get<QRadioButton>("BrowseDestTextGroupItem2")->setChecked(true);
       },
       "An HTML page shows one table, not a whole database: choose Comma delimited or Tab "
       "delimited and name a folder for the tables' files on the Destination page"},
      {"a file for a folder", [&] { CsvFolder(dir_ / "plain.csv"); },
       "The destination " + (dir_ / "plain.csv") +
           " is a file; a whole database goes into a folder, a file for each table"},
      {"the source itself",
       [&] {
         while (Page() < 2) Click(QString("Next%1").arg(Page() + 1).toLatin1());
         Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestSqliteTab"));
         Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(shop_));
       },
       "The destination database " + shop_ +
           " is the source database: choose another on the Destination page"},
  };
  SqliteSource();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs_->errors.clear();
    Get<QCheckBox>("ClipboardCheck")->setChecked(false);
    if (Page() == 3) Click("Back4");
    c.choose();
    Run();
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    EXPECT_EQ(dialogs_->errors[0].toStdString(), c.says);
    EXPECT_EQ(Log(), "Not started: " + c.says);
    EXPECT_FALSE(Get<QTreeWidget>("TableList")->isVisible());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
  }
}

}  // namespace
}  // namespace trundle

// The server destination tab's "Create the table if it doesn't exist" box, against a
// private SQLite database reached through the SQLite ODBC driver.
#include <sqlite3.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>

#include "tests/test_files.h"
#include "tests/ui/cli_log.h"
#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

// The rows of `sql` on the database at `path`, values joined by '|'; "missing" when the
// statement cannot be prepared (no such table).
QStringList Rows(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  QStringList rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"missing"};
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) rows << "missing";
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    QStringList values;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      values << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
    }
    rows << values.join('|');
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

class CreateTableBoxTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    WriteFile(dir_ / "in.csv", "ID,NAME\n1,Ann\n2,\"Bo, Jr\"\n");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(shop_.c_str(), &db), SQLITE_OK);
    sqlite3_close(db);
  }
  // A run from in.csv into the table `people` of the database on the server tab.
  void Run(bool create) {
    Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "in.csv"));
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
    Click("Next1");
    Click("Next2");
    Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestOracleTab"));
    Get<QLineEdit>("Edit19")->setText(
        QString::fromStdString("Driver=" TRUNDLE_SQLITE_ODBC ";Database=" + shop_));
    Get<QComboBox>("ComboBox4")->setEditText("people");
    Get<QCheckBox>("CreateTableCheck")->setChecked(create);
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Click("TrundleButton");
  }
  QStringList WindowLog() {
    return WithoutTimes(Get<QPlainTextEdit>("Memo6")->toPlainText().split('\n'));
  }

  ScratchFolder dir_;
  const std::string shop_ = dir_ / "shop.db";
};

TEST_F(CreateTableBoxTest, TheBoxSitsOnTheServerTabUnchecked) {
  auto* box = Get<QCheckBox>("CreateTableCheck");
  EXPECT_EQ(box->text(), "Create the table if it doesn't exist");
  EXPECT_EQ(box->parentWidget(), Get("DestOracleTab"));
  EXPECT_FALSE(box->isChecked());
  // Below the table box, clear of it.
  EXPECT_GE(box->geometry().top(), Get("ComboBox4")->geometry().bottom());
}

TEST_F(CreateTableBoxTest, UncheckedTheMissingTableIsRefused) {
  Run(false);
  EXPECT_TRUE(WindowLog().contains("Can't create an Oracle table"))
      << WindowLog().join('\n').toStdString();
  EXPECT_EQ(Rows(shop_, "select * from people"), QStringList{"missing"});
}

TEST_F(CreateTableBoxTest, CheckedTheMissingTableIsMadeAndFilled) {
  Run(true);
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  const QStringList log = WindowLog();
  EXPECT_TRUE(log.contains("Table created")) << log.join('\n').toStdString();
  EXPECT_TRUE(log.contains("2 records moved")) << log.join('\n').toStdString();
  EXPECT_EQ(Rows(shop_, "select ID, NAME from people order by ID"),
            (QStringList{"1|Ann", "2|Bo, Jr"}));
}

}  // namespace
}  // namespace trundle

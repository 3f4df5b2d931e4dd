// The Fields view on the destination page: the source's fields, the names and types they
// get, the table a run creates, and the map reaching the run, a saved transfer and the
// next opening of the view.
#include <sqlite3.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>

#include "front/job_file.h"
#include "tests/test_files.h"
#include "tests/ui/sqlite_rows.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/fields_dialog.h"

namespace trundle {
namespace {

class FieldsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    WriteFile(dir_ / "in.csv", "Id,Name,City\n1,Ann,Oslo\n2,\"Bo, Jr\",Rome\n");
    Click("Next1");
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "in.csv"));
    Click("Next2");
  }
  void SqliteDestination(const std::string& database, const QString& table) {
    Get<QTabWidget>("PageControl2")->setCurrentWidget(Get("DestSqliteTab"));
    Get<QLineEdit>("DestSqliteDatabase")->setText(QString::fromStdString(database));
    Get<QComboBox>("DestSqliteTable")->setEditText(table);
  }
  FieldsDialog* OpenFields() {
    EXPECT_TRUE(Get<QPushButton>("FieldsButton")->isEnabled());
    Click("FieldsButton");
    return Get<FieldsDialog>("FieldsDialog");
  }
  static QTableWidget* Grid(FieldsDialog* dialog) {
    return dialog->findChild<QTableWidget*>("FieldsGrid");
  }
  static QString Cell(FieldsDialog* dialog, int row, int column) {
    const QTableWidgetItem* item = Grid(dialog)->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
  }
  static void Rename(FieldsDialog* dialog, int row, const QString& name) {
    Grid(dialog)->item(row, FieldsDialog::kDestinationColumn)->setText(name);
  }
  static void LeaveOut(FieldsDialog* dialog, int row, bool out) {
    Grid(dialog)->item(row, FieldsDialog::kLeaveOutColumn)
        ->setCheckState(out ? Qt::Checked : Qt::Unchecked);
  }
  static QString TableText(FieldsDialog* dialog) {
    return dialog->findChild<QPlainTextEdit*>("FieldsTableText")->toPlainText();
  }
  static QString Message(FieldsDialog* dialog) {
    return dialog->findChild<QLabel*>("FieldsMessage")->text();
  }
  void Run() {
    while (Page() < 3) Click(QString("Next%1").arg(Page() + 1).toLatin1());
    Click("TrundleButton");
  }

  ScratchFolder dir_;
  const std::string shop_ = dir_ / "shop.sqlite";
};

// The view lists the CSV's fields; a rename and a leave-out reach the table the run makes,
// whose statement is the one the view showed; the view shows the map again when reopened.
TEST_F(FieldsTest, ChoicesReachTheRunAndTheStatementShownIsTheOneRun) {
  SqliteDestination(shop_, "People");
  FieldsDialog* dialog = OpenFields();
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(Grid(dialog)->rowCount(), 3);
  // The text reader upper-cases a header, as the run passes it on.
  EXPECT_EQ(Cell(dialog, 1, FieldsDialog::kSourceColumn), "NAME");
  EXPECT_EQ(Cell(dialog, 1, FieldsDialog::kDestinationColumn), "NAME");
  EXPECT_EQ(Cell(dialog, 2, FieldsDialog::kTypeColumn), "TEXT");
  EXPECT_EQ(TableText(dialog), "CREATE TABLE \"People\" (\"ID\" TEXT, \"NAME\" TEXT, \"CITY\" TEXT)");

  Rename(dialog, 1, "Full name");
  LeaveOut(dialog, 2, true);
  Click("FieldsButton");  // a second view replaces the first, choices unsaved
  EXPECT_EQ(form_->findChildren<FieldsDialog*>().size(), 1u);
  dialog = Get<FieldsDialog>("FieldsDialog");
  EXPECT_EQ(Cell(dialog, 1, FieldsDialog::kDestinationColumn), "NAME");
  Rename(dialog, 1, "Full name");
  LeaveOut(dialog, 2, true);
  dialog->UpdatePlan();
  EXPECT_EQ(Cell(dialog, 2, FieldsDialog::kTypeColumn), "(left out)");
  const QString shown = TableText(dialog);
  EXPECT_EQ(shown, "CREATE TABLE \"People\" (\"ID\" TEXT, \"Full name\" TEXT)");
  dialog->accept();
  ASSERT_EQ(form_->Describe().field_map.size(), 2u);

  dialog = OpenFields();
  EXPECT_EQ(Cell(dialog, 1, FieldsDialog::kDestinationColumn), "Full name");
  EXPECT_EQ(Grid(dialog)->item(2, FieldsDialog::kLeaveOutColumn)->checkState(), Qt::Checked);
  EXPECT_EQ(TableText(dialog), shown);
  dialog->reject();

  Run();
  EXPECT_EQ(Query(shop_, "select sql from sqlite_master where name = 'People'"),
            QStringList({shown}));
  EXPECT_EQ(Query(shop_, "select * from People order by ID"),
            QStringList({"1|Ann", "2|Bo, Jr"}));
}

// A name given to two fields, in any letter case, keeps the view open and says why; and
// nothing of it reaches the run.
TEST_F(FieldsTest, ANameGivenTwiceIsRefused) {
  SqliteDestination(shop_, "People");
  FieldsDialog* dialog = OpenFields();
  ASSERT_NE(dialog, nullptr);
  Rename(dialog, 2, "name");
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(Message(dialog), "The field map gives two fields the name name: NAME and CITY");
  EXPECT_TRUE(form_->Describe().field_map.empty());
  // Every field left out is no table either.
  Rename(dialog, 2, "CITY");
  for (int row = 0; row < 3; ++row) LeaveOut(dialog, row, true);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(Message(dialog), "Every field is left out; keep at least one.");
  LeaveOut(dialog, 0, false);
  dialog->accept();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(form_->Describe().field_map.size(), 2u);
}

// A dBase table made new is shown as its field list; a table that exists is said to be
// there, and its fields' types are its own.
TEST_F(FieldsTest, FieldListsAndExistingTables) {
  Get<QTabWidget>("PageControl2")->setCurrentIndex(1);
  Get<QLineEdit>("Edit9")->setText(QString::fromStdString(dir_ / "out.dbf"));
  FieldsDialog* dialog = OpenFields();
  ASSERT_NE(dialog, nullptr);
  // Text is measured: each field as wide as its longest value in bytes.
  EXPECT_EQ(TableText(dialog), "ID String(1)\nNAME String(6)\nCITY String(4)\n");
  EXPECT_EQ(Cell(dialog, 1, FieldsDialog::kTypeColumn), "String(6)");
  dialog->reject();

  WriteFile(dir_ / "out.dbf", "");  // there now, whatever it holds
  dialog = OpenFields();
  EXPECT_TRUE(TableText(dialog).isEmpty());
  EXPECT_TRUE(Message(dialog).startsWith("The destination table exists"));
}

// The map belongs to its source: another file starts without one; a saved transfer keeps
// it, and opening the file brings it back to the view.
TEST_F(FieldsTest, TheMapFollowsItsSourceAndItsTransferFile) {
  SqliteDestination(shop_, "People");
  FieldsDialog* dialog = OpenFields();
  ASSERT_NE(dialog, nullptr);
  LeaveOut(dialog, 0, true);
  dialog->accept();
  ASSERT_EQ(form_->Describe().field_map.size(), 1u);

  dialogs_->file = FileDialogAnswer{QString::fromStdString(dir_ / "t.json"), 1};
  form_->findChild<QAction*>("SaveTransfer1")->trigger();
  const JobDescription saved = LoadJobFile(dir_ / "t.json");
  ASSERT_EQ(saved.field_map.size(), 1u);
  EXPECT_EQ(saved.field_map[0].source, "ID");
  EXPECT_EQ(saved.field_map[0].destination, "");

  WriteFile(dir_ / "other.csv", "Id,Name\n1,x\n");
  Click("Back3");
  Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "other.csv"));
  EXPECT_TRUE(form_->Describe().field_map.empty());
  // Back to the first file: the map was forgotten, not hidden.
  Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir_ / "in.csv"));
  EXPECT_TRUE(form_->Describe().field_map.empty());

  ASSERT_TRUE(form_->OpenTransferFile(QString::fromStdString(dir_ / "t.json")));
  ASSERT_EQ(form_->Describe().field_map.size(), 1u);
  dialog = OpenFields();
  EXPECT_EQ(Grid(dialog)->item(0, FieldsDialog::kLeaveOutColumn)->checkState(), Qt::Checked);
}

}  // namespace
}  // namespace trundle

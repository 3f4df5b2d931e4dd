// The source page's preview: the grid, the code page it reads in, a source it cannot read,
// and when the button may be pressed.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>

#include "tests/test_files.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/preview_dialog.h"

namespace trundle {
namespace {

class PreviewTest : public WindowTest {
 protected:
  // Names a comma-delimited source file on the Text tab.
  void ChooseCsv(const std::string& path) {
    Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
    Get<QLineEdit>("Edit1")->setText(QString::fromStdString(path));
  }
  PreviewDialog* OpenPreview() {
    EXPECT_TRUE(Get<QPushButton>("PreviewButton")->isEnabled());
    Click("PreviewButton");
    return Get<PreviewDialog>("PreviewDialog");
  }
  static QString Cell(QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
  }
  static QStringList Headers(QTableWidget* grid) {
    QStringList names;
    for (int i = 0; i < grid->columnCount(); ++i)
      names << grid->horizontalHeaderItem(i)->text();
    return names;
  }
  ScratchFolder folder_;
};

TEST_F(PreviewTest, TheGridShowsTheFieldsAndTheFirstRecords) {
  const std::string path = folder_ / "people.csv";
  std::string text = "name,city,age\n\"Smith, Anne\",Oslo,41\nBob,,7\n";
  WriteFile(path, text);
  Click("Next1");
  ChooseCsv(path);
  PreviewDialog* dialog = OpenPreview();
  ASSERT_NE(dialog, nullptr);
  auto* grid = dialog->findChild<QTableWidget*>("PreviewGrid");
  // The names as the run passes them on: the text reader upper-cases a header.
  EXPECT_EQ(Headers(grid), QStringList({"NAME", "CITY", "AGE"}));
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(Cell(grid, 0, 0), "Smith, Anne");  // the quoted comma stays in its field
  EXPECT_EQ(Cell(grid, 0, 2), "41");
  EXPECT_EQ(Cell(grid, 1, 1), "");
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(dialog->findChild<QLabel*>("PreviewMessage")->text(), "All 2 records of the source.");

  // A longer file shows only its first records, and says so; a second preview replaces
  // the first.
  for (int i = 0; i < 150; ++i) text.append("R").append(std::to_string(i)).append(",x,1\n");
  WriteFile(path, text);
  dialog = OpenPreview();
  EXPECT_EQ(form_->findChildren<PreviewDialog*>().size(), 1);
  grid = dialog->findChild<QTableWidget*>("PreviewGrid");
  ASSERT_EQ(grid->rowCount(), PreviewDialog::kPreviewRecords);
  EXPECT_EQ(Cell(grid, 99, 0), "R97");
  EXPECT_EQ(dialog->findChild<QLabel*>("PreviewMessage")->text(),
            "The first 100 records of the source.");
}

TEST_F(PreviewTest, AnotherCodePageReadsTheFileAgain) {
  const std::string path = folder_ / "latin1.csv";
  WriteFile(path, "name\nJos\xe9\n");  // é in Latin-1, no valid UTF-8
  Click("Next1");
  ChooseCsv(path);
  PreviewDialog* dialog = OpenPreview();
  ASSERT_NE(dialog, nullptr);
  auto* grid = dialog->findChild<QTableWidget*>("PreviewGrid");
  auto* pages = dialog->findChild<QComboBox*>("PreviewCodePage");
  auto* label = dialog->findChild<QLabel*>("PreviewCodePageLabel");
  EXPECT_TRUE(pages->isVisibleTo(dialog));
  EXPECT_TRUE(label->text().startsWith("Code page: UTF-8, or ")) << label->text().toStdString();

  pages->setCurrentIndex(pages->findData(QStringLiteral("ISO-8859-1")));
  EXPECT_EQ(Cell(grid, 0, 0), QString::fromUtf8("Jos\u00e9"));
  EXPECT_EQ(label->text(), "Code page: ISO-8859-1");
  pages->setCurrentIndex(pages->findData(QStringLiteral("CP1251")));
  EXPECT_EQ(Cell(grid, 0, 0), QString::fromUtf8("Jos\u0439"));  // 0xE9 is й there
  EXPECT_EQ(dialog->ChosenCodePage(), "CP1251");
}

TEST_F(PreviewTest, ASourceThatCannotBeReadShowsTheAdaptorsMessage) {
  const std::string path = folder_ / "broken.dbf";
  WriteFile(path, "not a table at all");
  Click("Next1");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
  Get<QLineEdit>("Edit2")->setText(QString::fromStdString(path));
  PreviewDialog* dialog = OpenPreview();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->findChild<QTableWidget*>("PreviewGrid")->rowCount(), 0);
  const QString message = dialog->findChild<QLabel*>("PreviewMessage")->text();
  EXPECT_TRUE(message.contains("broken.dbf")) << message.toStdString();

  // A text file that is gone is said to be so, as a run would say it.
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  ChooseCsv(folder_ / "missing.csv");
  dialog = OpenPreview();
  const QString gone = dialog->findChild<QLabel*>("PreviewMessage")->text();
  EXPECT_TRUE(gone.contains("missing.csv")) << gone.toStdString();
}

TEST_F(PreviewTest, TheButtonWaitsForASource) {
  auto* button = Get<QPushButton>("PreviewButton");
  Click("Next1");
  EXPECT_FALSE(button->isEnabled());
  Get<QLineEdit>("Edit1")->setText("a.csv");
  EXPECT_FALSE(button->isEnabled());  // no file type chosen yet
  Get<QRadioButton>("BrowseSourceTextGroupItem1")->setChecked(true);
  EXPECT_TRUE(button->isEnabled());
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);  // Access: no database named
  EXPECT_FALSE(button->isEnabled());
  Get<QLineEdit>("Edit4")->setText("db.mdb");
  EXPECT_FALSE(button->isEnabled());  // nor a table
  Get<QComboBox>("ComboBox1")->setEditText("Orders");
  EXPECT_TRUE(button->isEnabled());
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  Get<QLineEdit>("Edit1")->clear();
  EXPECT_FALSE(button->isEnabled());
}

}  // namespace
}  // namespace trundle

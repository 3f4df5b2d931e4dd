// The window's pages: navigation, keys, the reset, the source and destination controls.
#include <QAccessible>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextCursor>
#include <algorithm>
#include <stdexcept>

#include "tests/databases/access/access_test_util.h"
#include "tests/test_files.h"
#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

using MainFormTest = WindowTest;

TEST_F(MainFormTest, BackAndNextWalkThePagesAndMoveTheFocus) {
  EXPECT_EQ(Page(), 0);  // the first show replaced the stored page 3
  EXPECT_EQ(QApplication::focusWidget(), Get("Next1"));
  Click("Back1");
  EXPECT_EQ(Page(), 0);
  Click("Next1");
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(QApplication::focusWidget(), Get("Edit1"));
  Click("Next2");
  EXPECT_EQ(Page(), 2);
  EXPECT_EQ(QApplication::focusWidget(), Get("Edit8"));
  Click("Next3");
  EXPECT_EQ(Page(), 3);
  EXPECT_EQ(form_->findChild<QWidget*>("Next4"), nullptr);
  Click("Back4");
  Click("Back3");
  EXPECT_EQ(Page(), 1);

  // dBase tabs focus their table box; the Oracle tab leaves the focus where it was.
  Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
  Get<QTabWidget>("PageControl2")->setCurrentIndex(1);
  Click("Back2");
  Click("Next1");
  EXPECT_EQ(QApplication::focusWidget(), Get("Edit2"));
  Click("Next2");
  EXPECT_EQ(QApplication::focusWidget(), Get("Edit9"));
  Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  Click("Back3");
  EXPECT_EQ(Page(), 1);
  for (const char* box : {"Edit1", "Edit2", "Edit15"})
    EXPECT_NE(QApplication::focusWidget(), Get(box)) << box;
}

TEST_F(MainFormTest, EnterPressesNextAndEscapeAsksToQuit) {
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(Page(), 1);
  QTest::keyClicks(Get("Edit1"), "a.csv");
  QTest::keyClick(Get("Edit1"), Qt::Key_Enter);
  EXPECT_EQ(Page(), 2);
  // A button with the focus is the one Enter presses.
  Get("Back3")->setFocus();
  QTest::keyClick(Get("Back3"), Qt::Key_Return);
  EXPECT_EQ(Page(), 1);

  dialogs_->answer = false;
  QTest::keyClick(Get("Edit1"), Qt::Key_Escape);
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(dialogs_->questions[0], "Are you sure you want to quit?");
  // No leaves everything as it was: the reset ran at the first show only.
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Get<QLineEdit>("Edit1")->text(), "a.csv");
  EXPECT_TRUE(form_->isVisible());

  dialogs_->answer = true;
  Click("Cancel2");
  EXPECT_EQ(dialogs_->questions.size(), 2u);
  EXPECT_FALSE(form_->isVisible());
}

// The run page's default button is Trundle: it has the focus when the page shows, and

// A file dropped from a file manager onto a path box gives the box its path, on every tab
// with a Browse button; a web address or a dragged text is not a path and is left to the
// box as ever.
TEST_F(MainFormTest, AFileDroppedOnAPathBoxGivesItsPath) {
  const auto drop = [](QLineEdit* box, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &enter);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(box, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
  };
  std::vector<std::string> boxes;
  for (auto* button : form_->findChildren<QPushButton*>()) {
    if (!button->objectName().startsWith("Browse")) continue;
    QLineEdit* box = nullptr;
    for (auto* edit : button->parentWidget()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
      if (edit->geometry().top() == button->geometry().top()) box = edit;
    ASSERT_NE(box, nullptr) << button->objectName().toStdString();
    boxes.push_back(box->objectName().toStdString());
    const QString path = "/data/old shop/" + box->objectName() + " ü.dbf";
    EXPECT_TRUE(drop(box, {QUrl("https://example.invalid/x.csv"), QUrl::fromLocalFile(path)}));
    EXPECT_EQ(box->text(), path);
    box->setText("kept");
    EXPECT_FALSE(drop(box, {QUrl("https://example.invalid/x.csv")}));
    EXPECT_EQ(box->text(), "kept");
  }
  // Both ends' text, dBase, Paradox and Access boxes at least.
  for (const char* name : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit8", "Edit9", "Edit10", "Edit11"})
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), name), boxes.end()) << name;
  // A drop is as typing: the source page follows it.
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  drop(Get<QLineEdit>("Edit1"), {QUrl::fromLocalFile("/in/t.csv")});
  EXPECT_EQ(form_->Describe().source.file, "/in/t.csv");
}

// Enter presses it wherever the focus is on the page, not Back.
TEST_F(MainFormTest, EnterWalksToTheRunPageAndStartsTheRun) {
  for (int page = 1; page <= 3; ++page) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Page(), page);
  }
  EXPECT_EQ(QApplication::focusWidget(), Get("TrundleButton"));
  EXPECT_TRUE(Get<QPushButton>("TrundleButton")->isDefault());
  // Alt+T, which no other control of the page takes.
  QStringList mnemonics;
  for (auto* button : Get("Execute")->findChildren<QAbstractButton*>())
    mnemonics << QKeySequence::mnemonic(button->text()).toString();
  EXPECT_EQ(mnemonics.count(QKeySequence(Qt::ALT | Qt::Key_T).toString()), 1)
      << mnemonics.join(' ').toStdString();
  EXPECT_EQ(mnemonics.removeDuplicates(), 0) << mnemonics.join(' ').toStdString();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(Page(), 3);
  // Nothing was filled in: the run names what is missing.
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0], "Fill in the source file on the Source Data page");
  Get("Memo6")->setFocus();
  QTest::keyClick(Get("Memo6"), Qt::Key_Enter);
  EXPECT_EQ(Page(), 3);
  EXPECT_EQ(dialogs_->errors.size(), 2u);
}

TEST_F(MainFormTest, TheKeyboardRunsTheMoveAgainWithoutLeavingThePage) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "A,B\n1,2\n");
  Click("Next1");
  Get<QLineEdit>("Edit1")->setText(QString::fromStdString(dir / "in.csv"));
  Get<QRadioButton>("BrowseSourceTextGroupItem0")->setChecked(true);
  Click("Next2");
  Get<QLineEdit>("Edit8")->setText(QString::fromStdString(dir / "out.csv"));
  Click("Next3");
  for (int run = 1; run <= 2; ++run) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
    EXPECT_EQ(Page(), 3) << run;
    EXPECT_EQ(QApplication::focusWidget(), Get("TrundleButton")) << run;
  }
  // Two runs: the header line, then the record of each.
  const std::string out = ReadFile(dir / "out.csv");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
}

TEST_F(MainFormTest, MessageBoxesDoNotResetThePages) {
  Click("Next1");
  Get<QLineEdit>("Edit1")->setText("kept.csv");
  form_->findChild<QAction*>("About1")->trigger();
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_TRUE(dialogs_->messages[0].startsWith("Trundle v" TRUNDLE_VERSION "\n"));
  EXPECT_EQ(dialogs_->messages[0].count('\n'), 2);
  form_->hide();  // as a box would take the activation away and give it back
  form_->show();
  QApplication::processEvents();
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Get<QLineEdit>("Edit1")->text(), "kept.csv");
  EXPECT_EQ(Get<QComboBox>("ComboBox1")->currentText(), "<Select table>");
  EXPECT_EQ(Get<QLineEdit>("Edit12")->text(), "Banner.html");
}

TEST_F(MainFormTest, ProposedSqlFollowsTheTableBoxes) {
  ScratchFolder dir;
  WriteFile(dir / "t.dbf", "x");
  auto* table = Get<QLineEdit>("Edit2");
  auto* sql = Get<QPlainTextEdit>("Memo2");
  table->setText(QString::fromStdString(dir / "t.db"));
  EXPECT_EQ(sql->toPlainText(), "");
  // Typing the last letter completes the name of a file that exists.
  QTest::keyClicks(table, "f");
  EXPECT_EQ(sql->toPlainText().toStdString(), "select * from \"" + (dir / "t.dbf") + "\"");
  QTest::keyClick(table, Qt::Key_Backspace);
  EXPECT_EQ(sql->toPlainText(), "");

  auto* access_table = Get<QComboBox>("ComboBox1");
  access_table->setEditText("Orders");
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "select * from [Orders]");
  access_table->setEditText("");
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "");

  // A statement the user edited stays when the table's name changes; emptied, the box
  // follows the name again.
  QTest::keyClicks(table, "f");
  sql->setPlainText("select NAME from t where ID > 2");
  table->setText(QString::fromStdString(dir / "other.dbf"));
  EXPECT_EQ(sql->toPlainText(), "select NAME from t where ID > 2");
  table->clear();
  EXPECT_EQ(sql->toPlainText(), "select NAME from t where ID > 2");
  sql->clear();
  table->setText(QString::fromStdString(dir / "t.dbf"));
  EXPECT_EQ(sql->toPlainText().toStdString(), "select * from \"" + (dir / "t.dbf") + "\"");
  access_table->setEditText("Orders");
  Get<QPlainTextEdit>("Memo4")->moveCursor(QTextCursor::End);
  QTest::keyClicks(Get("Memo4"), " where 1=1");
  access_table->setEditText("Customers");
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "select * from [Orders] where 1=1");
  Get<QComboBox>("ComboBox2")->setEditText("EMP");
  EXPECT_EQ(Get<QPlainTextEdit>("Memo5")->toPlainText(), "select * from EMP");
  // Nothing proposes SQL for a destination.
  EXPECT_TRUE(Get("Destination")->findChildren<QPlainTextEdit*>().isEmpty());
}

TEST_F(MainFormTest, HtmlTitleFollowsTheDestinationFile) {
  auto* file = Get<QLineEdit>("Edit8");
  auto* title = Get<QLineEdit>("Edit7");
  file->setText("/out/sales.2004.html");
  EXPECT_EQ(title->text(), "sales");
  title->setText("My own title");
  QTest::keyClicks(file, "x");  // any change replaces a title typed by hand
  EXPECT_EQ(title->text(), "sales");
  file->setText("/out.d/report");
  EXPECT_EQ(title->text(), "report");
}

TEST_F(MainFormTest, OptionsAreaFollowsTheFileType) {
  auto* area = Get<QStackedWidget>("Notebook2");
  auto* comma = Get<QRadioButton>("BrowseDestTextGroupItem0");
  auto* tab = Get<QRadioButton>("BrowseDestTextGroupItem1");
  auto* html = Get<QRadioButton>("BrowseDestTextGroupItem2");
  Click("Next1");
  Click("Next2");
  EXPECT_TRUE(comma->isChecked());
  EXPECT_FALSE(area->isVisible());
  QTest::mouseClick(tab, Qt::LeftButton);
  EXPECT_TRUE(area->isVisible());
  EXPECT_EQ(area->currentIndex(), 0);
  EXPECT_TRUE(Get("ClipboardCheck")->isVisible());
  // The keyboard changes the selection as the mouse does.
  tab->setFocus();
  QTest::keyClick(tab, Qt::Key_Down);
  EXPECT_TRUE(html->isChecked());
  EXPECT_EQ(area->currentIndex(), 1);
  EXPECT_TRUE(Get("Edit7")->isVisible());
  comma->setChecked(true);  // as the accessibility bus would
  EXPECT_FALSE(area->isVisible());
}

TEST_F(MainFormTest, BrowsingForAFileSetsTheFileType) {
  auto* area = Get<QStackedWidget>("Notebook2");
  Click("Next1");
  Click("Next2");
  dialogs_->file = FileDialogAnswer{"/out/page.html", 3};
  Click("BrowseDestTextButton");
  ASSERT_EQ(dialogs_->requests.size(), 1u);
  const FileDialogRequest& r = dialogs_->requests[0];
  EXPECT_TRUE(r.save);
  EXPECT_EQ(r.title, "Select destination file");
  EXPECT_EQ(r.filters.join('|'), "Comma delimited (*.csv)|Tab delimited (*.txt)|Html (*.html)|"
                                 "All files (*.*)");
  EXPECT_EQ(r.filter_index, 1);
  EXPECT_EQ(r.default_suffix, "csv");
  EXPECT_TRUE(r.prompt_to_create);
  EXPECT_EQ(Get<QLineEdit>("Edit8")->text(), "/out/page.html");
  EXPECT_TRUE(Get<QRadioButton>("BrowseDestTextGroupItem2")->isChecked());
  EXPECT_TRUE(area->isVisible());
  EXPECT_EQ(area->currentIndex(), 1);
  EXPECT_EQ(Get<QLineEdit>("Edit7")->text(), "page");

  // "All files": no file type, the options area as it was.
  dialogs_->file = FileDialogAnswer{"/out/any", 4};
  Click("BrowseDestTextButton");
  EXPECT_EQ(dialogs_->requests.back().filter_index, 3);
  EXPECT_EQ(dialogs_->requests.back().default_suffix, "html");
  for (const char* item : {"BrowseDestTextGroupItem0", "BrowseDestTextGroupItem1",
                           "BrowseDestTextGroupItem2"})
    EXPECT_FALSE(Get<QRadioButton>(item)->isChecked()) << item;
  EXPECT_TRUE(area->isVisible());
  EXPECT_EQ(area->currentIndex(), 1);
  EXPECT_EQ(form_->Describe().destination.kind, dkUnknown);

  // Cancel changes nothing.
  dialogs_->file.reset();
  Click("BrowseDestTextButton");
  EXPECT_EQ(Get<QLineEdit>("Edit8")->text(), "/out/any");

  // A source text browse with no type chosen keeps the suffix the last browse set.
  Click("Back3");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(1);
  dialogs_->file = FileDialogAnswer{"/in/t.dbf", 1};
  Click("BrowseSourcedBaseButton");
  EXPECT_EQ(dialogs_->requests.back().default_suffix, "dbf");
  EXPECT_EQ(dialogs_->requests.back().filters.join('|'), "dBase (*.dbf)|All files (*.*)");
  EXPECT_EQ(dialogs_->requests.back().filter_index, 0);
  EXPECT_FALSE(dialogs_->requests.back().save);
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  dialogs_->file = FileDialogAnswer{"/in/t.txt", 2};
  Click("BrowseSourceTextButton");
  EXPECT_EQ(dialogs_->requests.back().filter_index, 0);
  EXPECT_EQ(dialogs_->requests.back().default_suffix, "dbf");
  EXPECT_EQ(dialogs_->requests.back().title, "Select source file");
  EXPECT_TRUE(Get<QRadioButton>("BrowseSourceTextGroupItem1")->isChecked());
  EXPECT_EQ(form_->Describe().source.kind, dkText);
}

TEST_F(MainFormTest, TableListsComeFromTheListerOrSayTheyCannot) {
  Click("Next1");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  auto* combo = Get<QComboBox>("ComboBox1");
  form_->SetTableLister(dkAccess, nullptr);
  combo->setFocus();
  // The entry that moves every table heads a source's list, listed tables or not.
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "(all tables)");
  EXPECT_TRUE(combo->itemText(1).contains("not available"));
  EXPECT_EQ(combo->currentText(), "<Select table>");

  EndDescription asked;
  form_->SetTableLister(dkAccess, [&asked](const EndDescription& end) {
    asked = end;
    return std::vector<std::string>{"Customers", "Orders"};
  });
  // The lister is asked only about a file that is there.
  ScratchFolder dir;
  WriteFile(dir / "shop.mdb", "");
  Get<QLineEdit>("Edit4")->setText(QString::fromStdString(dir / "shop.mdb"));
  Get<QLineEdit>("Edit6")->setText("secret");
  Get<QRadioButton>("SourceAccessVersionGroupItem1")->setChecked(true);
  combo->setEditText("Orders");
  Get<QPlainTextEdit>("Memo4")->setPlainText("select Name from Orders");
  Get("Edit4")->setFocus();
  combo->setFocus();
  EXPECT_EQ(asked.database, dir / "shop.mdb");
  EXPECT_EQ(asked.password, "secret");
  EXPECT_EQ(asked.dao_version, "dao36");
  ASSERT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(2), "Orders");
  EXPECT_EQ(combo->currentText(), "Orders");
  EXPECT_EQ(Get<QPlainTextEdit>("Memo4")->toPlainText(), "select Name from Orders");

  form_->SetTableLister(dkOracle, [](const EndDescription&) -> std::vector<std::string> {
    throw std::runtime_error("ORA-01017: invalid username/password; logon denied");
  });
  Get<QTabWidget>("PageControl1")->setCurrentIndex(4);
  Get<QLineEdit>("Edit15")->setText("ORCL");
  Get<QComboBox>("ComboBox2")->setFocus();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0], "ORA-01017: invalid username/password; logon denied.");
  EXPECT_EQ(dialogs_->error_captions[0], "Trundle");
  EXPECT_EQ(Get<QComboBox>("ComboBox2")->currentText(), "<Select table>");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, TheAccessTableListIsReadFromTheDatabase) {
  Click("Next1");
  Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
  const std::string fixture = testing::AccessFixture("testV1997.mdb");
  Get<QLineEdit>("Edit4")->setText(QString::fromStdString(fixture));
  Get<QComboBox>("ComboBox1")->setFocus();
  ASSERT_TRUE(dialogs_->errors.empty()) << dialogs_->errors[0].toStdString();
  QStringList listed;
  for (int i = 0; i < Get<QComboBox>("ComboBox1")->count(); ++i)
    listed << Get<QComboBox>("ComboBox1")->itemText(i);
  const QString oracle =
      QString::fromStdString(testing::CommandOutput("mdb-tables -1 " + testing::ShellWord(fixture)));
  EXPECT_EQ(listed, QStringList("(all tables)") + oracle.split('\n', Qt::SkipEmptyParts));

  // A file that is no database: the engine's message in the error box.
  ScratchFolder dir;
  WriteFile(dir / "not.mdb", std::string(4096, 'x'));
  Get<QLineEdit>("Edit4")->setText(QString::fromStdString(dir / "not.mdb"));
  Get("Edit4")->setFocus();
  Get<QComboBox>("ComboBox1")->setFocus();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_TRUE(dialogs_->errors[0].endsWith('.'));
  EXPECT_TRUE(dialogs_->error_icons[0]);
  EXPECT_EQ(Get<QComboBox>("ComboBox1")->currentText(), "<Select table>");
}

// Entering a table box raises no box for a database not named or not made yet, and a
// database that cannot be opened is said once, not again at every entry.
TEST_F(MainFormTest, EnteringATableBoxRaisesABoxOnlyForANewFailure) {
  int listed = 0;
  for (TDataKind kind : {dkAccess, dkOracle})
    form_->SetTableLister(kind, [&listed](const EndDescription& end) -> std::vector<std::string> {
      ++listed;
      throw std::runtime_error("Could not open " + end.database + ": no database");
    });
  Click("Next1");
  Click("Next2");
  Get<QTabWidget>("PageControl2")->setCurrentIndex(3);
  auto* combo = Get<QComboBox>("ComboBox3");
  combo->setFocus();  // no database named
  ScratchFolder dir;
  Get<QLineEdit>("Edit11")->setText(QString::fromStdString(dir / "new.mdb"));
  QTest::mouseClick(Get<QCheckBox>("CreateDatabaseCheck"), Qt::LeftButton);
  Get("Edit11")->setFocus();
  combo->setFocus();  // a database the run is to make
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_EQ(listed, 0);
  EXPECT_EQ(combo->count(), 0);

  WriteFile(dir / "new.mdb", "no database");
  Get("Edit11")->setFocus();
  combo->setFocus();
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  // Back and Next, and the box entered again: the list says it, no second box.
  Click("Back3");
  Click("Next2");
  Get("Edit11")->setFocus();
  combo->setFocus();
  EXPECT_EQ(listed, 2);
  EXPECT_EQ(dialogs_->errors.size(), 1u);
  ASSERT_EQ(combo->count(), 1);
  EXPECT_TRUE(combo->itemText(0).contains("no database"));
  // Other entries are another attempt, which may fail with a box of its own.
  Get<QLineEdit>("Edit5")->setText("secret");
  Get("Edit11")->setFocus();
  combo->setFocus();
  EXPECT_EQ(dialogs_->errors.size(), 2u);
  // The server tab with no database named lists nothing and asks nothing.
  Get<QTabWidget>("PageControl2")->setCurrentIndex(4);
  Get<QComboBox>("ComboBox4")->setFocus();
  EXPECT_EQ(listed, 3);
  EXPECT_EQ(dialogs_->errors.size(), 2u);
}

// The Access tabs choose the version the database's header names and say what they
// found; "create" with Access 97 says that the new database is not one Access 97 opens.
TEST_F(MainFormTest, TheAccessVersionFollowsTheDatabaseFile) {
  auto* group = Get<QGroupBox>("SourceAccessVersionGroup");
  struct Case {
    const char* fixture;
    int item;
    const char* found;
  } cases[] = {{"testV2000.mdb", 1, "Access 2000"},
               {"testV1997.mdb", 0, "Access 97"},
               {"testV2003.mdb", 1, "Access 2000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    Get<QLineEdit>("Edit4")->setText(QString::fromStdString(testing::AccessFixture(c.fixture)));
    EXPECT_TRUE(Get<QRadioButton>(QString("SourceAccessVersionGroupItem%1").arg(c.item).toLatin1())
                    ->isChecked());
    EXPECT_EQ(group->title(), QString("Database version: the file is an %1 database").arg(c.found));
  }
  // A file that is no database leaves the choice and says nothing.
  ScratchFolder dir;
  WriteFile(dir / "not.mdb", std::string(4096, 'x'));
  Get<QLineEdit>("Edit4")->setText(QString::fromStdString(dir / "not.mdb"));
  EXPECT_TRUE(Get<QRadioButton>("SourceAccessVersionGroupItem1")->isChecked());
  EXPECT_EQ(group->title(), "Database version");

  auto* dest = Get<QGroupBox>("DestAccessVersionGroup");
  Get<QLineEdit>("Edit11")->setText(QString::fromStdString(dir / "new.mdb"));
  QTest::mouseClick(Get<QCheckBox>("CreateDatabaseCheck"), Qt::LeftButton);
  EXPECT_TRUE(dest->title().endsWith("a new database is made as Access 2000"));
  Get<QRadioButton>("DestAccessVersionGroupItem0")->setChecked(true);
  EXPECT_TRUE(dest->title().contains("Access 97 cannot open the new database"))
      << dest->title().toStdString();
}

TEST_F(MainFormTest, ControlsAreNamedForScreenReadersAndScripts) {
  for (QWidget* widget : form_->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
                         qobject_cast<QAbstractButton*>(widget) ||
                         qobject_cast<QPlainTextEdit*>(widget) || widget->objectName() == "Gauge1";
    if (!control || widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
      continue;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(face, nullptr);
    EXPECT_FALSE(face->text(QAccessible::Name).isEmpty()) << widget->objectName().toStdString();
    EXPECT_EQ(face->text(QAccessible::Description), widget->objectName());
  }
  auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
  // The typing part of a table combo box is named by the box's label.
  for (const char* combo : {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4"}) {
    EXPECT_EQ(name(Get<QComboBox>(combo)->lineEdit()),
              Get<QLabel>((std::string(combo) + "Label").c_str())->text());
  }
  // Parts Qt builds inside controls carry no design name.
  EXPECT_EQ(Get("Memo6")->findChild<QWidget*>("qt_scrollarea_viewport")->accessibleDescription(), "");
  EXPECT_EQ(name(Get("Edit1")), "Source File");
  EXPECT_EQ(name(Get("Edit21")), "Password");
  EXPECT_EQ(name(Get("Memo6")), "Log");
  EXPECT_EQ(name(Get("Gauge1")), "Progress");
  EXPECT_EQ(name(Get("Next2")), "Next");
  // The run page's buttons sit in the panel of that design name.
  EXPECT_EQ(Get("Back4")->parentWidget(), Get("Panel4"));
  EXPECT_EQ(Get("Cancel4")->parentWidget(), Get("Panel4"));
}

TEST_F(MainFormTest, TheIntroductionBreaksItsLinesAsDesigned) {
  EXPECT_EQ(
      Get<QPlainTextEdit>("Memo1")->toPlainText().split('\n'),
      (QStringList{"Trundle provides a simple tool for moving data between tables of the same ",
                   "database, different databases, different database systems or extracting "
                   "to a text ",
                   "file.", "",
                   "You can select from a number of methods for selecting the "
                   "data to be moved.",
                   "", "Click the Next button to begin."}));
}

TEST_F(MainFormTest, RadioItemsSitInsideTheirFrames) {
  Click("Next1");
  ExpectRadioItemsInsideTheirFrames(*form_);
  Click("Next2");
  ExpectRadioItemsInsideTheirFrames(*form_);
}

TEST_F(MainFormTest, MenuCommandsAreFoundAndPressedByTheirDesignNames) {
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(form_->menuBar());
  ASSERT_EQ(bar->childCount(), 2);
  QAccessibleInterface* file = bar->child(0);
  QAccessibleInterface* help = bar->child(1);
  EXPECT_EQ(file->text(QAccessible::Name), "File");
  EXPECT_EQ(file->text(QAccessible::Description), "File1");
  EXPECT_EQ(file->text(QAccessible::Accelerator), "Alt+F");
  EXPECT_EQ(help->text(QAccessible::Description), "Help1");
  ASSERT_EQ(file->childCount(), 1);
  EXPECT_EQ(file->child(0)->object(), form_->findChild<QMenu*>("File1"));
  // Open and Save Transfer, Recent Files, then Exit (separators have no name).
  QAccessibleInterface* exit = nullptr;
  QStringList file_commands;
  for (int i = 0; i < file->child(0)->childCount(); ++i) {
    QAccessibleInterface* item = file->child(0)->child(i);
    if (item->text(QAccessible::Description).isEmpty()) continue;
    file_commands << item->text(QAccessible::Description);
    if (file_commands.back() == "Exit1") exit = item;
  }
  EXPECT_EQ(file_commands, QStringList({"OpenTransfer1", "SaveTransfer1", "RecentFiles1", "Exit1"}));
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(exit->role(), QAccessible::MenuItem);
  EXPECT_EQ(exit->text(QAccessible::Name), "Exit");
  EXPECT_EQ(exit->text(QAccessible::Description), "Exit1");
  EXPECT_EQ(exit->parent()->object(), file->child(0)->object());
  QStringList commands;
  for (int i = 0; i < help->child(0)->childCount(); ++i)
    commands << help->child(0)->child(i)->text(QAccessible::Description);
  EXPECT_EQ(commands, QStringList({"ReadMe1", "About1"}));

  exit->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(dialogs_->questions[0], "Are you sure you want to quit?");
}

TEST_F(MainFormTest, ReadMeSaysWhereTheFileIsWhenTheDesktopCannotOpenIt) {
  form_->findChild<QAction*>("ReadMe1")->trigger();
  EXPECT_TRUE(dialogs_->messages.empty());
  dialogs_->desktop_opens = false;
  form_->findChild<QAction*>("ReadMe1")->trigger();
  ASSERT_EQ(dialogs_->opened.size(), 2u);
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_TRUE(dialogs_->messages[0].contains(dialogs_->opened[1])) << dialogs_->messages[0].toStdString();
}

}  // namespace
}  // namespace trundle

// File > Save Transfer writes what the pages say; File > Open Transfer puts it back on
// every page, and a file it cannot use changes nothing.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <cstdlib>

#include "front/job_file.h"
#include "tests/test_files.h"
#include "tests/ui/fake_dialogs.h"

namespace trundle {
namespace {

void ExpectSameJob(const JobDescription& a, const JobDescription& b) {
  for (const auto& [x, y] : {std::pair(&a.source, &b.source),
                             std::pair(&a.destination, &b.destination)}) {
    EXPECT_EQ(x->kind, y->kind);
    EXPECT_EQ(x->file, y->file);
    EXPECT_EQ(x->database, y->database);
    EXPECT_EQ(x->user, y->user);
    EXPECT_EQ(x->password, y->password);
    EXPECT_EQ(x->password_env, y->password_env);
    EXPECT_EQ(x->dao_version, y->dao_version);
    EXPECT_EQ(x->table, y->table);
    EXPECT_EQ(x->sql, y->sql);
    EXPECT_EQ(x->encoding, y->encoding);
    EXPECT_EQ(x->create_database, y->create_database);
    EXPECT_EQ(x->create_table, y->create_table);
  }
  EXPECT_EQ(a.if_exists, b.if_exists);
  EXPECT_EQ(a.on_error, b.on_error);
  EXPECT_EQ(a.reject_file, b.reject_file);
  EXPECT_EQ(a.max_rejects, b.max_rejects);
  EXPECT_EQ(a.batch_size, b.batch_size);
  EXPECT_EQ(a.html_title, b.html_title);
  EXPECT_EQ(a.html_banner, b.html_banner);
  EXPECT_EQ(a.clipboard, b.clipboard);
}

class JobPagesTest : public WindowTest {
 protected:
  void Trigger(const char* action) { form_->findChild<QAction*>(action)->trigger(); }
  void SaveTo(const std::string& path) {
    dialogs_->file = FileDialogAnswer{QString::fromStdString(path), 1};
    Trigger("SaveTransfer1");
  }
  void OpenFrom(const std::string& path) {
    dialogs_->file = FileDialogAnswer{QString::fromStdString(path), 1};
    Trigger("OpenTransfer1");
  }
  // An Access source read by a statement into a server table made on request, records
  // set aside: most boxes and choices away from what a new window shows.
  void FillAccessToServer() {
    Get<QTabWidget>("PageControl1")->setCurrentIndex(3);
    Get<QLineEdit>("Edit4")->setText("/data/shop.mdb");
    Get<QRadioButton>("SourceAccessVersionGroupItem0")->setChecked(true);
    Get<QComboBox>("ComboBox1")->setEditText("Orders");
    Get<QPlainTextEdit>("Memo4")->setPlainText("select Id, Total\nfrom [Orders]");
    Get<QTabWidget>("PageControl2")->setCurrentIndex(4);
    Get<QLineEdit>("Edit19")->setText("Driver=X;Server=127.0.0.1");
    Get<QLineEdit>("Edit20")->setText("clerk");
    Get<QComboBox>("ComboBox4")->setEditText("orders_copy");
    Get<QCheckBox>("CreateTableCheck")->setChecked(true);
    Get<QRadioButton>("OnErrorGroupItem1")->setChecked(true);
  }
  ScratchFolder folder_;
};

TEST_F(JobPagesTest, OpeningASavedTransferRestoresEveryPage) {
  FillAccessToServer();
  const JobDescription saved = form_->Describe();
  SaveTo(folder_ / "job.json");
  EXPECT_TRUE(dialogs_->errors.empty());
  ASSERT_TRUE(dialogs_->requests.back().save);

  // Another transfer on the pages, then the saved one opened over it.
  Get<QTabWidget>("PageControl1")->setCurrentIndex(0);
  Get<QLineEdit>("Edit1")->setText("other.csv");
  Get<QTabWidget>("PageControl2")->setCurrentIndex(0);
  Get<QRadioButton>("BrowseDestTextGroupItem2")->setChecked(true);
  Get<QRadioButton>("OnErrorGroupItem0")->setChecked(true);
  OpenFrom(folder_ / "job.json");
  EXPECT_TRUE(dialogs_->errors.empty()) << dialogs_->errors.front().toStdString();
  ExpectSameJob(form_->Describe(), saved);
  EXPECT_EQ(Get<QTabWidget>("PageControl1")->currentIndex(), 3);
  EXPECT_TRUE(Get<QRadioButton>("SourceAccessVersionGroupItem0")->isChecked());
  EXPECT_TRUE(Get<QCheckBox>("CreateTableCheck")->isChecked());
}

TEST_F(JobPagesTest, TextEndsAndWhatNoPageShowsComeBackToo) {
  JobDescription d;
  d.source.kind = dkText;
  d.source.file = "in.txt";
  d.source.encoding = "cp1252";
  d.destination.kind = dkText;  // replace makes a text file anew (an HTML page always is)
  d.destination.file = "out.txt";
  d.html_title = "Orders of the week";
  d.html_banner = "top.html";
  d.if_exists = IfExists::kReplace;
  d.batch_size = 40;
  d.max_rejects = 3;
  SaveJobFile(d, folder_ / "text.json");
  OpenFrom(folder_ / "text.json");
  EXPECT_TRUE(dialogs_->errors.empty());
  ExpectSameJob(form_->Describe(), d);
  EXPECT_TRUE(Get<QRadioButton>("BrowseSourceTextGroupItem1")->isChecked());
  EXPECT_TRUE(Get<QRadioButton>("ReplaceRadio")->isChecked());
  EXPECT_EQ(Get<QLineEdit>("Edit7")->text(), "Orders of the week");
}

TEST_F(JobPagesTest, PasswordsComeFromTheirVariableAndAreNeverSaved) {
  FillAccessToServer();
  Get<QLineEdit>("Edit21")->setText("typed-secret");
  SaveTo(folder_ / "pw.json");
  EXPECT_EQ(ReadFile(folder_ / "pw.json").find("typed-secret"), std::string::npos);
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_NE(dialogs_->messages[0].indexOf("saved without the password"), -1);

  JobDescription d = LoadJobFile(folder_ / "pw.json");
  d.destination.password_env = "TRUNDLE_UI_JOB_PW";
  SaveJobFile(d, folder_ / "pw.json");
  setenv("TRUNDLE_UI_JOB_PW", "from-the-variable", 1);
  OpenFrom(folder_ / "pw.json");
  unsetenv("TRUNDLE_UI_JOB_PW");
  EXPECT_EQ(Get<QLineEdit>("Edit21")->text(), "from-the-variable");
  EXPECT_EQ(form_->Describe().destination.password_env, "TRUNDLE_UI_JOB_PW");
}

TEST_F(JobPagesTest, AFileThatCannotBeUsedChangesNothing) {
  FillAccessToServer();
  const JobDescription before = form_->Describe();
  WriteFile(folder_ / "bad.json", "{\"trundle_job\": 1,\n\"source\": {\"password\": \"x\"}}");
  WriteFile(folder_ / "later.json", "{\"trundle_job\": 9}");
  WriteFile(folder_ / "html.json",
            R"({"trundle_job": 1, "source": {"kind": "html", "file": "a.html"}})");
  for (const char* name : {"bad.json", "later.json", "html.json", "missing.json"}) {
    SCOPED_TRACE(name);
    dialogs_->errors.clear();
    OpenFrom(folder_ / name);
    ASSERT_EQ(dialogs_->errors.size(), 1u);
    ExpectSameJob(form_->Describe(), before);
  }
  EXPECT_NE(dialogs_->errors[0].indexOf("missing.json"), -1);
  // Cancelled, the dialog opens nothing and says nothing.
  dialogs_->errors.clear();
  dialogs_->file.reset();
  Trigger("OpenTransfer1");
  EXPECT_TRUE(dialogs_->errors.empty());
}

}  // namespace
}  // namespace trundle

// MainForm: the wizard window. Four pages (introduction, source, destination, run) walked
// with Back and Next; the source and destination pages describe the two ends, and the run
// page builds one transfer job from them through front/ and runs it on this thread, its
// callbacks letting Qt process pending events so that the window stays painted and
// answers Back, Close and the menu.
//
// Every control carries its design name as objectName and as accessible description
// (Edit1, Memo6, ComboBox2, BrowseSourceTextButton, Gauge1, ...); tests and scripts find
// controls by it. Positions are those designed at 96 pixels per inch, scaled when the
// screen's logical resolution differs.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QSize>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/kind.h"
#include "engine/run_speed.h"
#include "front/job_description.h"
#include "ui/declared_tabs.h"
#include "ui/dialogs.h"
#include "ui/page_controls.h"
#include "ui/recent_files.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;

namespace trundle {

class Gauge;
class IntroPage;
class DestinationPage;
class RunPage;
class SourcePage;

class WholeDatabaseRun;
struct TableResult;
struct WholeDatabaseOptions;

// The client area's size at `ppi` pixels per inch: as designed at 96; otherwise scaled,
// then grown by the resolution's percentage plus 3 as long as the window still fits in
// `room` (an invalid size: no limit). Never smaller than the scaled design.
QSize ScaledClientSize(int ppi, QSize room);

// The resolution the window is laid out for: `ppi`, or less where the window designed
// at 96 pixels per inch, scaled to `ppi`, would not fit in `room` (the screen's free
// area) with its frame and menu bar; never below 48. An invalid `room`: `ppi`.
int FittingPpi(int ppi, QSize room);

// The browse dialog's filters for a kind's files: its title with its extensions
// ("dBase (*.dbf)"), then all files.
QStringList FileFilters(TDataKind kind);

// True for a kind whose database is a file here (it holds tables and claims extensions:
// Access, SQLite); a server's is not.
bool IsDatabaseFile(TDataKind kind);

// Where a reject file with no destination file to lie beside goes: the current folder,
// or the home folder when the window was started in a folder it cannot write.
std::string FolderForFiles();

// Names of the tables of a database; throws with a message for the user when the
// database cannot be opened.
using TableLister = std::function<std::vector<std::string>(const EndDescription& end)>;

class MainForm : public QMainWindow {
  Q_OBJECT
 public:
  // `ppi` 0 reads the screen's logical resolution; tests pass one.
  explicit MainForm(std::unique_ptr<Dialogs> dialogs = std::make_unique<QtDialogs>(),
                    int ppi = 0, QWidget* parent = nullptr);
  ~MainForm() override;

  // How the table combo boxes of a kind get their lists: from the database when this
  // build has the kind; without a lister they say that listing is not available.
  void SetTableLister(TDataKind kind, TableLister lister);

  // The job the pages describe now (what the Trundle button would run).
  JobDescription Describe() const;
  bool running() const { return running_; }

  void TrundleButtonClick();
  void ConfirmQuit();

  // Fills every page from the job file at `path` (job_pages.cpp). A file that cannot be
  // read, or whose kinds the window has no tab for, shows its message in the error box,
  // changes nothing and returns false.
  bool OpenTransferFile(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct PageButtons {
    QPushButton* back = nullptr;
    QPushButton* next = nullptr;  // none on the run page
    QPushButton* cancel = nullptr;
  };
  // Which kind's list a table combo box shows, and of which end.
  struct TableBox {
    TDataKind kind = dkUnknown;
    bool source = true;
  };
  // What a file dialog keeps from one browse to the next.
  struct DialogMemory {
    QString default_suffix;
    bool prompt_to_create = false;
  };

  // Construction (main_form.cpp, page_wiring.cpp, declared_tabs.cpp, run_job.cpp).
  int Px(int designed) const;
  void BuildMenu();
  // Adds `page` to the notebook with its title and its Back, Next and Cancel buttons.
  QWidget* BuildPage(int index, QWidget* page, const QString& title_name, const QString& title);
  // Builds the source page, gives its table boxes their lists and connects its browse
  // buttons and its preview (page_wiring.cpp).
  void BuildSourcePage(SourcePage* page);
  // Builds the destination page, gives its table boxes their lists and connects its
  // browse buttons, its Access version and its Fields button (page_wiring.cpp).
  void BuildDestinationPage(DestinationPage* page);
  // Builds the run page and connects its buttons (run_job.cpp).
  void BuildRunPage(RunPage* page);
  // A table combo box's lists are those of `lists`, filled as the box takes the focus.
  void ListTablesIn(QComboBox* combo, TableBox lists);
  // Gives the declared tabs of one end their lists and connects their browse buttons.
  void ConnectDeclaredTabs(const std::vector<DeclaredTab>& tabs, bool source);
  const DeclaredTab* FindDeclaredTab(bool source, int index) const;
  const DeclaredTab* FindDeclaredTab(const QComboBox* table) const;
  void ApplyResolution();
  void NameForAccessibility();

  // Navigation.
  void ToolButtonClick(QObject* sender);
  void ShowPage(int index);
  void Notebook1PageChanged(int index);
  void Reset();

  // Source and destination pages.
  void BrowseSourceTextButtonClick();
  void BrowseDestTextButtonClick();
  // The text file dialog of `request`: the file chosen goes into `box`, and the filter
  // chosen, when it is one of the first `type_count`, selects that file type in `types`.
  void ChooseTextFile(const FileDialogRequest& request, QLineEdit* box, QButtonGroup* types,
                      int type_count);
  // The file of a `kind` end in the open (source) or save dialog: its filters, suffix
  // and title from the kind's declaration.
  void ChooseKindFile(QLineEdit* box, TDataKind kind, bool save);
  // A destination's: for a whole database its folder (BrowseDestFolder), else ChooseKindFile.
  void BrowseDestFile(QLineEdit* box, TDataKind kind);
  // For a whole database, the folder its files go in, browsed for into `box`; false
  // when one table is moved and a file is browsed for instead.
  bool BrowseDestFolder(QLineEdit* box);
  void FillTableList(QComboBox* combo, TDataKind kind, bool source);
  // Pre&view...: the first records of the source in a dialog (PreviewDialog), enabled
  // while the source page names a source that can be read (MissingSource is empty).
  void PreviewButtonClick();
  void UpdatePreviewButton();
  // &Fields... on the destination page: the source's fields renamed or left out
  // (fields_dialog.cpp). The map holds for the source it was made for (field_map_for_);
  // FollowFieldMapSource forgets it once the source page names another.
  void FieldsButtonClick();
  void FollowFieldMapSource(const JobDescription& description);
  // The Access tab's version follows its database file's header (with `choose`), and
  // the version group's caption says what the file is or what "create" will make.
  void FollowAccessVersion(bool source, bool choose = true);

  // Saved transfers (job_pages.cpp).
  void OpenTransfer1Click();
  void SaveTransfer1Click();
  QString FillPages(const JobDescription& description, bool check_only);
  void ApplyOpenedSettings(JobDescription& description) const;
  // Whole databases (whole_database_page.cpp): the "(all tables)" entry of the source's
  // table lists, the destination page that follows it and the run of every table.
  static QString AllTablesEntry();
  bool WholeDatabaseChosen() const;
  void ConnectWholeDatabase();
  // The destination page for a whole database (a folder or a database, no table) or for
  // one table, as the source's table box now says.
  void FollowWholeDatabase();
  // Fills `options` from the pages; returns the sentence that refuses the run, or empty.
  QString DescribeWholeDatabase(const JobDescription& description,
                                WholeDatabaseOptions& options) const;
  void RunWholeDatabase(const JobDescription& description);
  void ShowTableRows(const WholeDatabaseRun& run);
  void ShowTableProgress(const std::string& table, int percent, int64_t records);
  void ShowTableOutcome(const TableResult& result);
  // The run page's controls as a run begins (returns whether Trundle had the focus) and
  // as it ends.
  bool BeginRunControls();
  void EndRunControls(bool had_focus);

  // Run page.
  void MessageCallback(const std::string& message);
  void ProgressCallback(int percent);
  void About1Click();
  void ReadMe1Click();
  void ShowErrorBox(const QString& message);
  void ShowListErrorBox(const QString& message);
  static QString ReadyHint();
  // The run page's line about an existing destination, and its Append and Replace
  // choice (shown only for a destination that exists; Replace only where it can).
  void ShowDestinationNote();
  // What the pages leave unfilled for the run (a file, a file type, a database, a
  // table), as a sentence naming it and its page; empty when nothing is missing.
  QString MissingEntry(const JobDescription& description) const;
  // MissingEntry's part about the source page.
  QString MissingSource(const JobDescription& description) const;
  // A run refused before it starts: the reason in the log and in the error box.
  void RefuseRun(const QString& why);
  // After a run: its totals, and what it set aside with the button that opens the file.
  // Returns the sentence that ends a run that set records aside; empty for one that did not.
  QString ShowRunResult(const TTrundle& job);
  void ShowDestinationButton(const JobDescription& description, const TTrundle& job);
  void OpenRejectFileClick();
  void OpenDestinationClick();
  // File > Recent Files.
  void FillRecentMenu();
  void OpenRecentFile(const RecentFile& file);
  void RememberRunFiles(const JobDescription& description);
  bool AskToStopRun();

  std::unique_ptr<Dialogs> dialogs_;
  int ppi_ = 96;
  PageControls controls_{[this](int designed) { return Px(designed); }};
  bool reset_done_ = false;
  bool running_ = false;
  bool stop_requested_ = false;
  bool close_after_run_ = false;
  TTrundle* job_ = nullptr;  // the running job, borrowed from TrundleButtonClick
  WholeDatabaseRun* whole_ = nullptr;  // the running whole database, borrowed likewise
  std::map<TDataKind, TableLister> listers_;
  QHash<const QComboBox*, TableBox> table_boxes_;
  // Per table combo box, the entries whose database last failed to list (said once).
  QHash<const QComboBox*, QString> list_failures_;
  DialogMemory open_dialog_;
  DialogMemory save_dialog_;
  // The job file opened last, for what it holds that no page shows.
  std::optional<JobDescription> opened_;

  IntroPage* intro_page_ = nullptr;  // owned by the notebook
  QWidget* image_panel_ = nullptr;
  QLabel* image_ = nullptr;
  QWidget* panel2_ = nullptr;
  QStackedWidget* notebook1_ = nullptr;
  PageButtons buttons_[4];
  RunPage* run_page_ = nullptr;  // owned by the notebook
  QString reject_path_;          // the last run's reject file, when it set records aside
  QString destination_path_;  // the file the last run wrote to, when it moved records
  QMenu* recent_menu_ = nullptr;
  RunSpeed speed_;                     // of the running job
  QTreeWidget* table_list_ = nullptr;  // TableList: a line per table of a whole database

  QPushButton* preview_button_ = nullptr;
  QPushButton* fields_button_ = nullptr;
  std::vector<FieldRename> field_map_;  // the Fields view's choices, for field_map_for_
  EndDescription field_map_for_;
  QTabWidget* source_tabs_ = nullptr;
  QButtonGroup* source_type_ = nullptr;
  QButtonGroup* source_access_version_ = nullptr;
  QLineEdit *edit1_ = nullptr, *edit2_ = nullptr, *edit3_ = nullptr, *edit4_ = nullptr,
            *edit6_ = nullptr, *edit15_ = nullptr, *edit16_ = nullptr, *edit17_ = nullptr;
  QPlainTextEdit *memo2_ = nullptr, *memo3_ = nullptr, *memo4_ = nullptr, *memo5_ = nullptr;
  QComboBox *combo1_ = nullptr, *combo2_ = nullptr;

  QTabWidget* dest_tabs_ = nullptr;
  QButtonGroup* dest_type_ = nullptr;
  QButtonGroup* dest_access_version_ = nullptr;
  QLineEdit *edit8_ = nullptr, *edit9_ = nullptr, *edit10_ = nullptr, *edit11_ = nullptr,
            *edit5_ = nullptr, *edit19_ = nullptr, *edit20_ = nullptr, *edit21_ = nullptr,
            *edit7_ = nullptr, *edit12_ = nullptr;
  QComboBox *combo3_ = nullptr, *combo4_ = nullptr;
  QStackedWidget* notebook2_ = nullptr;
  QCheckBox* clipboard_check_ = nullptr;
  QCheckBox* create_database_check_ = nullptr;  // on the destination's Access tab
  QCheckBox* create_table_check_ = nullptr;     // on the destination's server tab
  QGroupBox* source_access_group_ = nullptr;
  QGroupBox* dest_access_group_ = nullptr;
  std::vector<DeclaredTab> source_declared_;
  std::vector<DeclaredTab> dest_declared_;
};

}  // namespace trundle

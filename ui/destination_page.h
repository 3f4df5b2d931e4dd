// The wizard's third page: where the data goes. A tab set (PageControl2) with a tab per
// kind the page was designed with (Text, dBase, Paradox, Access, the server), then one per
// declared kind (declared_tabs.h), and the Fields button at the left of the page's button
// row. The Text tab's options area (Notebook2) shows the text or the HTML options as the
// file type chosen asks; the HTML title follows the file's name.
// Its title and its Back, Next and Cancel buttons are the window's (MainForm::BuildPage),
// added before these; the window gives the table boxes their lists, connects the browse
// buttons, the Access version and the Fields button, and reads the controls back.
#pragma once

#include <QWidget>
#include <vector>

#include "ui/declared_tabs.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QStackedWidget;

namespace trundle {

class DestinationPage : public QWidget {
  Q_OBJECT
 public:
  // The page is named "Destination", as designed.
  explicit DestinationPage(QWidget* parent);

  // Adds the controls; the Fields button goes into `buttons`, the page's row of Back,
  // Next and Cancel.
  void Build(const PageControls& controls, QWidget* buttons);

  // The controls, owned by the page. REQUIRES: Build was called.
  QTabWidget* tabs() const { return tabs_; }
  QButtonGroup* text_type() const { return text_type_; }
  QButtonGroup* access_version() const { return access_version_; }
  QGroupBox* access_group() const { return access_group_; }
  QLineEdit* edit8() const { return edit8_; }
  QLineEdit* edit9() const { return edit9_; }
  QLineEdit* edit10() const { return edit10_; }
  QLineEdit* edit11() const { return edit11_; }
  QLineEdit* edit5() const { return edit5_; }
  QLineEdit* edit19() const { return edit19_; }
  QLineEdit* edit20() const { return edit20_; }
  QLineEdit* edit21() const { return edit21_; }
  QLineEdit* edit7() const { return edit7_; }
  QLineEdit* edit12() const { return edit12_; }
  QComboBox* combo3() const { return combo3_; }
  QComboBox* combo4() const { return combo4_; }
  QStackedWidget* notebook2() const { return notebook2_; }
  QCheckBox* clipboard_check() const { return clipboard_check_; }
  QCheckBox* create_database_check() const { return create_database_check_; }
  QCheckBox* create_table_check() const { return create_table_check_; }
  QPushButton* browse_text() const { return browse_text_; }
  QPushButton* browse_dbase() const { return browse_dbase_; }
  QPushButton* browse_paradox() const { return browse_paradox_; }
  QPushButton* browse_access() const { return browse_access_; }
  QPushButton* fields_button() const { return fields_button_; }
  const std::vector<DeclaredTab>& declared() const { return declared_; }

 private:
  void BuildTextTab(const PageControls& controls);
  // BrowseDestTextGroupClick: no options for comma-delimited text, the text options for
  // tab-delimited, the HTML options for HTML.
  void ShowTypeOptions();

  QTabWidget* tabs_ = nullptr;              // PageControl2
  QButtonGroup* text_type_ = nullptr;       // 0 comma, 1 tab delimited, 2 HTML
  QButtonGroup* access_version_ = nullptr;  // 0 Access 97, 1 Access 2000
  QGroupBox* access_group_ = nullptr;       // the version's frame, whose caption says more
  QLineEdit* edit8_ = nullptr;   // the text file
  QLineEdit* edit9_ = nullptr;   // the dBase table
  QLineEdit* edit10_ = nullptr;  // the Paradox table
  QLineEdit* edit11_ = nullptr;  // the Access database
  QLineEdit* edit5_ = nullptr;   // its password
  QLineEdit* edit19_ = nullptr;  // the server's database
  QLineEdit* edit20_ = nullptr;  // its user
  QLineEdit* edit21_ = nullptr;  // its password
  QLineEdit* edit7_ = nullptr;   // the HTML title
  QLineEdit* edit12_ = nullptr;  // the HTML banner
  QComboBox* combo3_ = nullptr;  // the Access table
  QComboBox* combo4_ = nullptr;  // the server's table
  QStackedWidget* notebook2_ = nullptr;  // 0 text options, 1 HTML options
  QCheckBox* clipboard_check_ = nullptr;
  QCheckBox* create_database_check_ = nullptr;  // on the Access tab
  QCheckBox* create_table_check_ = nullptr;     // on the server tab
  QPushButton *browse_text_ = nullptr, *browse_dbase_ = nullptr, *browse_paradox_ = nullptr,
              *browse_access_ = nullptr;
  QPushButton* fields_button_ = nullptr;
  std::vector<DeclaredTab> declared_;
};

}  // namespace trundle

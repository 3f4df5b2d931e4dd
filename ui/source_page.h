// The wizard's second page: where the data comes from. A tab set (PageControl1) with a tab
// per kind the page was designed with (Text, dBase, Paradox, Access, the server), then one
// per declared kind (declared_tabs.h), and the Preview button at the left of the page's
// button row. The SQL boxes propose the statement that reads the whole table named.
// Its title and its Back, Next and Cancel buttons are the window's (MainForm::BuildPage),
// added before these; the window gives the table boxes their lists, connects the browse
// buttons and the preview, and reads the controls back.
#pragma once

#include <QHash>
#include <QString>
#include <QWidget>
#include <vector>

#include "engine/kind.h"
#include "ui/declared_tabs.h"

class QButtonGroup;
class QGroupBox;

namespace trundle {

class SourcePage : public QWidget {
  Q_OBJECT
 public:
  // The page is named "SourceData", as designed.
  explicit SourcePage(QWidget* parent);

  // Adds the controls; the Preview button goes into `buttons`, the page's row of Back,
  // Next and Cancel. Each table box's list begins with `all_tables`, the entry that
  // chooses every table of the database, for which no SQL is proposed.
  void Build(const PageControls& controls, QWidget* buttons, const QString& all_tables);

  // The controls, owned by the page. REQUIRES: Build was called.
  QTabWidget* tabs() const { return tabs_; }
  QButtonGroup* text_type() const { return text_type_; }
  QButtonGroup* access_version() const { return access_version_; }
  QGroupBox* access_group() const { return access_group_; }
  QLineEdit* edit1() const { return edit1_; }
  QLineEdit* edit2() const { return edit2_; }
  QLineEdit* edit3() const { return edit3_; }
  QLineEdit* edit4() const { return edit4_; }
  QLineEdit* edit6() const { return edit6_; }
  QLineEdit* edit15() const { return edit15_; }
  QLineEdit* edit16() const { return edit16_; }
  QLineEdit* edit17() const { return edit17_; }
  QPlainTextEdit* memo2() const { return memo2_; }
  QPlainTextEdit* memo3() const { return memo3_; }
  QPlainTextEdit* memo4() const { return memo4_; }
  QPlainTextEdit* memo5() const { return memo5_; }
  QComboBox* combo1() const { return combo1_; }
  QComboBox* combo2() const { return combo2_; }
  QPushButton* browse_text() const { return browse_text_; }
  QPushButton* browse_dbase() const { return browse_dbase_; }
  QPushButton* browse_paradox() const { return browse_paradox_; }
  QPushButton* browse_access() const { return browse_access_; }
  QPushButton* preview_button() const { return preview_button_; }
  const std::vector<DeclaredTab>& declared() const { return declared_; }

 private:
  // Memo2 to Memo5 and the declared tabs' SQL boxes: the statement that reads the whole
  // `table`, unless the user edited the box's text since it was last proposed.
  void ProposeSql(QPlainTextEdit* memo, TDataKind kind, const QString& table);

  QString all_tables_;
  // Per SQL box, the statement it was last given for its table name.
  QHash<const QPlainTextEdit*, QString> proposed_sql_;
  QTabWidget* tabs_ = nullptr;              // PageControl1
  QButtonGroup* text_type_ = nullptr;       // 0 comma, 1 tab delimited
  QButtonGroup* access_version_ = nullptr;  // 0 Access 97, 1 Access 2000
  QGroupBox* access_group_ = nullptr;       // the version's frame, whose caption says more
  QLineEdit* edit1_ = nullptr;   // the text file
  QLineEdit* edit2_ = nullptr;   // the dBase table
  QLineEdit* edit3_ = nullptr;   // the Paradox table
  QLineEdit* edit4_ = nullptr;   // the Access database
  QLineEdit* edit6_ = nullptr;   // its password
  QLineEdit* edit15_ = nullptr;  // the server's database
  QLineEdit* edit16_ = nullptr;  // its user
  QLineEdit* edit17_ = nullptr;  // its password
  QPlainTextEdit *memo2_ = nullptr, *memo3_ = nullptr, *memo4_ = nullptr, *memo5_ = nullptr;
  QComboBox* combo1_ = nullptr;  // the Access table
  QComboBox* combo2_ = nullptr;  // the server's table
  QPushButton *browse_text_ = nullptr, *browse_dbase_ = nullptr, *browse_paradox_ = nullptr,
              *browse_access_ = nullptr;
  QPushButton* preview_button_ = nullptr;
  std::vector<DeclaredTab> declared_;
};

}  // namespace trundle

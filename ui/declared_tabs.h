// The tabs made from kinds' declarations: after the designed tabs of the source and
// destination pages, one for each kind of database the window has no designed tab for,
// as long as its database, its table and its SQL are all that it reads (SQLite's).
#pragma once

#include <vector>

#include "engine/kind.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace trundle {

class PageControls;

// A tab made from a kind's declaration: its database, its table and, for a source that
// reads SQL, its statement. The controls are owned by the tab.
struct DeclaredTab {
  TDataKind kind = dkUnknown;
  int index = -1;  // in its page's tab set
  QLineEdit* database = nullptr;
  QPushButton* browse = nullptr;  // beside a database that is a file; none for a server's
  QComboBox* table = nullptr;     // a destination's takes a new name too: it is created
  QPlainTextEdit* sql = nullptr;  // none where the kind reads no SQL, and at a destination
};

// Adds to `tabs` a tab for each declared kind that gets one at this end, in the order of
// the declarations, and returns them. The caller gives the table boxes their lists and
// connects the browse buttons.
std::vector<DeclaredTab> AddDeclaredTabs(QTabWidget* tabs, const PageControls& controls,
                                         bool source);

}  // namespace trundle

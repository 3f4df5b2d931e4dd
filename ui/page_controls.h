// The controls the wizard's pages are built from: a captioned box, a table combo box, a
// browse button and a group of radio buttons, each placed as designed at 96 pixels per
// inch and scaled to the window's resolution. Every control gets its design name as
// objectName; a label gets the control's name with "Label" after it.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace trundle {

// Selects item `id` of a radio group, or none for -1 (which an exclusive group refuses
// unless told otherwise).
void SelectItem(QButtonGroup* group, int id);

class PageControls {
 public:
  // `px` scales a designed distance to the window's resolution.
  explicit PageControls(std::function<int(int)> px) : px_(std::move(px)) {}

  int Px(int designed) const { return px_(designed); }

  // A line box at `top` with its caption above it; a password box hides what is typed.
  QLineEdit* AddBox(QWidget* tab, const QString& name, const QString& caption, int top,
                    bool password = false) const;
  // An editable combo box for a table's name at `top`, its caption above it. The caller
  // gives it its lists.
  QComboBox* AddTableCombo(QWidget* tab, const QString& name, const QString& caption,
                           int top) const;
  // The "..." button beside a tab's first box; that box, a path, takes a dropped file too.
  QPushButton* AddBrowseButton(QWidget* tab, const QString& name) const;
  // A framed group of `items` in `columns`, named "<name>Item<i>", made into `*group`
  // (owned by the frame) with the items' indexes as ids.
  QGroupBox* AddRadioGroup(QWidget* tab, const QString& name, const QString& caption,
                           QRect designed, const QStringList& items, int columns,
                           QButtonGroup** group) const;

 private:
  std::function<int(int)> px_;
};

}  // namespace trundle

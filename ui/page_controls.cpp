// The pages' controls; see page_controls.h.
#include "ui/page_controls.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ui/file_drops.h"

namespace trundle {

void SelectItem(QButtonGroup* group, int id) {
  if (id >= 0) {
    group->button(id)->setChecked(true);
    return;
  }
  if (!group->checkedButton()) return;
  group->setExclusive(false);
  group->checkedButton()->setChecked(false);
  group->setExclusive(true);
}

QLineEdit* PageControls::AddBox(QWidget* tab, const QString& name, const QString& caption,
                                int top, bool password) const {
  auto* label = new QLabel(caption, tab);
  label->setObjectName(name + "Label");
  label->setGeometry(Px(16), Px(top - 16), Px(409), Px(16));
  auto* box = new QLineEdit(tab);
  box->setObjectName(name);
  box->setGeometry(Px(16), Px(top), Px(409), Px(21));
  if (password) box->setEchoMode(QLineEdit::Password);
  label->setBuddy(box);
  return box;
}

QComboBox* PageControls::AddTableCombo(QWidget* tab, const QString& name, const QString& caption,
                                       int top) const {
  auto* label = new QLabel(caption, tab);
  label->setObjectName(name + "Label");
  label->setGeometry(Px(16), Px(top - 16), Px(409), Px(16));
  auto* combo = new QComboBox(tab);
  combo->setObjectName(name);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setGeometry(Px(16), Px(top), Px(409), Px(21));
  label->setBuddy(combo);
  // The box's own name is its text; the part that takes the typing is named by the label.
  combo->lineEdit()->setAccessibleName(caption);
  return combo;
}

QPushButton* PageControls::AddBrowseButton(QWidget* tab, const QString& name) const {
  auto* button = new QPushButton(QStringLiteral("..."), tab);
  button->setObjectName(name);
  button->setAccessibleName(QObject::tr("Browse"));
  button->setGeometry(Px(432), Px(24), Px(21), Px(21));
  // The box beside it, made just before it, is a path: it takes a dropped file too.
  for (QLineEdit* box : tab->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
    if (box->geometry().top() == button->geometry().top()) FileDrops::AcceptOn(box);
  return button;
}

QGroupBox* PageControls::AddRadioGroup(QWidget* tab, const QString& name, const QString& caption,
                                       QRect designed, const QStringList& items, int columns,
                                       QButtonGroup** group) const {
  auto* box = new QGroupBox(caption, tab);
  box->setObjectName(name);
  box->setGeometry(Px(designed.x()), Px(designed.y()), Px(designed.width()),
                   Px(designed.height()));
  *group = new QButtonGroup(box);
  // A layout, not fixed places: where the caption ends and the frame begins depends on
  // the style and the font, and a first item placed at a fixed top sits on the frame.
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(Px(8), 0, Px(8), 0);
  grid->setHorizontalSpacing(0);
  grid->setVerticalSpacing(Px(2));
  const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(items[i], box);
    radio->setObjectName(QStringLiteral("%1Item%2").arg(name).arg(i));
    radio->setMinimumHeight(Px(18));
    grid->addWidget(radio, i % rows, i / rows);
    (*group)->addButton(radio, i);
  }
  grid->setRowStretch(rows, 1);
  return box;
}

}  // namespace trundle

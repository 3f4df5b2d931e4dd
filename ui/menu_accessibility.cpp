#include "ui/menu_accessibility.h"

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>

namespace trundle {
namespace {

// "E&xit" reads "Exit"; "&&" is a literal "&".
QString WithoutMnemonic(const QString& text) {
  QString plain;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}

QChar Mnemonic(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] != QLatin1Char('&')) return text[i + 1];
    ++i;
  }
  return {};
}

// One command of a menu bar or of a drop-down menu (its owner). Behaves as Qt's own menu
// item does: pressing it triggers the command, a command that opens a menu shows it.
class MenuCommand : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  MenuCommand(QAction* action, QWidget* owner) : action_(action), owner_(owner) {}

  bool isValid() const override { return action_ && owner_; }
  QObject* object() const override { return action_; }
  QWindow* window() const override { return owner_ ? owner_->window()->windowHandle() : nullptr; }

  QAccessibleInterface* childAt(int x, int y) const override {
    QAccessibleInterface* menu = child(0);
    return menu && menu->rect().contains(x, y) ? menu : nullptr;
  }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(owner_.data());
  }
  QAccessibleInterface* child(int index) const override {
    return index == 0 && action_->menu() ? QAccessible::queryAccessibleInterface(action_->menu())
                                         : nullptr;
  }
  int childCount() const override { return action_->menu() ? 1 : 0; }
  int indexOfChild(const QAccessibleInterface* child) const override {
    return child && action_->menu() && child->object() == action_->menu() ? 0 : -1;
  }

  QString text(QAccessible::Text t) const override {
    switch (t) {
      case QAccessible::Name:
        return WithoutMnemonic(action_->text());
      case QAccessible::Description:
        return action_->objectName();
      case QAccessible::Accelerator: {
        if (!action_->shortcut().isEmpty()) return action_->shortcut().toString();
        const QChar key = Mnemonic(action_->text());
        return key.isNull() ? QString() : QStringLiteral("Alt+") + key.toUpper();
      }
      default:
        return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}

  QRect rect() const override {
    QRect area;
    if (auto* bar = qobject_cast<QMenuBar*>(owner_.data()))
      area = bar->actionGeometry(action_);
    else if (auto* menu = qobject_cast<QMenu*>(owner_.data()))
      area = menu->actionGeometry(action_);
    return area.translated(owner_->mapToGlobal(QPoint(0, 0)));
  }
  QAccessible::Role role() const override {
    return action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
  }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.invisible = !owner_->isVisible() || !action_->isVisible();
    if (auto* bar = qobject_cast<QMenuBar*>(owner_.data()))
      s.focused = bar->activeAction() == action_;
    if (auto* menu = qobject_cast<QMenu*>(owner_.data()))
      s.focused = menu->activeAction() == action_;
    s.hotTracked = owner_->style()->styleHint(QStyle::SH_Menu_MouseTracking);
    s.disabled = action_->isSeparator() || !action_->isEnabled();
    s.checked = action_->isChecked();
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                : nullptr;
  }

  QStringList actionNames() const override {
    if (action_->isSeparator()) return {};
    return {action_->menu() ? showMenuAction() : pressAction()};
  }
  void doAction(const QString& name) override {
    if (!action_->isEnabled()) return;
    if (name == pressAction()) {
      action_->trigger();
    } else if (name == showMenuAction()) {
      QMenu* menu = action_->menu();
      if (menu && menu->isVisible())
        menu->hide();
      else if (auto* bar = qobject_cast<QMenuBar*>(owner_.data()))
        bar->setActiveAction(action_);
      else if (auto* owner_menu = qobject_cast<QMenu*>(owner_.data()))
        owner_menu->setActiveAction(action_);
    }
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QPointer<QAction> action_;
  QPointer<QWidget> owner_;
};

QAccessibleInterface* MenuCommandFactory(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String("QAction")) return nullptr;
  auto* action = qobject_cast<QAction*>(object);
  if (!action || action->objectName().isEmpty()) return nullptr;
  for (QObject* user : action->associatedObjects()) {
    if (qobject_cast<QMenuBar*>(user) || qobject_cast<QMenu*>(user))
      return new MenuCommand(action, static_cast<QWidget*>(user));
  }
  return nullptr;
}

}  // namespace

void DescribeNamedMenuCommands() {
  static const bool installed = [] {
    QAccessible::installFactory(&MenuCommandFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace trundle

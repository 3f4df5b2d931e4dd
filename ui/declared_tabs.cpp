// The tabs made from kinds' declarations; see declared_tabs.h.
#include "ui/declared_tabs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "front/kinds.h"
#include "ui/main_form.h"
#include "ui/page_controls.h"

namespace trundle {
namespace {

// The kinds the pages were designed with: the Text tab's three, dBase, Paradox, Access
// and the server.
bool HasDesignedTab(TDataKind kind) {
  switch (kind) {
    case dkCsv:
    case dkText:
    case dkHtml:
    case dkDBase:
    case dkParadox:
    case dkAccess:
    case dkOracle:
      return true;
    default:
      return false;
  }
}

// The options a declared tab has boxes for.
constexpr uint32_t kShownOptions = koTable | koSql | koDatabase;

bool GetsDeclaredTab(const KindDeclaration& kind, bool source) {
  const uint32_t options = source ? kind.source_options : kind.dest_options;
  return !HasDesignedTab(kind.kind) && kind.Can(kaHoldsTables) &&
         kind.Can(source ? kaRead : kaWrite) && (options & ~kShownOptions) == 0;
}

// "SourceSqlite", "DestSqlite": what the tab's controls' names start with.
QString NamePrefix(const KindDeclaration& kind, bool source) {
  QString name = QString::fromStdString(kind.name);
  if (!name.isEmpty()) name[0] = name[0].toUpper();
  return (source ? QStringLiteral("Source") : QStringLiteral("Dest")) + name;
}

DeclaredTab BuildDeclaredTab(QTabWidget* tabs, const PageControls& controls,
                             const KindDeclaration& kind, bool source) {
  const auto px = [&controls](int designed) { return controls.Px(designed); };
  const QString prefix = NamePrefix(kind, source);
  const QString end = source ? QObject::tr("Source") : QObject::tr("Destination");
  DeclaredTab t;
  t.kind = kind.kind;
  auto* tab = new QWidget;
  tab->setObjectName(prefix + QStringLiteral("Tab"));
  t.database = controls.AddBox(tab, prefix + QStringLiteral("Database"),
                               QObject::tr("%1 Database").arg(end), 24);
  // A database that is a file is browsed for; a server's is named.
  if (!kind.extensions.empty())
    t.browse = controls.AddBrowseButton(tab, QStringLiteral("Browse") + prefix + QStringLiteral("Button"));
  t.table = controls.AddTableCombo(tab, prefix + QStringLiteral("Table"),
                                   QObject::tr("%1 Table").arg(end), 64);
  if (source && kind.Reads(true, koSql)) {
    t.sql = new QPlainTextEdit(tab);
    t.sql->setObjectName(prefix + QStringLiteral("Sql"));
    t.sql->setGeometry(px(16), px(104), px(409), px(105));
    t.sql->setTabChangesFocus(true);
    auto* label = new QLabel(QObject::tr("SQL"), tab);
    label->setObjectName(prefix + QStringLiteral("SqlLabel"));
    label->setGeometry(px(16), px(88), px(409), px(16));
    label->setBuddy(t.sql);
  }
  t.index = tabs->addTab(tab, QString::fromStdString(kind.title));
  return t;
}

}  // namespace

std::vector<DeclaredTab> AddDeclaredTabs(QTabWidget* tabs, const PageControls& controls,
                                         bool source) {
  std::vector<DeclaredTab> made;
  for (const KindDeclaration& kind : Kinds())
    if (GetsDeclaredTab(kind, source)) made.push_back(BuildDeclaredTab(tabs, controls, kind, source));
  return made;
}

const DeclaredTab* MainForm::FindDeclaredTab(bool source, int index) const {
  for (const DeclaredTab& t : source ? source_declared_ : dest_declared_)
    if (t.index == index) return &t;
  return nullptr;
}

const DeclaredTab* MainForm::FindDeclaredTab(const QComboBox* table) const {
  for (const auto* tabs : {&source_declared_, &dest_declared_})
    for (const DeclaredTab& t : *tabs)
      if (t.table == table) return &t;
  return nullptr;
}

}  // namespace trundle

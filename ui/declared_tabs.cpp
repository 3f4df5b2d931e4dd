// The tabs made from kinds' declarations: after the designed tabs of the source and
// destination pages, one for each kind of database the window has no designed tab for,
// as long as its database, its table and its SQL are all that it reads (SQLite's).
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "front/kinds.h"
#include "ui/main_form.h"

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

}  // namespace

void MainForm::AddDeclaredTabs(QTabWidget* tabs, bool source) {
  std::vector<DeclaredTab>& made = source ? source_declared_ : dest_declared_;
  for (const KindDeclaration& kind : Kinds())
    if (GetsDeclaredTab(kind, source)) made.push_back(BuildDeclaredTab(tabs, kind, source));
}

MainForm::DeclaredTab MainForm::BuildDeclaredTab(QTabWidget* tabs, const KindDeclaration& kind,
                                                 bool source) {
  const QString prefix = NamePrefix(kind, source);
  const QString end = source ? tr("Source") : tr("Destination");
  DeclaredTab t;
  t.kind = kind.kind;
  auto* tab = new QWidget;
  tab->setObjectName(prefix + QStringLiteral("Tab"));
  t.database = controls_.AddBox(tab, prefix + QStringLiteral("Database"), tr("%1 Database").arg(end), 24);
  // A database that is a file is browsed for; a server's is named.
  if (!kind.extensions.empty()) {
    auto* browse =
        controls_.AddBrowseButton(tab, QStringLiteral("Browse") + prefix + QStringLiteral("Button"));
    connect(browse, &QPushButton::clicked, this, [this, box = t.database, k = kind.kind, source] {
      source ? BrowseSourceFile(box, k) : BrowseDestFile(box, k);
    });
  }
  // A destination's box takes a new name as well as a listed one: the table is created.
  t.table = AddTableCombo(tab, prefix + QStringLiteral("Table"), tr("%1 Table").arg(end), 64,
                          {kind.kind, source});
  if (source && kind.Reads(true, koSql)) {
    t.sql = new QPlainTextEdit(tab);
    t.sql->setObjectName(prefix + QStringLiteral("Sql"));
    t.sql->setGeometry(Px(16), Px(104), Px(409), Px(105));
    t.sql->setTabChangesFocus(true);
    auto* label = new QLabel(tr("SQL"), tab);
    label->setObjectName(prefix + QStringLiteral("SqlLabel"));
    label->setGeometry(Px(16), Px(88), Px(409), Px(16));
    label->setBuddy(t.sql);
    connect(
        t.table, &QComboBox::editTextChanged, this,
        [this, memo = t.sql, k = kind.kind](const QString& table) { ProposeSql(memo, k, table); });
  }
  t.index = tabs->addTab(tab, QString::fromStdString(kind.title));
  return t;
}

const MainForm::DeclaredTab* MainForm::FindDeclaredTab(bool source, int index) const {
  for (const DeclaredTab& t : source ? source_declared_ : dest_declared_)
    if (t.index == index) return &t;
  return nullptr;
}

const MainForm::DeclaredTab* MainForm::FindDeclaredTab(const QComboBox* table) const {
  for (const auto* tabs : {&source_declared_, &dest_declared_})
    for (const DeclaredTab& t : *tabs)
      if (t.table == table) return &t;
  return nullptr;
}

}  // namespace trundle

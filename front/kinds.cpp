#include "front/kinds.h"

#include "engine/ascii.h"
#include "textfiles/text_kinds.h"
#ifdef TRUNDLE_WITH_TABLE_FILES
#include "databases/kinds/database_kinds.h"
#include "databases/postgres/postgres_kind.h"
#include "databases/sqlite/sqlite_kind.h"
#endif

namespace trundle {
namespace {

std::vector<KindDeclaration> Declared() {
  return {
      CsvKind(),   TabTextKind(), HtmlKind(),
#ifdef TRUNDLE_WITH_TABLE_FILES
      DBaseKind(), ParadoxKind(), AccessKind(), ServerKind(), SqliteKind(), PostgresKind(),
#endif
  };
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return LowerAscii(path.substr(dot));
}

// "a, b or c".
std::string Listed(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return list;
}

}  // namespace

const std::vector<KindDeclaration>& Kinds() {
  static const std::vector<KindDeclaration> kinds = Declared();
  return kinds;
}

const KindDeclaration* FindKind(TDataKind kind) {
  for (const KindDeclaration& k : Kinds())
    if (k.kind == kind) return &k;
  return nullptr;
}

std::optional<TDataKind> KindOfLocation(const std::string& location) {
  for (const KindDeclaration& k : Kinds())
    if (k.recognises && k.recognises(location)) return k.kind;
  const std::string ext = ExtensionOf(location);
  if (ext.empty()) return std::nullopt;
  for (const KindDeclaration& k : Kinds())
    for (const std::string& e : k.extensions)
      if (e == ext) return k.kind;
  return std::nullopt;
}

std::optional<TDataKind> KindOfName(const std::string& name) {
  const std::string lower = LowerAscii(name);
  for (const KindDeclaration& k : Kinds()) {
    if (lower == k.name) return k.kind;
    for (const std::string& alias : k.aliases)
      if (lower == alias) return k.kind;
  }
  return std::nullopt;
}

std::string KindNameList() {
  std::vector<std::string> names;
  for (const KindDeclaration& k : Kinds()) names.push_back(k.name);
  for (const KindDeclaration& k : Kinds())
    names.insert(names.end(), k.aliases.begin(), k.aliases.end());
  return Listed(names);
}

std::string KindNamesWith(uint32_t abilities) {
  std::vector<std::string> names;
  for (const KindDeclaration& k : Kinds())
    if (k.Can(abilities)) names.push_back(k.name);
  return Listed(names);
}

}  // namespace trundle

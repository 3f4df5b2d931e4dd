#include "databases/sql/table_resolver.h"

#include "databases/sql/table_names.h"

namespace trundle {

std::optional<FileTableSource> TableFileResolver::Resolve(const std::string& name,
                                                          std::string* looked_for) const {
  const std::optional<TableFile> file =
      FindTableFile(name, base_folder_, looked_for, chosen_ ? &*chosen_ : nullptr);
  if (!file) return std::nullopt;
  // The engine's opener is copied, so that an engine registered again meanwhile cannot
  // pull it away from the tables already made.
  auto open = file->engine->open;
  return FileTableSource{
      file->path, [open, path = file->path, options = options_] { return open(path, options); }};
}

}  // namespace trundle

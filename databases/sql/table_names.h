// Table names in SQL text and the table files they stand for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "databases/core/table_engine.h"

namespace trundle {

// The table of a whole-table select, "select * from <name>" in any letter case, with an
// optional ';' and white space around; the name bare, "in double quotes" ("" inside for
// one "), [in brackets] or `in backquotes`, returned without its quotes. nullopt for any
// other statement (comments included: those go the general way).
std::optional<std::string> WholeTableSelectName(std::string_view sql);

struct TableFile {
  std::string path;           // absolute, as found on disk
  const TableEngine* engine;  // registered engine; lives as long as the registry
};

// The file a table name stands for: an absolute path as written; a relative path from
// the current folder, else from base_folder; a bare name in base_folder (the current
// folder when empty); a name without an engine's
// extension with each registered engine's extension in turn. Where the exact name is
// missing, a file whose name differs only in (ASCII) letter case is taken. nullopt when
// none is found; `looked_for` then reads "looked for cust, cust.dbf, cust.db in /data".
// Throws TrundleError naming both files when a name without extension matches table
// files of two engines (cust.dbf and cust.db).
//
// `chosen`, when given, is a file whose engine the user chose (a table file given with
// its kind): a name that stands for that file finds it with that engine, whatever its
// extension says or whether it has one.
std::optional<TableFile> FindTableFile(const std::string& name, const std::string& base_folder,
                                       std::string* looked_for, const TableFile* chosen = nullptr);

// path made absolute (from the current folder) and lexically normal, as FindTableFile
// gives its paths.
std::string AbsoluteTablePath(const std::string& path);

// name in double quotes, any " inside doubled, for SQL text.
std::string QuoteSqlName(std::string_view name);

}  // namespace trundle

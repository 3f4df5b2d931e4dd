// The table-file engines the program knows, found by a file's extension. The SQL layer
// opens the files a statement names through them, and the adaptors create and append.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "databases/core/table_file.h"

namespace trundle {

struct TableEngine {
  std::string name;                     // "dbase", "paradox"
  std::vector<std::string> extensions;  // lower case, with the dot: ".dbf"
  // Each throws TrundleError naming the file and the cause.
  std::function<std::unique_ptr<TableFileReader>(const std::string& path,
                                                 const TableReadOptions& options)>
      open;
  // Creates an empty table file (and its memo file when a field needs one). The file
  // must not exist yet. On failure nothing is left behind.
  std::function<CreatedTable(const std::string& path, const TFieldDefs& fields,
                             const TableWriteOptions& options)>
      create;
  std::function<std::unique_ptr<TableFileWriter>(const std::string& path,
                                                 const TableWriteOptions& options)>
      append;
  // The names create stores for these fields (shortened and made unique as the format
  // requires), parallel to them; so that a later run appending from the same source
  // finds the field made for each of its names.
  std::function<std::vector<std::string>(const TFieldDefs& fields)> stored_names;
};

// Adds an engine; a later one with the same name replaces the earlier.
void RegisterTableEngine(TableEngine engine);
// The engines built into the program (dBase, Paradox). Safe to call more than once.
void RegisterBuiltInEngines();
// The engine whose extension the path ends with (letter case ignored); nullptr if none.
const TableEngine* EngineForPath(const std::string& path);
const TableEngine* EngineByName(const std::string& name);
// Every engine, in the order they were first registered (the order in which a name
// without extension is tried with their extensions).
std::vector<const TableEngine*> RegisteredTableEngines();

}  // namespace trundle

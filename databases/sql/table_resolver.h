// Where the tables an SQL statement names come from. A statement runs over table files
// found in a folder (TableFileResolver), or over the tables of one database, whose
// adaptor supplies a resolver of its own; both reach SQL through the one virtual-table
// module of file_vtab.h.
#pragma once

#include <optional>
#include <string>

#include "databases/sql/file_vtab.h"
#include "databases/sql/table_names.h"
#include "databases/core/table_file.h"

namespace trundle {

class TableResolver {
 public:
  virtual ~TableResolver() = default;

  // The table `name` stands for, as SQLite reports it missing (quotes and brackets
  // already gone). nullopt when there is none; `looked_for`, when given, then says
  // where it was looked for ("looked for cust, cust.dbf in /data"). Throws TrundleError
  // when the place to look cannot be read at all.
  virtual std::optional<FileTableSource> Resolve(const std::string& name,
                                                 std::string* looked_for) const = 0;
};

// Table files found as FindTableFile finds them (table_names.h): names that are not
// paths in base_folder, the current folder when empty; `chosen`, a file opened by the
// engine the user chose for it.
class TableFileResolver : public TableResolver {
 public:
  TableFileResolver(std::string base_folder, TableReadOptions options,
                    std::optional<TableFile> chosen = std::nullopt)
      : base_folder_(std::move(base_folder)),
        options_(std::move(options)),
        chosen_(std::move(chosen)) {}

  std::optional<FileTableSource> Resolve(const std::string& name,
                                         std::string* looked_for) const override;

 private:
  std::string base_folder_;
  TableReadOptions options_;
  std::optional<TableFile> chosen_;
};

}  // namespace trundle

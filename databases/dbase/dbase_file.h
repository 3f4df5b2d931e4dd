// The dBase engine: reads dBase III/IV, FoxPro and Visual FoxPro tables (.dbf with their
// .dbt/.fpt memo files), creates dBase III/IV tables and appends to them.
//
//   auto reader = OpenDBaseTable("/data/customers.dbf", {});
//   std::vector<Variant> row;
//   while (reader->Next(row)) { ... }
#pragma once

#include <memory>
#include <string>

#include "databases/core/table_engine.h"
#include "databases/core/table_file.h"

namespace trundle {

// Opens a table for reading. The header, the field descriptors and the presence of every
// record the header claims are checked here; the memo file (.dbt or .fpt, any letter case)
// must exist when a field needs it. Throws TrundleError naming the file and the cause.
// Text is delivered as UTF-8: options.encoding, else a .cpg file beside the table, else
// the header's language driver, else UTF-8 when valid and the locale's Windows code page
// when not.
std::unique_ptr<TableFileReader> OpenDBaseTable(const std::string& path,
                                                const TableReadOptions& options);

// Creates an empty table: dBase III (0x03); 0x83 with a .dbt when a text memo is needed;
// dBase IV (0x8B) with a .dbt when a binary field is needed. Writes a .cpg naming
// options.encoding. Throws TrundleError when path exists or a field cannot be stored; on
// failure no file is left behind. A memo or .cpg file left by a table that is gone is
// replaced.
CreatedTable CreateDBaseTable(const std::string& path, const TFieldDefs& fields,
                              const TableWriteOptions& options);

// Opens an existing table to append records. Text is written in the table's own code
// page unless options.encoding_explicit. Throws TrundleError like OpenDBaseTable.
std::unique_ptr<TableFileWriter> AppendToDBaseTable(const std::string& path,
                                                    const TableWriteOptions& options);

// The registry entry: name "dbase", extension ".dbf", the three functions above.
TableEngine DBaseEngine();

}  // namespace trundle

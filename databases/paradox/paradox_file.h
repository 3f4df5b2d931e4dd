// Paradox tables (.db, with their .mb memo files): reading versions 3 to 7, keyed or not,
// every field type; creating unkeyed Paradox 7 tables and appending to unkeyed tables.
//
//   auto reader = OpenParadoxTable("/data/CUSTOMER.DB", {});
//   std::vector<Variant> row;
//   while (reader->Next(row)) ...
//
// Field types read as: A ftString (text, Size = width), D ftDate, S ftSmallint,
// I ftInteger, + ftAutoInc, $ ftCurrency (Currency values), N ftFloat, # ftBCD (Currency
// for up to 4 decimals when it fits, else Float), L ftBoolean, M ftMemo (text), F ftFmtMemo,
// B ftBlob, G ftGraphic, O ftParadoxOle, Y ftBytes (these five as Blob values), T ftTime
// (a DateTime below 1), @ ftDateTime. An empty field reads as Null; Paradox keeps empty text
// and an empty memo as an empty field, so they read as Null too.
#pragma once

#include <memory>
#include <string>

#include "databases/core/table_engine.h"
#include "databases/core/table_file.h"

namespace trundle {

// Opens a table to read. Text comes out as UTF-8 from options.encoding when set, else from
// the code page the header names, else through FallbackDecoder. The memo file is found
// beside the table whatever the letter case of its extension, and opened only when a value
// needs it. Throws TrundleError naming the file and the cause when the file is not a
// Paradox table, is encrypted or damaged (Next throws for damage it meets later: a block
// chain that loops or leaves the file, fewer records than the header claims, a missing,
// short or inconsistent memo file).
std::unique_ptr<TableFileReader> OpenParadoxTable(const std::string& path,
                                                  const TableReadOptions& options);

// Creates an empty unkeyed Paradox 7 table at path, and its .mb file when a field is a
// memo or blob. The table file must not exist yet; an .mb left by a table that is gone is
// replaced. Field names are cut to 25 characters and made
// unique (ignoring letter case). Types: ftString A(Size, 20 when 0; M above 255), ftMemo M,
// ftFmtMemo F, ftBlob/ftBytes/ftVarBytes/ftTypedBinary/ftDBaseOle B, ftGraphic G,
// ftParadoxOle O, ftSmallint S, ftInteger/ftWord I, ftAutoInc +, ftLargeint N, ftFloat N,
// ftCurrency $, ftBCD # (up to 4 decimals), ftBoolean L, ftDate D, ftTime T, ftDateTime @,
// anything else A(Size, 20 when 0). The header declares options.encoding as its code page
// (65001 for UTF-8). Throws TrundleError; on failure no file is left behind.
CreatedTable CreateParadoxTable(const std::string& path, const TFieldDefs& fields,
                                const TableWriteOptions& options);

// Opens an unkeyed table to append records. A keyed table is refused, since its primary
// index would no longer match. Text is written in the table's own code page unless
// options.encoding_explicit. Throws TrundleError naming the file and the cause.
std::unique_ptr<TableFileWriter> AppendToParadoxTable(const std::string& path,
                                                      const TableWriteOptions& options);

// How many leading fields make the table's primary key: 0 for an unkeyed table. Throws
// TrundleError, as OpenParadoxTable does, for a file that is not a Paradox table.
int ParadoxKeyFields(const std::string& path);

// The engine record: name "paradox", extension ".db".
TableEngine ParadoxEngine();

}  // namespace trundle

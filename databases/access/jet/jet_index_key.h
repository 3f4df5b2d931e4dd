// Index keys as a Jet database sorts them: the bytes an index page holds for a row's
// values, which compare (memcmp, shorter first on a common prefix) in the index's order.
//
//   IndexKeyEncoder keys(format, def, def.indexes[0]);
//   std::string key;
//   if (!keys.Encode(values, key)) ...   // a value the index cannot order: keys.error()
//
// Each key column gives a flag byte (Null or not, ascending or descending) and then its
// value's bytes: integers big-endian with the sign bit flipped, floating point and dates
// ordered as numbers, text by the sort codes of the database's sort order (Jet 4 "General
// Legacy", Jet 3 "General 97": letter case ignored, accents after the letters), a
// descending column's bytes inverted.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/variant.h"

namespace trundle::jet {

class IndexKeyEncoder {
 public:
  // def: the table; index: one of def.indexes. Throws TrundleError "CAUSE" (without the
  // file, which the caller adds) when the index cannot be kept: a key column of a type
  // that has no key (Memo, OLE) or unknown to us.
  IndexKeyEncoder(const Format& format, const TableDef& def, const PhysicalIndex& index);
  ~IndexKeyEncoder();

  // The key of a row (key replaced): values[i] for def.columns[i], as the row holds them,
  // of the kinds the reader (RowDecoder) gives for the column types (what a writer stores
  // reads back so; other kinds are converted as the row encoder converts them). Text keys
  // take the first 255 characters without trailing spaces. Returns false, with error()
  // "column NAME: CAUSE", for a value that has no key: text with a character the sort
  // codes lack (beyond the Basic Multilingual Plane), a value that does not convert.
  bool Encode(const std::vector<Variant>& values, std::string& key);
  const std::string& error() const { return error_; }

  // True when every key column of the row is Null (an index that ignores Nulls leaves
  // such rows out). A Yes/No key column is never Null.
  bool AllNull(const std::vector<Variant>& values) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

}  // namespace trundle::jet

// Rows of a Jet table packed the way the format stores them: the mirror of RowDecoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"
#include "engine/variant.h"

namespace trundle::jet {

// Where a long value (Memo, OLE) that does not stay in its row was put: the flags byte of
// its 12-byte header (0x40 one LVAL row, 0x00 a chain of LVAL rows) and the row pointer of
// its first piece (row number in the low byte, page number in the upper three bytes).
struct LongValueRef {
  uint8_t flags = 0;
  uint32_t pointer = 0;
};

// Puts long values on LVAL pages; the table writer provides it. column: the Memo or OLE
// column the value belongs to (Jet 4 keeps each such column's LVAL pages in usage maps of
// its own, so the store must know whose pages it fills).
class LongValueStore {
 public:
  virtual ~LongValueStore() = default;
  virtual LongValueRef Store(const ColumnDef& column, const std::string& data) = 0;
};

class RowEncoder {
 public:
  // def: the table's definition (live columns, max_cols, num_var_cols). jet3_text: the
  // database's code page, for Jet 3 text. All must outlive the encoder.
  RowEncoder(const Format& format, const TableDef& def, TextCodec* jet3_text,
             LongValueStore& long_values);

  // Packs one row into row (replaced). values[i] is the value of def.columns[i]; a Null
  // or unassigned value is Null. AutoNumber columns must already hold the number the
  // table's counter gives. Throws TrundleError "column NAME: CAUSE" when a value cannot
  // be stored: text longer than the column, a number out of the column's range, a Null
  // in a required column, a value that does not convert to the column's type, a row
  // larger than the format allows.
  void Encode(const std::vector<Variant>& values, std::vector<uint8_t>& row);

  // Log lines about values stored changed (Jet 3 characters the code page cannot hold,
  // replaced), gathered since the last call.
  std::vector<std::string> TakeNotes();

 private:
  const Format& format_;
  const TableDef& def_;
  TextCodec* jet3_text_;
  LongValueStore& long_values_;
  std::vector<std::string> notes_;
};

}  // namespace trundle::jet

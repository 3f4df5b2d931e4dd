// Rows of a Jet table packed the way the format stores them: the mirror of RowDecoder.
//
//   RowEncoder encoder(format, def, codec.get(), long_values);
//   encoder.Encode(values, row);   // row: the bytes to place on a data page
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// The 17 bytes of a Numeric (Decimal) value as a row stores it (sign byte, then four
// 32-bit little-endian words of the mantissa, the most significant first), rounded half
// away from zero to the scale. False when the value does not fit the precision or is
// not a finite number; throws TrundleError when it is not a number at all.
bool EncodeNumeric(const Variant& value, int precision, int scale, uint8_t out[17]);

// Text of nothing but spaces, tabs and line ends, which a column of a type other than
// Text and Memo takes for no value.
bool IsBlankText(const Variant& value);

class RowEncoder {
 public:
  // def: the table's definition (live columns, max_cols, num_var_cols). jet3_text: a
  // converter from UTF-8 to the database's code page (TextCodec::FromUtf8To), for Jet 3
  // text; may be null for Jet 4. All must outlive the encoder.
  RowEncoder(const Format& format, const TableDef& def, TextCodec* jet3_text,
             LongValueStore& long_values);

  // Packs one row into row (replaced). values[i] is the value of def.columns[i]; a Null
  // or unassigned value is Null. AutoNumber columns must already hold the number the
  // table's counter gives. Throws TrundleError "column NAME: CAUSE" when a value cannot
  // be stored: text longer than the column, a number out of the column's range, a Null
  // in a required column, empty text in a Text or Memo column that allows no zero-length
  // text, a value that does not convert to the column's type, a row larger than the
  // format allows. Nothing is given to the LongValueStore for a row that throws, except
  // when the row turns out too large after its long values were stored (the caller's
  // batch is rolled back then anyway).
  //
  // Values stored changed, each counted for TakeNotes: a Null in a Yes/No column (which
  // holds no Null) becomes No; Jet 3 characters the code page cannot hold become '?'.
  // Blank text in a column of another type is Null.
  void Encode(const std::vector<Variant>& values, std::vector<uint8_t>& row);

  // Log lines about values stored changed, gathered since the last call.
  std::vector<std::string> TakeNotes();

  // What the last Encode stored for def.columns[k]: its null mask bit (a Yes/No column's
  // value) and its bytes in the row (a fixed column's whole width, a variable column's
  // data, a long value's header and what stays in the row).
  bool Stored(size_t k, std::string_view& bytes) const {
    bytes = slots_[k].bytes;
    return slots_[k].present;
  }

 private:
  // One column's value as bytes: a fixed column's whole width, a variable column's data,
  // or a long value's bytes before the choice of where it goes.
  struct Slot {
    bool present = false;  // the null mask bit (a Boolean's value)
    bool is_long = false;
    std::string bytes;
  };
  enum Note { kNullBoolean, kReplacedChars, kNoteKinds };

  void EncodeValue(size_t index, const Variant& value, Slot& slot);
  void EncodeText(size_t index, const Variant& value, bool long_value, Slot& slot);
  void PlaceLongValues(size_t fixed_and_table);
  void Assemble(std::vector<uint8_t>& row);
  size_t TailSize(size_t data_end) const;  // bytes after the variable data
  [[noreturn]] void Refuse(size_t index, const std::string& cause) const;

  const Format& format_;
  const TableDef& def_;
  TextCodec* jet3_text_;
  LongValueStore& long_values_;
  int row_cols_ = 0;                  // the column count a row gives, mask bits
  int fixed_size_ = 0;                // bytes of fixed data after the column count
  int num_var_ = 0;                   // entries of a row's variable-offset table
  std::vector<int> by_var_index_;     // column of each variable-offset entry, -1 none
  std::vector<Slot> slots_;
  std::vector<int64_t> note_counts_;  // [column * kNoteKinds + kind]
  std::u16string units_;
  std::string text_;                  // a value's text when it is not text already
  std::vector<size_t> offsets_;
};

}  // namespace trundle::jet

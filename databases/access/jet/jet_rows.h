// Rows of a Jet table: a row's bytes split into its columns (null mask, fixed data,
// variable data with the Jet 3 or Jet 4 offset table), each column decoded to a value,
// long values (Memo, OLE) gathered from their LVAL pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"
#include "engine/variant.h"

namespace trundle::jet {

class RowDecoder {
 public:
  // where: the message prefix naming the file and the table ("PATH is damaged: table T").
  // jet3_text: the database's code page, for Jet 3 text. All must outlive the decoder.
  RowDecoder(const PageFile& file, const Format& format, const TableDef& def, TextCodec* jet3_text,
             std::string where);

  // Fills values[0 .. def.columns.size()) from a row's bytes. Throws TrundleError on a
  // row whose layout does not fit in its bytes or a long value that cannot be followed.
  void Decode(const uint8_t* row, int size, std::vector<Variant>& values);
  // One column's value, as Decode gives it, from its null mask bit (present) and its
  // bytes in the row: a fixed column's whole width, a variable column's data. For a
  // writer that has these bytes at hand, without the whole row to take apart.
  void DecodeColumn(const ColumnDef& col, bool present, const uint8_t* data, int size,
                    Variant& out);

  // Values whose text was not valid in its encoding (read with replacement characters).
  int64_t bad_text() const { return bad_text_; }

  // When set, every long-value row that Decode reads is appended to rows as its column's
  // number (upper 32 bits) and its row pointer (lower 32 bits): the verifier's check that
  // long values lie on their column's pages and are never shared.
  void WatchLongValues(std::vector<uint64_t>* rows) { lval_rows_ = rows; }

 private:
  void DecodeValue(const ColumnDef& col, const uint8_t* data, int size, Variant& out);
  void DecodeText(const uint8_t* data, size_t size, Variant& out);
  // The bytes of a Memo or OLE value from its 12-byte header and what follows it.
  void ReadLongValue(const uint8_t* data, int size, std::string& out);

  const PageFile& file_;
  const Format& format_;
  const TableDef& def_;
  TextCodec* jet3_text_;
  std::string where_;
  std::vector<int> var_offsets_;
  std::vector<uint8_t> lval_page_;
  uint32_t lval_page_number_ = 0;  // page held in lval_page_ (0: none)
  std::string scratch_;
  int64_t bad_text_ = 0;
  std::vector<uint64_t>* lval_rows_ = nullptr;
  uint32_t lval_column_ = 0;  // the column whose long value is being read
};

// The exact decimal text of a Jet Numeric value (17 bytes: sign, 16-byte mantissa) with
// the given scale, and its value as the program passes it: an Integer when the scale is
// 0 and it fits, a Float when a double holds every digit, else that text.
void DecodeNumeric(const uint8_t* data, int scale, Variant& out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of a 16-byte GUID as Jet stores it.
std::string GuidText(const uint8_t* data);

}  // namespace trundle::jet

#include "databases/access/jet/jet_row_encoder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "databases/access/jet/jet_text.h"
#include "engine/errors.h"
#include "engine/value_changes.h"

namespace trundle::jet {
namespace {

__extension__ typedef unsigned __int128 Uint128;

// Long values up to this many bytes stay in their row when the row has room; longer ones
// go to LVAL pages.
constexpr size_t kInlineLongValue = 64;
constexpr size_t kLongValueHeader = 12;
// The header's length field has 30 bits; the top two are the kind.
constexpr size_t kMaxLongValue = 0x3FFFFFFF;
// A Memo is compressed only up to this many characters (longer ones would not read back
// in Access).
constexpr size_t kMaxCompressedMemo = 1024;
// Access's dates: 1 January 100 to 31 December 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kDateEnd = 2958466.0;

template <typename T>
void PutValue(std::string& out, T v) {
  out.resize(sizeof v);
  std::memcpy(out.data(), &v, sizeof v);
}

const char* TypeName(uint8_t type) {
  switch (type) {
    case kByte:
      return "a Byte";
    case kInteger:
      return "an Integer";
    case kLong:
      return "a Long Integer";
    case kBigInt:
      return "a Large Number";
    default:
      return "a number";
  }
}

// An integral value for an integer column: whole numbers as they are, fractions rounded
// half to even as Jet rounds them, text read as a number.
int64_t WholeNumber(const Variant& v, bool& out_of_range) {
  out_of_range = false;
  double d;
  switch (v.type()) {
    case VarType::kInteger:
      return v.integer();
    case VarType::kBoolean:
      return v.boolean() ? 1 : 0;
    case VarType::kCurrency: {
      const int64_t q = v.integer() / 10000, r = v.integer() % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) return q + 1;
      if (r < -5000 || (r == -5000 && (q & 1))) return q - 1;
      return q;
    }
    case VarType::kString: {
      // Exact integer text first: a double would lose digits past 2^53.
      std::string_view t = v.text();
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      size_t s = 0;
      while (s < t.size() && t[s] == ' ') ++s;
      if (s < t.size() && t[s] == '+') ++s;
      int64_t i;
      auto r = std::from_chars(t.data() + s, t.data() + t.size(), i);
      if (s < t.size() && r.ec == std::errc() && r.ptr == t.data() + t.size()) return i;
      if (r.ec == std::errc::result_out_of_range && r.ptr == t.data() + t.size()) {
        out_of_range = true;
        return 0;
      }
      d = v.ToDouble();
      break;
    }
    default:
      d = v.ToDouble();
      break;
  }
  d = std::nearbyint(d);
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
    out_of_range = true;
    return 0;
  }
  return int64_t(d);
}

// A decimal number as its digits (no leading zeros; empty for zero) and a power of ten.
bool ParseDecimal(std::string_view t, bool& negative, std::string& digits, int& exponent) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  negative = false;
  digits.clear();
  exponent = 0;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  bool any = false, point = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (point) --exponent;
      if (c != '0' || !digits.empty()) digits.push_back(c);
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    int e = 0;
    const char* first = t.data() + i + 1 + (i + 1 < t.size() && t[i + 1] == '+');
    auto r = std::from_chars(first, t.data() + t.size(), e);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || std::abs(e) > 1000) return false;
    exponent += e;
  } else if (i != t.size()) {
    return false;
  }
  return true;
}

// The mantissa of digits x 10^shift, rounded half away from zero to a whole number, when
// it has at most precision digits.
bool ScaleDecimal(const std::string& digits, int shift, int precision, Uint128& m) {
  m = 0;
  if (digits.empty()) return true;
  const long kept = long(digits.size()) + std::min(shift, 0);
  if (kept + std::max(shift, 0) > precision) return false;
  for (long i = 0; i < kept; ++i) m = m * 10 + Uint128(digits[size_t(i)] - '0');
  if (kept >= 0 && size_t(kept) < digits.size() && digits[size_t(kept)] >= '5') ++m;
  for (int i = 0; i < shift; ++i) m *= 10;
  Uint128 limit = 1;
  for (int i = 0; i < precision; ++i) limit *= 10;
  return m < limit;
}

std::string ShortestText(double d) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional, as Jet stores it: the first
// three groups little-endian, the last eight bytes in order.
bool ParseGuid(std::string_view t, std::string& out) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36) return false;
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  out.assign(16, '\0');
  int byte = 0;
  for (size_t i = 0; i < t.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (t[i] != '-') return false;
      ++i;
      continue;
    }
    const int hi = HexDigit(t[i]), lo = HexDigit(t[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[size_t(kOrder[byte++])] = char(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace

bool IsBlankText(const Variant& v) {
  if (!v.IsText()) return false;
  return std::all_of(v.text().begin(), v.text().end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

bool EncodeNumeric(const Variant& value, int precision, int scale, uint8_t out[17]) {
  bool negative = false;
  std::string digits;
  int exponent = 0;
  if (value.type() == VarType::kInteger || value.type() == VarType::kCurrency) {
    negative = value.integer() < 0;
    digits = std::to_string(value.integer());
    if (negative) digits.erase(0, 1);
    exponent = value.type() == VarType::kCurrency ? -4 : 0;
  } else if (!value.IsText() || !ParseDecimal(value.text(), negative, digits, exponent)) {
    const double d = value.ToDouble();
    if (!std::isfinite(d)) return false;
    ParseDecimal(ShortestText(d), negative, digits, exponent);
  }
  Uint128 m;
  if (!ScaleDecimal(digits, exponent + scale, std::clamp(precision, 1, 38), m)) return false;
  out[0] = negative && m != 0 ? 0x80 : 0;
  for (int w = 0; w < 4; ++w)  // four 32-bit words, the most significant first
    Put32(out + 1 + 4 * w, uint32_t(m >> (32 * (3 - w))));
  return true;
}

RowEncoder::RowEncoder(const Format& format, const TableDef& def, TextCodec* jet3_text,
                       LongValueStore& long_values)
    : format_(format), def_(def), jet3_text_(jet3_text), long_values_(long_values) {
  int highest_var = -1;
  // A row counts every column ever added (max_cols); a definition whose numbers pass
  // that still gets a mask bit for each column.
  row_cols_ = def_.max_cols;
  for (const ColumnDef& c : def_.columns) {
    row_cols_ = std::max(row_cols_, c.number + 1);
    if (c.column.fixed) {
      if (c.column.type != kBoolean)
        fixed_size_ = std::max(fixed_size_, c.fixed_offset + c.column.size);
    } else {
      highest_var = std::max(highest_var, c.var_index);
    }
  }
  // Entries of deleted variable columns stay in the table, empty.
  num_var_ = std::max(def_.num_var_cols, highest_var + 1);
  by_var_index_.assign(size_t(num_var_), -1);
  for (size_t k = 0; k < def_.columns.size(); ++k) {
    const ColumnDef& c = def_.columns[k];
    if (!c.column.fixed) by_var_index_[size_t(c.var_index)] = int(k);
  }
  slots_.resize(def_.columns.size());
  note_counts_.assign(def_.columns.size() * kNoteKinds, 0);
}

void RowEncoder::Refuse(size_t index, const std::string& cause) const {
  throw TrundleError("column " + def_.columns[index].column.name + ": " + cause);
}

void RowEncoder::Encode(const std::vector<Variant>& values, std::vector<uint8_t>& row) {
  static const Variant kNull = Variant::Null();
  if (def_.num_var_cols == 0 && num_var_ > 0)
    throw TrundleError("table " + def_.name +
                       ": its definition has variable columns but counts none");
  if (row_cols_ > (format_.jet3 ? 255 : 65535))
    throw TrundleError("table " + def_.name + ": a row holds at most " +
                       (format_.jet3 ? "255" : "65535") + " columns");
  for (size_t k = 0; k < def_.columns.size(); ++k) {
    const auto noted = [&] {
      int64_t n = 0;
      for (int kind = 0; kind < kNoteKinds; ++kind) n += note_counts_[k * kNoteKinds + size_t(kind)];
      return n;
    };
    const int64_t before = noted();
    EncodeValue(k, k < values.size() ? values[k] : kNull, slots_[k]);
    if (noted() != before) CountValueChanged(def_.columns[k].column.name);
  }
  const size_t head = format_.jet3 ? 1 : 2;
  PlaceLongValues(head + size_t(fixed_size_));
  Assemble(row);
  if (row.size() > size_t(format_.max_row_size))
    throw TrundleError("the row takes " + std::to_string(row.size()) + " bytes, more than the " +
                       std::to_string(format_.max_row_size) + " a row can hold");
}

size_t RowEncoder::TailSize(size_t data_end) const {
  const size_t mask = size_t(row_cols_ + 7) / 8;
  if (def_.num_var_cols == 0) return mask;
  if (!format_.jet3) return 2 + 2 * size_t(num_var_) + 2 + mask;
  // End of data, one byte an offset, the jump table, the offset count, the mask. A row
  // of n bytes has (n - 1) / 256 jump entries.
  const size_t fixed_part = 1 + size_t(num_var_) + 1 + mask;
  size_t jumps = 0;
  while (true) {
    const size_t need = (data_end + fixed_part + jumps - 1) / 256;
    if (need <= jumps) return fixed_part + jumps;
    jumps = need;
  }
}

void RowEncoder::PlaceLongValues(size_t fixed_and_head) {
  // The row with every long value reduced to its header must fit; what room is left
  // takes short long values in column order.
  size_t data = fixed_and_head;
  for (const Slot& s : slots_)
    if (s.present && !s.is_long) data += s.bytes.size();
  bool any_long = false;
  for (size_t k = 0; k < slots_.size(); ++k)
    if (slots_[k].present && slots_[k].is_long) data += kLongValueHeader, any_long = true;
  const size_t least = data + TailSize(data);
  if (least > size_t(format_.max_row_size))
    throw TrundleError("the row takes at least " + std::to_string(least) +
                       " bytes, more than the " + std::to_string(format_.max_row_size) +
                       " a row can hold");
  if (!any_long) return;
  size_t room = size_t(format_.max_row_size) - least;
  room = format_.jet3 ? (room > 8 ? room - 8 : 0) : room;  // the jump table may grow
  std::string header(kLongValueHeader, '\0');
  for (size_t k = 0; k < slots_.size(); ++k) {
    Slot& s = slots_[k];
    if (!s.present || !s.is_long) continue;
    const size_t length = s.bytes.size();
    auto* h = reinterpret_cast<uint8_t*>(header.data());
    std::memset(h, 0, kLongValueHeader);
    if (length <= kInlineLongValue && length <= room) {
      room -= length;
      Put32(h, uint32_t(length) | 0x80000000u);
      s.bytes.insert(0, header);
      continue;
    }
    const LongValueRef ref = long_values_.Store(def_.columns[k], s.bytes);
    Put32(h, uint32_t(length) | (uint32_t(ref.flags & 0xC0) << 24));
    Put32(h + 4, ref.pointer);
    s.bytes = header;
  }
}

// The row is sized first and its parts then copied into place: the column count, the
// fixed columns, the variable data, the offsets (and Jet 3's jump table), the null mask.
void RowEncoder::Assemble(std::vector<uint8_t>& row) {
  const size_t head = format_.jet3 ? 1 : 2;
  const size_t mask_size = size_t(row_cols_ + 7) / 8;
  const bool variable = def_.num_var_cols > 0;
  size_t data_end = head + size_t(fixed_size_);
  if (variable)
    for (const int k : by_var_index_)
      if (k >= 0 && slots_[size_t(k)].present) data_end += slots_[size_t(k)].bytes.size();
  const size_t tail = TailSize(data_end);
  row.assign(data_end + tail, 0);
  uint8_t* const out = row.data();
  if (format_.jet3)
    out[0] = uint8_t(row_cols_);
  else
    Put16(out, uint32_t(row_cols_));
  uint8_t* const mask = out + row.size() - mask_size;
  for (size_t k = 0; k < def_.columns.size(); ++k) {
    const ColumnDef& c = def_.columns[k];
    const Slot& s = slots_[k];
    if (!s.present) continue;
    mask[c.number / 8] |= uint8_t(1 << (c.number % 8));
    if (c.column.fixed && c.column.type != kBoolean)
      std::memcpy(out + head + size_t(c.fixed_offset), s.bytes.data(), s.bytes.size());
  }
  if (!variable) return;
  std::vector<size_t>& offsets = offsets_;
  offsets.resize(size_t(num_var_) + 1);
  size_t at = head + size_t(fixed_size_);
  for (size_t i = 0; i < size_t(num_var_); ++i) {
    offsets[i] = at;
    const int k = by_var_index_[i];
    if (k < 0 || !slots_[size_t(k)].present) continue;
    const std::string& b = slots_[size_t(k)].bytes;
    std::memcpy(out + at, b.data(), b.size());
    at += b.size();
  }
  offsets[size_t(num_var_)] = at;
  uint8_t* p = out + at;
  if (format_.jet3) {
    const size_t jumps = tail - (size_t(num_var_) + 2 + mask_size);
    for (size_t i = size_t(num_var_) + 1; i-- > 0;) *p++ = uint8_t(offsets[i]);
    // Entry j names the first offset at or past byte 256 * (j + 1); 0xFF when the data
    // ends before that boundary (the table's size counts the whole row).
    for (size_t j = jumps; j-- > 0;) {
      size_t first = 0;
      while (first <= size_t(num_var_) && offsets[first] < 256 * (j + 1)) ++first;
      *p++ = first <= size_t(num_var_) ? uint8_t(first) : 0xFF;
    }
    *p = uint8_t(num_var_);
  } else {
    Put16(p, uint32_t(offsets[size_t(num_var_)]));
    p += 2;
    for (size_t i = size_t(num_var_); i-- > 0; p += 2) Put16(p, uint32_t(offsets[i]));
    Put16(p, uint32_t(num_var_));
  }
}

void RowEncoder::EncodeValue(size_t index, const Variant& value, Slot& slot) {
  const ColumnDef& def = def_.columns[index];
  const JetColumn& col = def.column;
  slot.present = false;
  slot.is_long = false;
  slot.bytes.clear();
  const bool text_column = col.type == kText || col.type == kMemo;
  const bool empty = value.IsEmpty() || (!text_column && IsBlankText(value));
  if (col.type == kBoolean) {
    // A column the source does not fill (Unassigned) takes Access's default, No, unnoted.
    if (value.IsNull()) ++note_counts_[index * kNoteKinds + kNullBoolean];
    try {
      slot.present = !empty && value.ToBoolean();
    } catch (const TrundleError& e) {
      Refuse(index, e.what());
    }
    return;
  }
  if (empty) {
    if (col.autonumber) Refuse(index, "an AutoNumber column was given no number");
    if (col.required) Refuse(index, "a value is required");
    return;
  }
  slot.present = true;
  if (col.type == kComplex)
    Refuse(index, "multi-valued and attachment columns cannot be written (only Null can)");
  try {
    switch (col.type) {
      case kByte:
      case kInteger:
      case kLong:
      case kBigInt: {
        bool out = false;
        const int64_t v = WholeNumber(value, out);
        const int64_t lo = col.type == kByte      ? 0
                           : col.type == kInteger ? INT16_MIN
                           : col.type == kLong    ? INT32_MIN
                                                  : INT64_MIN;
        const int64_t hi = col.type == kByte      ? 255
                           : col.type == kInteger ? INT16_MAX
                           : col.type == kLong    ? INT32_MAX
                                                  : INT64_MAX;
        if (out || v < lo || v > hi)
          Refuse(index, value.ToText() + " is out of the range of " + TypeName(col.type) +
                            " column (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
        if (col.type == kByte)
          slot.bytes.assign(1, char(uint8_t(v)));
        else if (col.type == kInteger)
          PutValue(slot.bytes, int16_t(v));
        else if (col.type == kLong)
          PutValue(slot.bytes, int32_t(v));
        else
          PutValue(slot.bytes, v);
        break;
      }
      case kCurrency:
        PutValue(slot.bytes, value.ToCurrency());
        break;
      case kSingle:
      case kDouble: {
        const double d = value.ToDouble();
        if (!std::isfinite(d)) Refuse(index, value.ToText() + " is not a finite number");
        if (col.type == kDouble) {
          PutValue(slot.bytes, d);
        } else {
          if (std::fabs(d) > double(std::numeric_limits<float>::max()))
            Refuse(index, value.ToText() + " is out of the range of a Single column");
          PutValue(slot.bytes, float(d));
        }
        break;
      }
      case kDateTime: {
        const double d = value.ToDateTime();
        if (!(d >= kFirstDate && d < kDateEnd))
          Refuse(index, value.ToText() + " is outside the dates a Date/Time column holds "
                                         "(the years 100 to 9999)");
        PutValue(slot.bytes, d);
        break;
      }
      case kGuid: {
        if (value.type() == VarType::kBlob && value.text().size() == 16)
          slot.bytes = value.text();
        else if (!value.IsText() || !ParseGuid(value.text(), slot.bytes))
          Refuse(index, "'" + value.ToText() + "' is not a GUID");
        break;
      }
      case kNumeric: {
        uint8_t bytes[17];
        if (value.type() == VarType::kFloat && !std::isfinite(value.real()))
          Refuse(index, value.ToText() + " is not a finite number");
        if (!EncodeNumeric(value, col.precision, col.scale, bytes))
          Refuse(index, value.ToText() + " does not fit a Decimal column of precision " +
                            std::to_string(col.precision) + " and scale " +
                            std::to_string(col.scale));
        slot.bytes.assign(reinterpret_cast<const char*>(bytes), 17);
        break;
      }
      case kText:
      case kMemo:
        EncodeText(index, value, col.type == kMemo, slot);
        break;
      case kOle:
      case kBinary:
        if (value.type() != VarType::kBlob && !value.IsText())
          Refuse(index, "a value of type " + std::string(VarTypeName(value.type())) +
                            " cannot be stored as binary data");
        slot.bytes = value.text();
        if (col.type == kOle) {
          if (slot.bytes.size() > kMaxLongValue) Refuse(index, "the value is larger than 1 GB");
          slot.is_long = true;
        } else if (col.size > 0 && slot.bytes.size() > size_t(col.size)) {
          Refuse(index, std::to_string(slot.bytes.size()) + " bytes are more than the column's " +
                            std::to_string(col.size));
        } else if (col.fixed) {
          slot.bytes.resize(size_t(col.size), '\0');
        }
        break;
      default:  // a layout this program does not know: only a Null is safe to write
        Refuse(index, "columns of type " + std::to_string(col.type) + " cannot be written");
    }
  } catch (const TrundleError& e) {
    const std::string what = e.what();
    const std::string prefix = "column " + col.name + ": ";
    if (what.compare(0, prefix.size(), prefix) == 0) throw;
    Refuse(index, what);
  }
  if (col.fixed && col.type != kBoolean && slot.bytes.size() != size_t(col.size))
    Refuse(index, "its definition gives " + std::to_string(col.size) +
                      " bytes, and the value takes " + std::to_string(slot.bytes.size()));
}

void RowEncoder::EncodeText(size_t index, const Variant& value, bool long_value, Slot& slot) {
  const ColumnDef& def = def_.columns[index];
  const JetColumn& col = def.column;
  if (value.type() != VarType::kString && value.type() != VarType::kBlob)
    text_ = value.ToText();
  const std::string& text =
      value.type() == VarType::kString || value.type() == VarType::kBlob ? value.text() : text_;
  // The engine refuses the record rather than store something else (a Null).
  if (text.empty() && !col.allow_zero_length)
    Refuse(index, "empty text is not allowed (the column allows no zero-length text)");
  if (format_.jet3) {
    slot.bytes.clear();
    if (!jet3_text_->Convert(text, slot.bytes))
      ++note_counts_[index * kNoteKinds + kReplacedChars];
    if (!long_value && slot.bytes.size() > size_t(col.size))
      Refuse(index, "text of " + std::to_string(slot.bytes.size()) + " bytes in " +
                        jet3_text_->code_page() + " is longer than the column's " +
                        std::to_string(col.size));
  } else {
    // Most text is ASCII without NUL: one unit a byte, and its compressed form is the bytes
    // themselves after the FF FE mark, with no UTF-16 step in between.
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](unsigned char c) { return c != 0 && c < 0x80; });
    if (!ascii && !Utf8ToUtf16(text, units_))
      ++note_counts_[index * kNoteKinds + kReplacedChars];
    const size_t units = ascii ? text.size() : units_.size();
    const size_t limit = size_t(col.size) / 2;
    if (!long_value && units > limit)
      Refuse(index, "text of " + std::to_string(units) + " characters is longer than the column's " +
                        std::to_string(limit));
    const bool compress =
        def.compressed && !col.fixed && (!long_value || units <= kMaxCompressedMemo);
    if (ascii && compress && units > 2) {  // shorter than its UTF-16 form from 3 units on
      slot.bytes.assign("\xFF\xFE", 2);
      slot.bytes.append(text);
    } else {
      if (ascii) Utf8ToUtf16(text, units_);
      EncodeJet4Text(units_, compress, slot.bytes);
    }
  }
  if (long_value) {
    if (slot.bytes.size() > kMaxLongValue) Refuse(index, "the text is larger than 1 GB");
    slot.is_long = true;
  } else if (col.fixed) {  // fixed-width text is padded with spaces
    if (format_.jet3) {
      slot.bytes.resize(size_t(col.size), ' ');
    } else {
      while (slot.bytes.size() + 2 <= size_t(col.size)) slot.bytes.append(" ", 2);
      slot.bytes.resize(size_t(col.size), '\0');
    }
  }
}

std::vector<std::string> RowEncoder::TakeNotes() {
  std::vector<std::string> notes;
  const std::string replaced =
      format_.jet3 ? "texts held characters that " + jet3_text_->code_page() +
                         " cannot hold; they were stored as '?'"
                   : std::string("texts were not valid UTF-8; the bytes that were not were "
                                 "stored as replacement characters");
  const std::string what[kNoteKinds] = {
      "Null values were stored as No, since a Yes/No column holds no Null",
      replaced,
  };
  for (size_t k = 0; k < def_.columns.size(); ++k)
    for (int kind = 0; kind < kNoteKinds; ++kind) {
      int64_t& n = note_counts_[k * kNoteKinds + size_t(kind)];
      if (n == 0) continue;
      notes.push_back("table " + def_.name + ", column " + def_.columns[k].column.name + ": " +
                      std::to_string(n) + " " + what[kind]);
      n = 0;
    }
  return notes;
}

}  // namespace trundle::jet

#include "databases/access/jet/jet_rows.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_set>

#include "databases/access/jet/jet_text.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

template <typename T>
T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

RowDecoder::RowDecoder(const PageFile& file, const Format& format, const TableDef& def,
                       TextCodec* jet3_text, std::string where)
    : file_(file), format_(format), def_(def), jet3_text_(jet3_text), where_(std::move(where)) {}

void RowDecoder::Decode(const uint8_t* row, int size, std::vector<Variant>& values) {
  values.resize(def_.columns.size());
  auto damaged = [&](const char* cause) { throw TrundleError(where_ + ": " + cause); };
  const int head = format_.jet3 ? 1 : 2;
  if (size < head) damaged("a row is shorter than its column count");
  const int row_cols = format_.jet3 ? row[0] : Get16(row);
  const int mask_size = (row_cols + 7) / 8;
  if (head + mask_size > size) damaged("a row is shorter than its null mask");
  const uint8_t* mask = row + size - mask_size;

  // The variable-length part: an offset for each column plus the end of the data.
  int num_var = 0;
  int data_end = size - mask_size;  // fixed and variable data lie before this
  if (def_.num_var_cols > 0) {
    if (format_.jet3) {
      if (head + mask_size + 1 > size) damaged("a row is shorter than its offset table");
      num_var = row[size - mask_size - 1];
      const int jumps = (size - 1) / 256;
      const int last = size - mask_size - 1 - jumps - 1 - num_var;  // the end-of-data entry
      if (last < head) damaged("a row is shorter than its offset table");
      var_offsets_.assign(size_t(num_var) + 1, 0);
      for (int i = 0; i <= num_var; ++i) {
        // Each jump entry names the first offset at or past the next 256-byte boundary.
        int high = 0;
        for (int j = 0; j < jumps; ++j) {
          const int first = row[size - mask_size - 2 - j];
          if (first <= i) ++high;
        }
        var_offsets_[size_t(i)] = row[size - mask_size - 2 - jumps - i] + 256 * high;
      }
      data_end = last;
    } else {
      if (head + mask_size + 4 > size) damaged("a row is shorter than its offset table");
      num_var = Get16(row + size - mask_size - 2);
      const int eod_at = size - mask_size - 4 - 2 * num_var;
      if (eod_at < head) damaged("a row is shorter than its offset table");
      var_offsets_.assign(size_t(num_var) + 1, 0);
      for (int i = 0; i < num_var; ++i)
        var_offsets_[size_t(i)] = Get16(row + size - mask_size - 4 - 2 * i);
      var_offsets_[size_t(num_var)] = Get16(row + eod_at);
      data_end = eod_at;
    }
  }

  for (size_t k = 0; k < def_.columns.size(); ++k) {
    const ColumnDef& col = def_.columns[k];
    Variant& out = values[k];
    if (col.number >= row_cols) {  // added after this row was written
      out.SetNull();
      continue;
    }
    const bool present = (mask[col.number / 8] >> (col.number % 8)) & 1;
    if (col.column.type == kBoolean) {
      out.SetBoolean(present);
      continue;
    }
    if (!present) {
      out.SetNull();
      continue;
    }
    if (col.column.fixed) {
      const int begin = head + col.fixed_offset;
      if (begin + col.column.size > data_end) damaged("a fixed column lies outside its row");
      DecodeValue(col, row + begin, col.column.size, out);
    } else {
      if (col.var_index >= num_var) {
        out.SetNull();
        continue;
      }
      const int begin = var_offsets_[size_t(col.var_index)];
      const int end = var_offsets_[size_t(col.var_index) + 1];
      if (begin < head || begin > end || end > data_end)
        damaged("a variable column lies outside its row");
      DecodeValue(col, row + begin, end - begin, out);
    }
  }
}

void RowDecoder::DecodeColumn(const ColumnDef& col, bool present, const uint8_t* data, int size,
                              Variant& out) {
  if (col.column.type == kBoolean)
    out.SetBoolean(present);
  else if (!present)
    out.SetNull();
  else
    DecodeValue(col, data, size, out);
}

void RowDecoder::DecodeText(const uint8_t* data, size_t size, Variant& out) {
  scratch_.clear();
  bool ok;
  if (format_.jet3)
    ok = jet3_text_->Convert(std::string_view(reinterpret_cast<const char*>(data), size), scratch_);
  else
    ok = AppendJet4Text(data, size, scratch_);
  if (!ok) ++bad_text_;
  out.SetString(scratch_);
}

void RowDecoder::DecodeValue(const ColumnDef& col, const uint8_t* data, int size, Variant& out) {
  const uint8_t type = col.column.type;
  const int need = FixedWidth(type);
  if (need > 0 && size < need)
    throw TrundleError(where_ + ": column " + col.column.name + " holds " + std::to_string(size) +
                       " bytes of the " + std::to_string(need) + " its type needs");
  switch (type) {
    case kByte:
      out.SetInteger(data[0]);
      return;
    case kInteger:
      out.SetInteger(Load<int16_t>(data));
      return;
    case kLong:
    case kComplex:
      out.SetInteger(Load<int32_t>(data));
      return;
    case kBigInt:
      out.SetInteger(Load<int64_t>(data));
      return;
    case kCurrency:
      out.SetCurrency(Load<int64_t>(data));
      return;
    case kSingle:
      out.SetFloat(double(Load<float>(data)));
      return;
    case kDouble:
      out.SetFloat(Load<double>(data));
      return;
    case kDateTime:
      out.SetDateTime(Load<double>(data));
      return;
    case kGuid:
      out.SetString(GuidText(data));
      return;
    case kNumeric:
      DecodeNumeric(data, col.column.scale, out);
      return;
    case kText:
      DecodeText(data, size_t(size), out);
      return;
    case kMemo:
    case kOle: {
      std::string bytes;
      lval_column_ = uint32_t(col.number);
      ReadLongValue(data, size, bytes);
      if (type == kMemo)
        DecodeText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
      else
        out.SetBlob(bytes);
      return;
    }
    default:  // Binary, and types this reader does not interpret: the bytes as stored
      out.SetBlob(std::string_view(reinterpret_cast<const char*>(data), size_t(size)));
      return;
  }
}

void RowDecoder::ReadLongValue(const uint8_t* data, int size, std::string& out) {
  auto damaged = [&](const std::string& cause) {
    throw TrundleError(where_ + ": a long value " + cause);
  };
  if (size < 12) damaged("has a header of " + std::to_string(size) + " bytes");
  const uint32_t length = Get32(data) & 0x3FFFFFFF;
  const uint8_t kind = data[3] & 0xC0;
  uint32_t pointer = Get32(data + 4);
  if (kind == 0x80) {  // stored in the row itself
    if (uint64_t(length) + 12 > uint64_t(size)) damaged("is longer than its row");
    out.assign(reinterpret_cast<const char*>(data + 12), length);
    return;
  }
  if (length == 0) return;
  // Single LVAL row, or a chain of rows each starting with the pointer to the next.
  const bool chained = kind != 0x40;
  std::unordered_set<uint32_t> seen;
  while (true) {
    if (!seen.insert(pointer).second) damaged("chain revisits a row");
    const uint32_t page = pointer >> 8;
    if (page == 0 || page >= file_.page_count())
      damaged("points to page " + std::to_string(page) + ", outside the file");
    if (page != lval_page_number_) {
      lval_page_number_ = 0;
      file_.Read(page, lval_page_);
      lval_page_number_ = page;
    }
    RowSpan span;
    if (lval_page_[0] != 0x01 ||
        !LocateRow(lval_page_, format_, int(pointer & 0xFF), span, where_) || span.deleted)
      damaged("points to a missing row on page " + std::to_string(page));
    if (lval_rows_) lval_rows_->push_back(uint64_t(lval_column_) << 32 | pointer);
    const uint8_t* p = &lval_page_[size_t(span.begin)];
    int n = span.end - span.begin;
    uint32_t next = 0;
    if (chained) {
      if (n < 4) damaged("chain has a row too short for its link");
      next = Get32(p);
      p += 4;
      n -= 4;
    }
    const size_t want = size_t(length) - out.size();
    out.append(reinterpret_cast<const char*>(p), std::min(want, size_t(n)));
    if (out.size() >= length) return;
    if (!chained) damaged("is shorter than its header says");
    if (next == 0) damaged("chain ends before its length");
    pointer = next;
  }
}

void DecodeNumeric(const uint8_t* data, int scale, Variant& out) {
  // The mantissa is four little-endian 32-bit words, the most significant first.
  uint32_t words[4];
  for (int w = 0; w < 4; ++w) words[w] = Get32(data + 1 + 4 * w);
  const bool negative = (data[0] & 0x80) != 0;
  if (scale > 38) scale = 38;
  char digits[48];
  int n = 0;
  bool more = true;
  while (more) {  // long division by ten, one digit at a time
    uint64_t rest = 0;
    more = false;
    for (uint32_t& w : words) {
      const uint64_t cur = (rest << 32) | w;
      w = uint32_t(cur / 10);
      rest = cur % 10;
      more = more || w != 0;
    }
    digits[n++] = char('0' + int(rest));
  }
  std::string text;
  if (negative) text.push_back('-');
  if (scale == 0) {
    for (int i = n - 1; i >= 0; --i) text.push_back(digits[i]);
    int64_t v;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc() && r.ptr == text.data() + text.size()) {
      out.SetInteger(v);
      return;
    }
  } else {
    while (n <= scale) digits[n++] = '0';
    for (int i = n - 1; i >= scale; --i) text.push_back(digits[i]);
    text.push_back('.');
    for (int i = scale - 1; i >= 0; --i) text.push_back(digits[i]);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  double d;
  auto r = std::from_chars(text.data(), text.data() + text.size(), d);
  if (r.ec == std::errc()) {
    char back[32];
    auto w = std::to_chars(back, back + sizeof back, d);
    if (w.ec == std::errc() && std::string_view(back, size_t(w.ptr - back)) == text) {
      out.SetFloat(d);
      return;
    }
  }
  out.SetString(text);
}

std::string GuidText(const uint8_t* d) {
  static const char kHex[] = "0123456789ABCDEF";
  // Data1, Data2, Data3 little-endian; the last eight bytes in order.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[d[kOrder[i]] >> 4]);
    s.push_back(kHex[d[kOrder[i]] & 15]);
  }
  s.push_back('}');
  return s;
}

}  // namespace trundle::jet

#include "textfiles/qor_tables.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/locale_format.h"

namespace trundle {
namespace {

// Records live in blocks of this size; a record larger than a block gets one of its own.
constexpr size_t kBlockSize = 4 << 20;
constexpr uint64_t kOpenRecord = ~uint64_t{0};

[[noreturn]] void RangeCheck() { throw TrundleError(kRangeCheckError); }

struct FreeBlock {
  void operator()(char* p) const { std::free(p); }
};
using Block = std::unique_ptr<char[], FreeBlock>;

// A block in huge pages where the system offers them: a table of some hundred megabytes
// would otherwise cost a page fault for every 4 KB it fills, which is much of the time
// a large text file takes to load.
Block NewBlock(size_t size) {
  constexpr size_t kHugePage = 2 << 20;
  const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (!p) throw std::bad_alloc();
  madvise(p, rounded, MADV_HUGEPAGE);  // only advice: without it, ordinary pages
  return Block(static_cast<char*>(p));
}

size_t VarintSize(uint64_t v) {
  size_t n = 1;
  while (v >= 0x80) v >>= 7, ++n;
  return n;
}

char* PutVarint(char* p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

const char* GetVarint(const char* p, uint64_t& v) {
  v = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<uint8_t>(*p++);
    v |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return p;
  }
}

size_t EncodedSize(const Variant& v) {
  switch (v.type()) {
    case VarType::kString:
    case VarType::kBlob:
      return 1 + VarintSize(v.text().size()) + v.text().size();
    case VarType::kInteger:
    case VarType::kCurrency:
    case VarType::kFloat:
    case VarType::kDateTime:
      return 9;
    case VarType::kBoolean:
      return 2;
    default:
      return 1;
  }
}

char* Encode(char* p, const Variant& v) {
  *p++ = static_cast<char>(v.type());
  switch (v.type()) {
    case VarType::kString:
    case VarType::kBlob:
      p = PutVarint(p, v.text().size());
      std::memcpy(p, v.text().data(), v.text().size());
      return p + v.text().size();
    case VarType::kInteger:
    case VarType::kCurrency: {
      const int64_t i = v.integer();
      std::memcpy(p, &i, 8);
      return p + 8;
    }
    case VarType::kFloat:
    case VarType::kDateTime: {
      const double d = v.real();
      std::memcpy(p, &d, 8);
      return p + 8;
    }
    case VarType::kBoolean:
      *p++ = v.boolean() ? 1 : 0;
      return p;
    default:
      return p;
  }
}

// Decodes one value into out and returns the position after it.
const char* Decode(const char* p, Variant& out) {
  const auto type = static_cast<VarType>(*p++);
  switch (type) {
    case VarType::kString:
    case VarType::kBlob: {
      uint64_t len = 0;
      p = GetVarint(p, len);
      if (type == VarType::kString)
        out.SetString(std::string_view(p, len));
      else
        out.SetBlob(std::string_view(p, len));
      return p + len;
    }
    case VarType::kInteger:
    case VarType::kCurrency: {
      int64_t i;
      std::memcpy(&i, p, 8);
      if (type == VarType::kInteger)
        out.SetInteger(i);
      else
        out.SetCurrency(i);
      return p + 8;
    }
    case VarType::kFloat:
    case VarType::kDateTime: {
      double d;
      std::memcpy(&d, p, 8);
      if (type == VarType::kFloat)
        out.SetFloat(d);
      else
        out.SetDateTime(d);
      return p + 8;
    }
    case VarType::kBoolean:
      out.SetBoolean(*p != 0);
      return p + 1;
    case VarType::kUnassigned:
      out.Clear();
      return p;
    default:
      out.SetNull();
      return p;
  }
}

const char* SkipValue(const char* p) {
  const auto type = static_cast<VarType>(*p++);
  switch (type) {
    case VarType::kString:
    case VarType::kBlob: {
      uint64_t len = 0;
      p = GetVarint(p, len);
      return p + len;
    }
    case VarType::kInteger:
    case VarType::kCurrency:
    case VarType::kFloat:
    case VarType::kDateTime:
      return p + 8;
    case VarType::kBoolean:
      return p + 1;
    default:
      return p;
  }
}

void AppendTime(const DateParts& p, bool with_seconds, std::string& out) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
  if (with_seconds) n += std::snprintf(buf + n, sizeof buf - n, ":%02d", p.second);
  if (p.millisecond) std::snprintf(buf + n, sizeof buf - n, ".%03d", p.millisecond);
  out += buf;
}

}  // namespace

struct TTableObject::Store {
  std::vector<Block> blocks;
  size_t used = 0;  // bytes used in the last block
  size_t last_size = 0;
  // The record being filled by AddRecord and SetValue, kept loose until it is done.
  int open_index = -1;
  std::vector<Variant> open_values;

  // Room for n bytes; returns where they go and the record's offset.
  char* Reserve(size_t n, uint64_t& offset) {
    if (blocks.empty() || used + n > last_size) {
      last_size = n > kBlockSize ? n : kBlockSize;
      blocks.push_back(NewBlock(last_size));
      used = 0;
    }
    offset = (static_cast<uint64_t>(blocks.size() - 1) << 32) | used;
    char* p = blocks.back().get() + used;
    used += n;
    return p;
  }

  uint64_t EncodeRecord(const Variant* values, size_t count) {
    size_t n = VarintSize(count);
    for (size_t i = 0; i < count; ++i) n += EncodedSize(values[i]);
    uint64_t offset;
    char* p = PutVarint(Reserve(n, offset), count);
    for (size_t i = 0; i < count; ++i) p = Encode(p, values[i]);
    return offset;
  }

  const char* At(uint64_t offset) const {
    return blocks[offset >> 32].get() + (offset & 0xFFFFFFFFu);
  }
};

Variant TRecordObject::FieldValue(int i) const { return owner_->ValueOf(index_, i); }

TTableObject::TTableObject() : store_(std::make_unique<Store>()) {
  offsets_.push_back(store_->EncodeRecord(nullptr, 0));
}

TTableObject::~TTableObject() = default;

void TTableObject::SealOpenRecord() const {
  Store& s = *store_;
  if (s.open_index < 0) return;
  offsets_[s.open_index] = s.EncodeRecord(s.open_values.data(), s.open_values.size());
  s.open_index = -1;
  s.open_values.clear();
}

const char* TTableObject::RecordBytes(int record) const { return store_->At(offsets_[record]); }

void TTableObject::AddRecord() {
  SealOpenRecord();
  store_->open_index = RecordListLength();
  offsets_.push_back(kOpenRecord);
}

void TTableObject::ClearRecords() {
  SealOpenRecord();
  store_ = std::make_unique<Store>();
  offsets_.clear();
  offsets_.push_back(store_->EncodeRecord(nullptr, 0));
}

void TTableObject::AddRecordFrom(const std::vector<const Variant*>& values) {
  SealOpenRecord();
  const size_t count = values.size() < kMaxRecordValues ? values.size() : kMaxRecordValues;
  static const Variant kNull = Variant::Null();
  size_t n = VarintSize(count);
  for (size_t i = 0; i < count; ++i) n += EncodedSize(values[i] ? *values[i] : kNull);
  uint64_t offset;
  char* p = PutVarint(store_->Reserve(n, offset), count);
  for (size_t i = 0; i < count; ++i) p = Encode(p, values[i] ? *values[i] : kNull);
  offsets_.push_back(offset);
  for (size_t i = count; i < values.size(); ++i)
    if (values[i]) RangeCheck();
}

void TTableObject::ForEachText(
    int record, const std::function<void(size_t, std::string_view, bool)>& emit) const {
  const char* p = RecordBytes(record);
  uint64_t count = 0;
  p = GetVarint(p, count);
  Variant scratch;
  std::string text;
  for (size_t i = 0; i < FieldNames.size(); ++i) {
    if (i > kMaxRecordValues - 1) RangeCheck();
    if (i >= count) {
      emit(i, std::string_view(), true);
      continue;
    }
    const auto type = static_cast<VarType>(*p);
    if (type == VarType::kString) {
      uint64_t len = 0;
      p = GetVarint(p + 1, len);
      emit(i, std::string_view(p, len), false);
      p += len;
      continue;
    }
    p = Decode(p, scratch);
    text.clear();
    AppendFormatted(scratch, text);
    emit(i, std::string_view(text), scratch.IsEmpty());
  }
}

void TTableObject::AddTextRecord(const std::vector<std::string_view>& texts) {
  SealOpenRecord();
  const size_t count = texts.size() < kMaxRecordValues ? texts.size() : kMaxRecordValues;
  size_t n = VarintSize(count);
  for (size_t i = 0; i < count; ++i) n += 1 + VarintSize(texts[i].size()) + texts[i].size();
  uint64_t offset;
  char* p = PutVarint(store_->Reserve(n, offset), count);
  for (size_t i = 0; i < count; ++i) {
    *p++ = static_cast<char>(VarType::kString);
    p = PutVarint(p, texts[i].size());
    std::memcpy(p, texts[i].data(), texts[i].size());
    p += texts[i].size();
  }
  offsets_.push_back(offset);
  if (texts.size() > kMaxRecordValues) RangeCheck();
}

Variant TTableObject::GetValue(int field, int record) const {
  Variant v = Variant::Null();
  if (field < 0 || field >= static_cast<int>(FieldNames.size()) || record < 1 ||
      record >= RecordListLength())
    return v;
  return ValueOf(record, field);
}

Variant TTableObject::ValueOf(int record, int field) const {
  if (field > kMaxRecordValues - 1) RangeCheck();
  Variant v = Variant::Null();
  if (field < 0 || record < 1 || record >= RecordListLength()) return v;
  const Store& s = *store_;
  if (record == s.open_index) {
    if (static_cast<size_t>(field) < s.open_values.size()) v = s.open_values[field];
    return v;
  }
  const char* p = RecordBytes(record);
  uint64_t count = 0;
  p = GetVarint(p, count);
  if (static_cast<uint64_t>(field) >= count) return v;
  for (int i = 0; i < field; ++i) p = SkipValue(p);
  Decode(p, v);
  return v;
}

void TTableObject::ReadInto(int record, std::vector<Variant>& values) const {
  const size_t fields = FieldNames.size();
  if (values.size() < fields) values.resize(fields);
  const Store& s = *store_;
  if (record == s.open_index) {
    for (size_t i = 0; i < fields; ++i) {
      if (i > kMaxRecordValues - 1) RangeCheck();
      if (i < s.open_values.size())
        values[i] = s.open_values[i];
      else
        values[i].SetNull();
    }
    return;
  }
  const char* p = RecordBytes(record);
  uint64_t count = 0;
  p = GetVarint(p, count);
  for (size_t i = 0; i < fields; ++i) {
    if (i > kMaxRecordValues - 1) RangeCheck();
    if (i < count)
      p = Decode(p, values[i]);
    else
      values[i].SetNull();
  }
}

int TTableObject::IndexOfName(std::string_view name) const {
  const std::string upper = UpperAscii(name);
  for (size_t i = 0; i < FieldNames.size(); ++i)
    if (EqualsIgnoringAsciiCase(FieldNames[i], upper)) return static_cast<int>(i);
  return -1;
}

Variant TTableObject::GetValueByName(std::string_view name, int record) const {
  const int field = IndexOfName(name);
  if (field < 0) throw TrundleError("Field not found " + std::string(name));
  return GetValue(field, record);
}

void TTableObject::SetValue(std::string_view name, int record, const Variant& value) {
  const int field = IndexOfName(name);
  if (field < 0 || record < 1 || record >= RecordListLength()) return;
  SetValueAt(field, record, value);
}

void TTableObject::SetValueAt(int field, int record, const Variant& value) {
  if (field > kMaxRecordValues - 1) RangeCheck();
  if (field < 0 || record < 1 || record >= RecordListLength()) return;
  Store& s = *store_;
  if (record != s.open_index) {
    // A sealed record changes rarely (only when a caller goes back to it): unpack it
    // as the open record and let it be packed again.
    SealOpenRecord();
    const char* p = RecordBytes(record);
    uint64_t count = 0;
    p = GetVarint(p, count);
    s.open_values.assign(count, Variant());
    for (uint64_t i = 0; i < count; ++i) p = Decode(p, s.open_values[i]);
    s.open_index = record;
    offsets_[record] = kOpenRecord;
  }
  if (s.open_values.size() <= static_cast<size_t>(field))
    s.open_values.resize(field + 1, Variant::Null());
  s.open_values[field] = value;
}

std::vector<int> TTableObject::LongestValues(const TextLength& length,
                                             const TTrundleTickEvent& tick) const {
  SealOpenRecord();
  std::vector<int> longest(FieldNames.size(), 0);
  Variant v;
  std::string text;
  TickCounter ticks(tick);
  for (int r = 1; r < RecordListLength(); ++r) {
    ticks.Step();
    const char* p = RecordBytes(r);
    uint64_t count = 0;
    p = GetVarint(p, count);
    for (uint64_t i = 0; i < count && i < longest.size(); ++i) {
      p = Decode(p, v);
      size_t len = 0;
      if (v.type() == VarType::kString || v.type() == VarType::kBlob) {
        len = length(v.text());
      } else {
        text.clear();
        AppendFormatted(v, text);
        len = length(text);
      }
      len = std::min<size_t>(len, INT32_MAX);
      if (len > static_cast<size_t>(longest[i])) longest[i] = static_cast<int>(len);
    }
  }
  return longest;
}

void TTableObject::AppendFormatted(const Variant& value, std::string& out) const {
  const std::shared_ptr<const LocaleFormats> snapshot = CurrentLocaleFormats();
  const LocaleFormats& formats = *snapshot;
  switch (value.type()) {
    case VarType::kCurrency: {
      // "$%1.2f": two decimals. A currency amount holds four, and those of an amount such
      // as 0.125 are kept ($0.125) rather than rounded away.
      const int64_t units = value.integer();
      const bool negative = units < 0;
      const uint64_t mag = negative ? 0 - static_cast<uint64_t>(units) : units;
      unsigned frac = static_cast<unsigned>(mag % 10000);
      int decimals = 4;
      for (; decimals > 2 && frac % 10 == 0; --decimals) frac /= 10;
      char buf[40];
      std::snprintf(buf, sizeof buf, "$%s%llu%c%0*u", negative ? "-" : "",
                    static_cast<unsigned long long>(mag / 10000), formats.decimal_separator,
                    decimals, frac);
      out += buf;
      return;
    }
    case VarType::kDateTime: {
      const double d = value.real();
      const DateParts p = DecodeDateTime(d);
      const bool has_time = p.hour || p.minute || p.second || p.millisecond;
      // A value in [0, 1) is a time of day alone. Dates before 1899-12-30 are
      // negative and stay dates.
      if (d >= 0 && d < 1.0) {
        AppendTime(p, p.second || p.millisecond, out);
        return;
      }
      out += FormatShortDate(d, formats);
      if (has_time) {
        out += ' ';
        AppendTime(p, p.second || p.millisecond, out);
      }
      return;
    }
    case VarType::kFloat: {
      const size_t start = out.size();
      value.AppendText(out);
      if (formats.decimal_separator != '.')
        for (size_t i = start; i < out.size(); ++i)
          if (out[i] == '.') out[i] = formats.decimal_separator;
      return;
    }
    case VarType::kBlob: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "0x";
      for (unsigned char c : value.text()) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return;
    }
    default:
      value.AppendText(out);
      return;
  }
}

std::string TTableObject::FormatValue(const TRecordObject& record, int field) const {
  if (field > kMaxRecordValues - 1) RangeCheck();
  std::string out;
  AppendFormatted(record.FieldValue(field), out);
  return out;
}

void TTableObject::SaveToDelimited(char delimiter, OutputSink& sink,
                                   const TTrundleTickEvent& tick) const {
  SealOpenRecord();
  std::string line;
  auto quoted = [&line](std::string_view text) {
    line += '"';
    size_t start = 0;
    for (size_t q = text.find('"'); q != std::string_view::npos; q = text.find('"', q + 1)) {
      line.append(text.substr(start, q + 1 - start));
      line += '"';  // a quote inside a value is doubled
      start = q + 1;
    }
    line.append(text.substr(start));
    line += '"';
  };
  for (size_t i = 0; i < FieldNames.size(); ++i) {
    if (i) line += delimiter;
    quoted(FieldNames[i]);
  }
  line += "\r\n";
  TickCounter ticks(tick);
  for (int r = 1; r < RecordListLength(); ++r) {
    ticks.Step();
    ForEachText(r, [&](size_t i, std::string_view text, bool /*empty*/) {
      if (i) line += delimiter;
      quoted(text);
    });
    line += "\r\n";
    if (line.size() >= (1 << 16)) {
      sink.Write(line);
      line.clear();
    }
  }
  sink.Write(line);
}

std::string TTableObject::SaveToCsv() const {
  StringSink sink;
  SaveToDelimited(',', sink);
  return std::move(sink.text);
}

std::string TTableObject::SaveToTabText() const {
  StringSink sink;
  SaveToDelimited('\t', sink);
  return std::move(sink.text);
}

}  // namespace trundle

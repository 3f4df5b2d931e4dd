#include "databases/access/jet/jet_index_key.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "databases/access/jet/jet_row_encoder.h"
#include "databases/access/jet/jet_sort_codes.h"
#include "databases/access/jet/jet_text.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

// The flag byte that opens each key column: a value follows, or the value is Null.
constexpr char kAscending = 0x7F;
constexpr char kDescending = char(0x80);
constexpr char kAscendingNull = 0x00;
constexpr char kDescendingNull = char(0xFF);
// Jet's "General" sort order; Jet 4 text columns add a version (0: "General Legacy").
constexpr uint16_t kGeneralSortOrder = 1033;
// Text keys order the first 255 characters (UTF-16 units) of a value, trailing spaces
// left out.
constexpr size_t kMaxKeyChars = 255;

// General Legacy text keys: the end of the characters' codes, and the filler of the
// accents part for characters without an accent.
constexpr char kEndOfCodes = 0x01;
constexpr char kNoAccent = 0x02;
// General Legacy: where a hidden character stood, as its tail entry gives it.
constexpr int kHiddenBase = 7, kHiddenStep = 4, kHiddenMark = 0x8000;
constexpr char kHiddenSeparator = 0x06;
// General Legacy: the flags of kAccentedFlag characters, three to a byte after this
// prefix, and the bytes that close them.
constexpr uint8_t kFlagsPrefix = 0x80;
constexpr uint8_t kTrailingFlag = 3;  // flags of this value at the end are left out
constexpr char kFlagsEnd[] = {char(0xFF), 0x02, char(0x80), char(0xFF), char(0x80)};

enum class KeyKind {
  kBoolean,
  kByte,
  kInteger,
  kFloat,
  kSingle,
  kNumeric,
  kText97,
  kTextLegacy,
  kBinary,
  kGuid
};

struct KeyColumn {
  size_t value = 0;  // place in the row's values
  KeyKind kind = KeyKind::kInteger;
  int width = 0;  // kInteger: bytes
  bool ascending = true;
  const ColumnDef* def = nullptr;
};

void Invert(std::string& key, size_t from) {
  for (size_t i = from; i < key.size(); ++i) key[i] = char(~uint8_t(key[i]));
}

// A big-endian number with its top bit flipped: two's complement integers and positive
// floating-point numbers then compare as unsigned bytes.
void PutFlipped(std::string& key, uint64_t bits, int width) {
  for (int i = width - 1; i >= 0; --i) {
    uint8_t b = uint8_t(bits >> (8 * i));
    if (i == width - 1) b ^= 0x80;
    key.push_back(char(b));
  }
}

// A floating-point number's IEEE bits (width 4 or 8) so that its key bytes order as the
// numbers do: positive numbers with the sign bit set, negative ones all bits inverted.
void PutReal(std::string& key, uint64_t bits, int width) {
  const bool negative = (bits >> (8 * width - 1)) & 1;
  if (negative) bits = ~bits;
  for (int i = width - 1; i >= 0; --i) {
    uint8_t b = uint8_t(bits >> (8 * i));
    if (i == width - 1 && !negative) b ^= 0x80;
    key.push_back(char(b));
  }
}

// Binary data in segments of eight bytes, each followed by a byte of 9 when more follows
// or by the count of the last segment's bytes (zero-padded to eight). Descending: the
// data and the last count inverted, the 9s kept.
void PutSegments(std::string& key, const uint8_t* data, size_t size, bool ascending) {
  while (size > 8) {
    const size_t from = key.size();
    key.append(reinterpret_cast<const char*>(data), 8);
    if (!ascending) Invert(key, from);
    key.push_back(9);
    data += 8;
    size -= 8;
  }
  if (size == 0) return;
  const size_t from = key.size();
  key.append(reinterpret_cast<const char*>(data), size);
  key.append(8 - size, '\0');
  key.push_back(char(size));
  if (!ascending) Invert(key, from);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A GUID's 16 bytes in the order of its text (the order its key compares them in), from
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) or from the 16 bytes a row
// stores (first three groups little-endian).
bool GuidKeyBytes(const Variant& value, uint8_t out[16]) {
  if (value.type() == VarType::kBlob && value.text().size() == 16) {
    static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = uint8_t(value.text()[size_t(kOrder[i])]);
    return true;
  }
  if (!value.IsText()) return false;
  std::string_view t = value.text();
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36) return false;
  int n = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (t[i] != '-') return false;
      continue;
    }
    const int d = HexDigit(t[i]);
    if (d < 0) return false;
    if (n % 2 == 0)
      out[n / 2] = uint8_t(d << 4);
    else
      out[n / 2] |= uint8_t(d);
    ++n;
  }
  return n == 32;
}

// The General Legacy code of a character of the Basic Multilingual Plane (not a
// surrogate), by search over the runs.
SortCode FindLegacyCode(uint32_t c) {
  const SortRun* end = kGeneralLegacyRuns + kGeneralLegacyRunCount;
  const SortRun* run = std::upper_bound(kGeneralLegacyRuns, end, c,
                                        [](uint32_t v, const SortRun& r) { return v < r.first; });
  --run;  // the runs start at U+0000 and cover every character but the surrogates
  SortCode code = run->code;
  if (code.kind == kPlain && c > run->first) {
    uint32_t add = c - run->first;
    for (int i = code.size - 1; i >= 0 && add != 0; --i) {
      const uint32_t sum = code.code[i] + (add & 0xFF);
      code.code[i] = uint8_t(sum);
      add = (add >> 8) + (sum >> 8);
    }
  }
  return code;
}

// The codes of Latin-1, looked up once.
const SortCode* Latin1LegacyCodes() {
  static const std::vector<SortCode> table = [] {
    std::vector<SortCode> t(256);
    for (uint32_t c = 0; c < 256; ++c) t[c] = FindLegacyCode(c);
    return t;
  }();
  return table.data();
}

// The code page 1252 byte of a character, for the General 97 codes; '?' (what a Jet 3
// row holds for it) when the code page lacks it.
uint8_t Cp1252Byte(uint32_t c) {
  if (c < 256) return uint8_t(c);
  for (size_t i = 0; i < kGeneral97UnicodeCount; ++i)
    if (kGeneral97Unicode[i][0] == c) return uint8_t(kGeneral97Unicode[i][1]);
  return '?';
}

std::string CharName(uint32_t c) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s = "U+";
  for (int shift = c > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4)
    s.push_back(kHex[(c >> shift) & 15]);
  return s;
}

}  // namespace

struct IndexKeyEncoder::Impl {
  std::vector<KeyColumn> columns;
  std::u16string units;  // a non-ASCII text's characters
  std::string text;      // a value's text when it is not text already
  std::string accents;   // General Legacy: the accents part; General 97: its nibbles
  std::string hidden;    // General Legacy: the hidden characters' part
  std::string flags;     // General Legacy: the flags of kAccentedFlag characters
  const SortCode* latin1 = Latin1LegacyCodes();
  bool ace = false;  // Decimal keys as ACE makes them

  bool EncodeText(const KeyColumn& k, const Variant& value, std::string& key, std::string& error);
  template <typename Chars>
  bool Legacy(const Chars& chars, size_t count, std::string& key, std::string& error);
  template <typename Chars>
  void General97(const Chars& chars, size_t count, std::string& key);
};

IndexKeyEncoder::IndexKeyEncoder(const Format& format, const TableDef& def,
                                 const PhysicalIndex& index)
    : impl_(std::make_unique<Impl>()) {
  impl_->ace = format.ace;
  for (const IndexColumn& ic : index.columns) {
    auto it = std::find_if(def.columns.begin(), def.columns.end(),
                           [&](const ColumnDef& c) { return c.number == ic.number; });
    if (it == def.columns.end())
      throw TrundleError("an index refers to column " + std::to_string(ic.number) +
                         ", which the table lacks");
    KeyColumn k;
    k.value = size_t(it - def.columns.begin());
    k.ascending = ic.ascending;
    k.def = &*it;
    const std::string& name = it->column.name;
    switch (it->column.type) {
      case kBoolean:
        k.kind = KeyKind::kBoolean;
        break;
      case kByte:
        k.kind = KeyKind::kByte;
        break;
      case kInteger:
      case kLong:
      case kCurrency:
      case kBigInt:
      case kComplex:
        k.kind = KeyKind::kInteger;
        k.width = FixedWidth(it->column.type);
        break;
      case kSingle:
        k.kind = KeyKind::kSingle;
        break;
      case kDouble:
      case kDateTime:
        k.kind = KeyKind::kFloat;
        break;
      case kNumeric:
        k.kind = KeyKind::kNumeric;
        break;
      case kGuid:
        k.kind = KeyKind::kGuid;
        break;
      case kBinary:
        k.kind = KeyKind::kBinary;
        break;
      case kText: {
        const bool general = it->sort_order == kGeneralSortOrder || it->sort_order == 0;
        if (!general || it->sort_version != 0)
          throw TrundleError(
              "the index on column " + name + " is in sort order " +
              std::to_string(it->sort_order) +
              (it->sort_version ? " version " + std::to_string(it->sort_version) : std::string()) +
              ", which this program cannot keep (only General)");
        k.kind = format.jet3 ? KeyKind::kText97 : KeyKind::kTextLegacy;
        break;
      }
      case kMemo:
      case kOle:
        throw TrundleError("the index on column " + name +
                           " cannot be kept: Memo and OLE Object columns have no keys here");
      default:
        throw TrundleError("the index on column " + name + " cannot be kept: columns of type " +
                           std::to_string(it->column.type) + " are unknown to this program");
    }
    impl_->columns.push_back(k);
  }
}

IndexKeyEncoder::~IndexKeyEncoder() = default;

bool IndexKeyEncoder::AllNull(const std::vector<Variant>& values) const {
  for (const KeyColumn& k : impl_->columns) {
    if (k.kind == KeyKind::kBoolean) return false;  // a Yes/No column holds no Null
    if (!values[k.value].IsEmpty()) return false;
  }
  return true;
}

bool IndexKeyEncoder::Encode(const std::vector<Variant>& values, std::string& key) {
  key.clear();
  const bool ace_numeric = impl_->ace;
  for (const KeyColumn& k : impl_->columns) {
    const Variant& value = values[k.value];
    const ColumnDef& col = *k.def;
    if (k.kind == KeyKind::kBoolean) {
      // Yes sorts before No; a Null (which the row cannot hold) is No.
      const bool yes = !value.IsEmpty() && value.ToBoolean();
      key.push_back(k.ascending ? kAscending : kDescending);
      key.push_back(yes == k.ascending ? '\0' : char(0xFF));
      continue;
    }
    const bool blank = value.IsText() && k.kind != KeyKind::kText97 &&
                       k.kind != KeyKind::kTextLegacy &&
                       value.text().find_first_not_of(" \t\r\n") == std::string::npos;
    if (value.IsEmpty() || blank) {
      key.push_back(k.ascending ? kAscendingNull : kDescendingNull);
      continue;
    }
    key.push_back(k.ascending ? kAscending : kDescending);
    const size_t from = key.size();
    try {
      switch (k.kind) {
        case KeyKind::kByte:
          key.push_back(char(
              uint8_t(value.type() == VarType::kInteger ? value.integer() : value.ToInteger())));
          break;
        case KeyKind::kInteger: {
          const int64_t v = value.type() == VarType::kInteger || value.type() == VarType::kCurrency
                                ? value.integer()
                            : col.column.type == kCurrency ? value.ToCurrency()
                                                           : value.ToInteger();
          PutFlipped(key, uint64_t(v), k.width);
          break;
        }
        case KeyKind::kSingle: {
          const float f = float(value.type() == VarType::kFloat ? value.real() : value.ToDouble());
          uint32_t bits;
          std::memcpy(&bits, &f, 4);
          PutReal(key, bits, 4);
          break;
        }
        case KeyKind::kFloat: {
          const double d = value.type() == VarType::kFloat || value.type() == VarType::kDateTime
                               ? value.real()
                           : col.column.type == kDateTime ? value.ToDateTime()
                                                          : value.ToDouble();
          uint64_t bits;
          std::memcpy(&bits, &d, 8);
          PutReal(key, bits, 8);
          break;
        }
        case KeyKind::kNumeric: {
          uint8_t stored[17];
          if (!EncodeNumeric(value, col.column.precision, col.column.scale, stored)) {
            error_ = "column " + col.column.name + ": " + value.ToText() +
                     " does not fit its Decimal precision and scale";
            return false;
          }
          // Sign byte, then the mantissa big-endian (the row keeps 32-bit words, most
          // significant first, each little-endian). Jet 3 and 4 order the digits of a
          // negative value inverted in an ascending index and kept in a descending one,
          // and give the sign byte 00 (negative) or FF whatever the direction, so that a
          // descending index keeps negative values first. ACE orders them as numbers: FF,
          // the whole inverted for a negative value ascending or a positive one
          // descending.
          const bool negative = stored[0] & 0x80;
          key.push_back(char(stored[0]));
          for (int w = 0; w < 4; ++w)
            for (int b = 3; b >= 0; --b) key.push_back(char(stored[1 + 4 * w + b]));
          if (ace_numeric) key[from] = char(0xFF);
          if (negative == k.ascending) Invert(key, from);
          if (!ace_numeric) key[from] = negative ? '\0' : char(0xFF);
          break;
        }
        case KeyKind::kGuid: {
          uint8_t bytes[16];
          if (!GuidKeyBytes(value, bytes)) {
            error_ = "column " + col.column.name + ": '" + value.ToText() + "' is not a GUID";
            return false;
          }
          PutSegments(key, bytes, 16, k.ascending);
          break;
        }
        case KeyKind::kBinary: {
          const std::string& bytes = value.type() == VarType::kBlob || value.IsText()
                                         ? value.text()
                                         : (impl_->text = value.ToText());
          PutSegments(key, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                      k.ascending);
          break;
        }
        case KeyKind::kText97:
        case KeyKind::kTextLegacy:
          if (!impl_->EncodeText(k, value, key, error_)) return false;
          break;
        case KeyKind::kBoolean:
          break;
      }
    } catch (const TrundleError& e) {
      error_ = "column " + col.column.name + ": " + e.what();
      return false;
    }
    // Numbers of a descending column: their bytes inverted (the other kinds did so above).
    const bool number = k.kind == KeyKind::kByte || k.kind == KeyKind::kInteger ||
                        k.kind == KeyKind::kSingle || k.kind == KeyKind::kFloat;
    if (number && !k.ascending) Invert(key, from);
  }
  return true;
}

bool IndexKeyEncoder::Impl::EncodeText(const KeyColumn& k, const Variant& value, std::string& key,
                                       std::string& error) {
  const std::string* t = &value.text();
  if (value.type() != VarType::kString && value.type() != VarType::kBlob) {
    text = value.ToText();
    t = &text;
  }
  const size_t from = key.size();
  const bool ascii = std::all_of(t->begin(), t->end(), [](char c) { return uint8_t(c) < 0x80; });
  size_t count;
  if (ascii) {
    count = std::min(t->size(), kMaxKeyChars);
    while (count > 0 && (*t)[count - 1] == ' ') --count;
  } else {
    Utf8ToUtf16(*t, units);
    count = std::min(units.size(), kMaxKeyChars);
    while (count > 0 && units[count - 1] == u' ') --count;
  }
  const bool legacy = k.kind == KeyKind::kTextLegacy;
  if (legacy) {
    const bool ok = ascii ? Legacy(*t, count, key, error) : Legacy(units, count, key, error);
    if (!ok) {
      error = "column " + k.def->column.name + ": " + error;
      return false;
    }
    // A descending key: all inverted, its closing 00 too, and a 00 after that.
    if (!k.ascending) Invert(key, from);
    if (!k.ascending) key.push_back('\0');
  } else {
    if (ascii)
      General97(*t, count, key);
    else
      General97(units, count, key);
    if (!k.ascending) Invert(key, from);
  }
  return true;
}

// General Legacy: each character's code in line, then 01; then, when any character
// called for them, the accents (one entry a character position up to the last accent,
// 02 for none), the flags and the hidden characters; then 00.
template <typename Chars>
bool IndexKeyEncoder::Impl::Legacy(const Chars& chars, size_t count, std::string& key,
                                   std::string& error) {
  accents.clear();
  hidden.clear();
  flags.clear();
  bool any_accents = false;  // the accents part was begun (it may hold no byte yet)
  int accent_chars = 0;      // character positions the accents part covers
  int accent_prefix = 0;     // bytes a modifier put there before any accent
  int position = 0;          // characters with a code in line so far
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = uint16_t(chars[i]);
    if (c >= 0xD800 && c <= 0xDFFF) {
      error = "the character " + CharName(c) +
              " (beyond the Basic Multilingual Plane) has no known code in the General "
              "Legacy sort order";
      return false;
    }
    SortCode found;
    const SortCode& code = c < 256 ? latin1[c] : (found = FindLegacyCode(c));
    if (code.kind == kPlain) {
      if (code.size == 1)
        key.push_back(char(code.code[0]));
      else
        key.append(reinterpret_cast<const char*>(code.code), code.size);
      ++position;
      continue;
    }
    if (code.kind == kIgnored) continue;
    const int here = position;
    if (code.size > 0) {
      key.append(reinterpret_cast<const char*>(code.code), code.size);
      ++position;
    }
    const bool accent = (code.kind == kAccented || code.kind == kAccentedFlag) && code.extra_size;
    if (accent || code.kind == kHiddenMod) {
      any_accents = true;
      if (accent_chars < here) {
        accents.append(size_t(here - accent_chars), kNoAccent);
        accent_chars = here;
      }
      if (accent) {
        accents.append(reinterpret_cast<const char*>(code.extra), code.extra_size);
        ++accent_chars;
      } else if (!accents.empty()) {
        accents.back() = char(uint8_t(accents.back()) + code.extra[0]);
      } else {
        accents.push_back(char(code.extra[0]));
        accent_prefix = 1;
      }
    }
    if (code.kind == kHidden) {
      const int at =
          any_accents ? int(accents.size()) + (here - accent_chars) - accent_prefix : here;
      const int mark = (kHiddenBase + kHiddenStep * at) | kHiddenMark;
      hidden.push_back(char(mark >> 8));
      hidden.push_back(char(mark));
      hidden.push_back(kHiddenSeparator);
      hidden.append(reinterpret_cast<const char*>(code.extra), code.extra_size);
    }
    if (code.kind == kAccentedFlag) flags.push_back(char(code.flag));
  }
  key.push_back(kEndOfCodes);
  while (!accents.empty() && uint8_t(accents.back()) <= uint8_t(kNoAccent)) accents.pop_back();
  key += accents;
  if (!flags.empty() || !hidden.empty()) {
    key.push_back(kEndOfCodes);
    key.push_back(kEndOfCodes);
    if (!flags.empty()) {
      size_t n = flags.size();
      while (n > 0 && uint8_t(flags[n - 1]) == kTrailingFlag) --n;
      for (size_t i = 0; i < n; i += 3) {
        uint8_t b = kFlagsPrefix;
        for (size_t j = 0; j < 3 && i + j < n; ++j) b |= uint8_t(flags[i + j] << (4 - 2 * j));
        key.push_back(char(b));
      }
      key.append(kFlagsEnd, sizeof kFlagsEnd);
      if (!hidden.empty()) key.push_back(char(0xFF));
    }
    if (!hidden.empty()) {
      key.push_back(kEndOfCodes);
      key += hidden;
    }
  }
  key.push_back('\0');
  return true;
}

// General 97: each character's code in line; then, when an accented character occurs,
// a string of nibbles: 0, for each accent the count of vowels since the previous accent
// as nibbles of 2 and then the accent's nibble, and a closing 0; else a 00. A sharp s or
// a ligature counts as the vowels it is written as (ss, ae, oe).
template <typename Chars>
void IndexKeyEncoder::Impl::General97(const Chars& chars, size_t count, std::string& key) {
  accents.clear();
  int nibbles = 0;
  auto nibble = [&](uint8_t v) {
    if (nibbles++ % 2 == 0)
      accents.push_back(char(v << 4));
    else
      accents.back() = char(uint8_t(accents.back()) | (v & 0x0F));
  };
  int vowels = 0;
  for (size_t i = 0; i < count; ++i) {
    const SortCode& code = kGeneral97Codes[Cp1252Byte(uint16_t(chars[i]))];
    if (code.kind == kIgnored) continue;
    key.append(reinterpret_cast<const char*>(code.code), code.size);
    if (code.kind == kVowel) {
      vowels += code.size;  // one letter a code byte
    } else if (code.kind == kAccented) {
      if (nibbles == 0) nibble(0);
      for (; vowels > 0; --vowels) nibble(kNoAccent);
      nibble(code.extra[0] & 0x0F);
    }
  }
  if (nibbles > 0) {
    nibble(0);
    key += accents;
  } else {
    key.push_back('\0');
  }
}

}  // namespace trundle::jet

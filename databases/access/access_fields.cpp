#include "databases/access/access_fields.h"

#include <algorithm>

#include "databases/access/jet/jet_text.h"
#include "databases/core/data_types.h"
#include "engine/ascii.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

constexpr int kMaxTextChars = 255;
// Every 64-bit integer has at most 19 digits.
constexpr int kInt64Digits = 19;
// Integers of up to 15 digits are exact in a double (2^53 has 16).
constexpr int kExactDoubleDigits = 15;
// The widest Decimal field Access makes.
constexpr int kMaxDecimalDigits = 28;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `chars` characters of UTF-8 text (a byte that is no UTF-8 counts as one).
std::string FirstChars(const std::string& text, size_t chars) {
  size_t end = 0;
  for (size_t n = 0; end < text.size() && n < chars; ++n)
    for (++end; end < text.size() && IsContinuationByte(text[end]);) ++end;
  return text.substr(0, end);
}

bool IsForbidden(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']';
}

// The name with what Access refuses taken out; unchanged when it has nothing of that.
// jet3_names, when given, must hold every character.
std::string Cleaned(const std::string& name, size_t position, TextCodec* jet3_names) {
  std::string out, converted;
  for (size_t i = 0; i < name.size();) {
    size_t end = i + 1;
    while (end < name.size() && IsContinuationByte(name[end])) ++end;
    const std::string_view character(name.data() + i, end - i);
    i = end;
    if (out.empty() && character == " ") continue;
    converted.clear();
    if ((character.size() == 1 && IsForbidden(character[0])) ||
        (jet3_names && !jet3_names->Convert(character, converted)))
      out += '_';
    else
      out += character;
  }
  if (out.empty() && !name.empty()) return "Field" + std::to_string(position + 1);
  return FirstChars(out, kMaxAccessNameChars);
}

bool Taken(const std::vector<std::string>& taken, const std::string& name) {
  const std::string upper = UpperAscii(name);
  return std::any_of(taken.begin(), taken.end(),
                     [&upper](const std::string& t) { return UpperAscii(t) == upper; });
}

}  // namespace

TextLength AccessTextLength(std::shared_ptr<TextCodec> jet3_text) {
  if (jet3_text)
    return [codec = std::move(jet3_text), bytes = std::string()](std::string_view text) mutable {
      bytes.clear();
      codec->Convert(text, bytes);  // a character the code page lacks is stored as '?'
      return bytes.size();
    };
  return [units = std::u16string()](std::string_view text) mutable {
    // ASCII text is one unit a byte; the rest is converted as the row encoder converts it
    // (a byte that is no UTF-8 becomes one U+FFFD, a character past U+FFFF two units).
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; }))
      return text.size();
    jet::Utf8ToUtf16(text, units);
    return units.size();
  };
}

std::vector<std::string> AccessFieldNames(const std::vector<std::string>& names,
                                          TextCodec* jet3_names) {
  std::vector<std::string> stored(names.size());
  std::vector<std::string> taken;  // the names kept, then the changed ones as they come
  std::vector<size_t> changed;
  for (size_t i = 0; i < names.size(); ++i) {
    stored[i] = Cleaned(names[i], i, jet3_names);
    if (stored[i] == names[i])
      taken.push_back(names[i]);
    else
      changed.push_back(i);
  }
  for (size_t i : changed) {
    const std::string base = stored[i];
    for (int n = 1; Taken(taken, stored[i]); ++n) {
      std::string suffix(1, '_');  // not "_" + ...: GCC 12 warns wrongly about that
      suffix += std::to_string(n);
      stored[i] = FirstChars(base, kMaxAccessNameChars - suffix.size()) + suffix;
    }
    taken.push_back(stored[i]);
  }
  return stored;
}

NewAccessTable AccessFieldsFor(TDataKind source_kind, const TFieldDefs& source, bool jet3,
                               TextCodec* jet3_names) {
  const bool text_source = source_kind == dkCsv || source_kind == dkText;
  const TFieldDefs defs = NewTableFields(dkAccess, source_kind, source);
  std::vector<std::string> names;
  for (const TFieldDef& def : source) names.push_back(def.Name);
  const std::vector<std::string> stored = AccessFieldNames(names, jet3 ? jet3_names : nullptr);

  NewAccessTable table;
  for (size_t i = 0; i < defs.size() && i < source.size(); ++i) {
    const TFieldDef& from = source[i];
    TDAOField f;
    f.Name = stored[i];
    f.Type = text_source ? dbText : defs[i].NativeType;
    f.Size = text_source ? kMaxTextChars : source_kind == dkOracle ? 0 : from.Size;
    f.Required = source_kind == dkAccess && from.Required;
    // A text source's width is its longest value in Access's own unit; other sources
    // state theirs.
    if (f.Type == dbText && from.Size > kMaxTextChars) {
      f.Type = dbMemo;
      f.Size = 0;
    }
    // An empty text is a value, not a missing one: a memo takes it as a text field does.
    f.AllowZeroLength = f.Type == dbText || f.Type == dbMemo;
    switch (from.DataType) {
      case ftInteger:
      case ftWord:  // 0 to 65535 does not fit a 16-bit Integer
        if (f.Type == dbInteger || f.Type == dbByte) f.Type = dbLong;
        break;
      // An AutoNumber keeps the source's numbers (the writer keeps a number a row gives)
      // and numbers rows that come without one past the highest.
      case ftAutoInc:
        if (f.Type == dbInteger || f.Type == dbByte) f.Type = dbLong;
        f.AutoIncrement = f.Type == dbLong;
        break;
      case ftLargeint:
        if (f.Type != dbByte && f.Type != dbInteger && f.Type != dbLong && f.Type != dbBigInt)
          break;
        // A width the source states (a dBase number's) may leave every value exact in a
        // Double, the type the other number fields get.
        if (from.Size > 0 && from.Size <= kExactDoubleDigits) {
          f.Type = dbDouble;
          f.Size = 0;
        } else {
          f.Type = jet3 ? dbText : dbDecimal;
          f.Size = jet3 ? kInt64Digits + 1 : 0;  // the sign and 19 digits
          f.Precision = kInt64Digits;
          f.Scale = 0;
        }
        break;
      // A decimal of a stated precision keeps every digit in Access 2000's Decimal; a
      // Double would round it. Jet 3 has no decimal type.
      case ftBCD:
        if (!jet3 && from.Size > 0 && from.Size <= kMaxDecimalDigits &&
            from.Decimals <= from.Size) {
          f.Type = dbDecimal;
          f.Size = 0;
          f.Precision = from.Size;
          f.Scale = from.Decimals;
        }
        break;
      default:
        break;
    }
    table.fields.push_back(std::move(f));
    if (stored[i] != names[i])
      table.renames.push_back("Field " + ShownInLog(names[i]) + " stored as " + stored[i]);
  }
  return table;
}

}  // namespace trundle

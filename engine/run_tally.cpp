#include "engine/run_tally.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "engine/errors.h"

namespace trundle {
namespace {

// FNV-1a over the bytes after a tag that keeps the forms apart, then a finishing mix so
// that the sums of many hashes stay spread over all 64 bits.
uint64_t Hash(uint8_t tag, std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  const auto step = [&h](unsigned char c) {
    h ^= c;
    h *= 1099511628211ull;
  };
  step(tag);
  for (char c : bytes) step(static_cast<unsigned char>(c));
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

enum Tag : uint8_t { kTagNothing, kTagText, kTagInteger, kTagReal, kTagMoment, kTagBoolean,
                     kTagBytes, kTagUnreadable };

uint64_t HashNumber(uint8_t tag, int64_t value) {
  char bytes[8];
  std::memcpy(bytes, &value, sizeof bytes);
  return Hash(tag, std::string_view(bytes, sizeof bytes));
}

uint64_t HashReal(double value) {
  if (value == 0) value = 0;  // -0 is 0
  int64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return HashNumber(kTagReal, bits);
}

std::string_view Trimmed(std::string_view text) {
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  return text.substr(b, text.find_last_not_of(' ') + 1 - b);
}

bool IsBlank(const Variant& value) {
  return value.IsEmpty() || (value.IsText() && Trimmed(value.text()).empty());
}

// The number a text gives, without the exceptions of Variant's conversions: a column of
// names hashed as numbers would otherwise throw once a value.
bool ParseInteger(std::string_view text, int64_t& out) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

bool ParseReal(std::string_view text, double& out) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

bool AsReal(const Variant& value, double& out) {
  switch (value.type()) {
    case VarType::kInteger: out = static_cast<double>(value.integer()); return true;
    case VarType::kCurrency: out = static_cast<double>(value.integer()) / 10000.0; return true;
    case VarType::kFloat:
    case VarType::kDateTime: out = value.real(); return true;
    case VarType::kBoolean: out = value.boolean() ? 1 : 0; return true;
    case VarType::kString: return ParseReal(value.text(), out);
    default: return false;
  }
}

uint64_t HashInteger(const Variant& value) {
  int64_t whole = 0;
  if (value.type() == VarType::kInteger) return HashNumber(kTagInteger, value.integer());
  if (value.type() == VarType::kBoolean) return HashNumber(kTagInteger, value.boolean() ? 1 : 0);
  if (value.IsText() && ParseInteger(value.text(), whole)) return HashNumber(kTagInteger, whole);
  double real = 0;
  if (AsReal(value, real)) {
    // A whole number however it came; a fraction stays one (the field may have rounded
    // it, which is then a difference).
    if (std::nearbyint(real) == real && std::fabs(real) < 9.2e18)
      return HashNumber(kTagInteger, static_cast<int64_t>(real));
    return HashReal(real);
  }
  return Hash(kTagUnreadable, value.ToText());
}

uint64_t HashMoment(const Variant& value) {
  double days = 0;
  if (value.type() == VarType::kDateTime || value.type() == VarType::kFloat) {
    days = value.real();
  } else {
    try {
      days = value.ToDateTime();
    } catch (const TrundleError&) {
      return Hash(kTagUnreadable, value.ToText());
    }
  }
  return HashNumber(kTagMoment, std::llround(days * 86400000.0));
}

uint64_t HashBoolean(const Variant& value) {
  try {
    return HashNumber(kTagBoolean, value.ToBoolean() ? 1 : 0);
  } catch (const TrundleError&) {
    return Hash(kTagUnreadable, value.ToText());
  }
}

}  // namespace

ValueClass ClassOfFieldType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return ValueClass::kInteger;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return ValueClass::kReal;
    case ftDate:
    case ftTime:
    case ftDateTime:
      return ValueClass::kDateTime;
    case ftBoolean:
      return ValueClass::kBoolean;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftOraBlob:
    case ftParadoxOle:
    case ftDBaseOle:
      return ValueClass::kBytes;
    default:
      return ValueClass::kText;
  }
}

uint64_t HashValue(const Variant& value, ValueClass value_class, const TextForm& text_form) {
  static const uint64_t kNothing = Hash(kTagNothing, {});
  if (value.IsEmpty() || (value.IsText() && value.text().empty())) return kNothing;
  switch (value_class) {
    case ValueClass::kText: {
      if (value.IsText() || value.type() == VarType::kBlob) return Hash(kTagText, value.text());
      std::string text;
      if (text_form)
        text_form(value, text);
      else
        value.AppendText(text);
      return text.empty() ? kNothing : Hash(kTagText, text);
    }
    case ValueClass::kBytes:
      if (value.IsText() || value.type() == VarType::kBlob) return Hash(kTagBytes, value.text());
      return Hash(kTagBytes, value.ToText());
    default:
      break;
  }
  if (IsBlank(value)) return kNothing;
  switch (value_class) {
    case ValueClass::kInteger:
      return HashInteger(value);
    case ValueClass::kReal: {
      double real = 0;
      // A whole number no double holds exactly is not what a REAL field gives back.
      if (value.type() == VarType::kInteger &&
          static_cast<double>(value.integer()) >= 9.2e18)
        return HashNumber(kTagInteger, value.integer());
      if (value.type() == VarType::kInteger &&
          static_cast<int64_t>(static_cast<double>(value.integer())) != value.integer())
        return HashNumber(kTagInteger, value.integer());
      return AsReal(value, real) ? HashReal(real) : Hash(kTagUnreadable, value.ToText());
    }
    case ValueClass::kDateTime:
      return HashMoment(value);
    default:
      return HashBoolean(value);
  }
}

void RunTally::Start(bool hash, std::vector<ValueClass> classes, TextForm text_form) {
  hash_ = hash;
  classes_ = std::move(classes);
  text_form_ = std::move(text_form);
  committed_.clear();
  open_.clear();
  committed_records_ = open_records_ = 0;
}

void RunTally::Add(const TRecordBuffer& names, const TRecordBuffer& values, int filled) {
  size_t count = filled >= 0 ? std::min(names.size(), static_cast<size_t>(filled)) : names.size();
  while (count > 0 && names[count - 1].IsUnassigned()) --count;
  if (open_.size() < count) {
    open_.resize(count);
    for (size_t i = 0; i < count; ++i)
      if (open_[i].name.empty()) open_[i].name = names[i].ToText();
  }
  static const Variant kNoValue;
  for (size_t i = 0; i < count; ++i) {
    const Variant& value = i < values.size() ? values[i] : kNoValue;
    if (value.IsEmpty()) ++open_[i].nulls;
    if (hash_)
      open_[i].sum += HashValue(value, i < classes_.size() ? classes_[i] : ValueClass::kText,
                                text_form_);
  }
  ++open_records_;
}

void RunTally::Commit() {
  if (committed_.size() < open_.size()) committed_.resize(open_.size());
  for (size_t i = 0; i < open_.size(); ++i) {
    if (committed_[i].name.empty()) committed_[i].name = open_[i].name;
    committed_[i].nulls += open_[i].nulls;
    committed_[i].sum += open_[i].sum;
    open_[i].nulls = 0;
    open_[i].sum = 0;
  }
  committed_records_ += open_records_;
  open_records_ = 0;
}

void RunTally::Undo() {
  for (Field& field : open_) field.nulls = 0, field.sum = 0;
  open_records_ = 0;
}

}  // namespace trundle

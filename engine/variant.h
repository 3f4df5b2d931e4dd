// The value that travels between adaptors: empty (Unassigned), Null, or a string, an
// integer, a floating-point number, a currency amount, a date-time or a Boolean. Binary
// values (blob fields) travel as a string of bytes tagged kBlob, so none is lost.
//
// A Variant keeps its string buffer when it is cleared or given a value of another kind,
// so the job's record buffers stop allocating once they have seen the widest record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trundle {

enum class VarType : uint8_t {
  kUnassigned,
  kNull,
  kString,
  kInteger,
  kFloat,
  kCurrency,  // fixed point: integer count of 1/10000 units
  kDateTime,  // days since 30 December 1899 (datetime.h)
  kBoolean,
  kBlob,
};

class Variant {
 public:
  Variant() = default;

  static Variant Null();
  static Variant String(std::string_view text);
  static Variant Integer(int64_t value);
  static Variant Float(double value);
  static Variant Currency(int64_t ten_thousandths);
  // Throws TrundleError when the amount is beyond about ±9.2e14.
  static Variant CurrencyFromDouble(double amount);
  static Variant DateTime(double days);
  static Variant Boolean(bool value);
  static Variant Blob(std::string_view bytes);

  VarType type() const { return type_; }
  bool IsUnassigned() const { return type_ == VarType::kUnassigned; }
  bool IsNull() const { return type_ == VarType::kNull; }
  // Unassigned or Null: no value at all.
  bool IsEmpty() const { return type_ == VarType::kUnassigned || type_ == VarType::kNull; }
  bool IsText() const { return type_ == VarType::kString; }

  void Clear() { type_ = VarType::kUnassigned; }
  void SetNull() { type_ = VarType::kNull; }
  void SetString(std::string_view text);
  void SetInteger(int64_t value);
  void SetFloat(double value);
  void SetCurrency(int64_t ten_thousandths);
  void SetDateTime(double days);
  void SetBoolean(bool value);
  void SetBlob(std::string_view bytes);

  // REQUIRES: the value is of the named kind.
  const std::string& text() const { return text_; }  // kString and kBlob
  int64_t integer() const { return number_.i; }      // kInteger, kCurrency
  double real() const { return number_.d; }          // kFloat, kDateTime
  bool boolean() const { return number_.b; }         // kBoolean

  // Conversions used where a field of one type receives a value of another. They throw
  // TrundleError when the value has no sensible reading as the asked kind ("abc" as a
  // number) or when it does not fit the asked kind (an integer beyond about ±9.2e14 as
  // currency); an empty value gives 0, false or the empty text.
  int64_t ToInteger() const;
  double ToDouble() const;
  int64_t ToCurrency() const;  // in 1/10000 units
  double ToDateTime() const;
  bool ToBoolean() const;

  // The value's ordinary text: integers in decimal, floats in their shortest exact form
  // with '.', currency with up to four decimals, date-times as IsoText, Booleans as
  // True/False, blobs as their bytes. Unassigned and Null give "".
  std::string ToText() const;
  void AppendText(std::string& out) const;

  // Same kind and same value (two Nulls are equal; Unassigned equals only Unassigned).
  bool operator==(const Variant& other) const;

 private:
  VarType type_ = VarType::kUnassigned;
  union {
    int64_t i;
    double d;
    bool b;
  } number_{0};
  std::string text_;
};

const char* VarTypeName(VarType type);

}  // namespace trundle

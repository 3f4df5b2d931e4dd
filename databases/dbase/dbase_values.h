// Conversion of single field values between their bytes in a dBase record and Variants.
// Text fields are handled by the reader and writer, which own the code-page conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/variant.h"

namespace trundle::dbase {

// N and F fields: blank gives Null. as_integer asks for a Variant Integer (falls back to
// Float when the text does not fit an int64 or has a fraction). Returns false when the
// bytes are not a number; all-'*' (dBase's overflow mark) reads as Null.
bool ParseNumber(std::string_view bytes, bool as_integer, Variant& out);
// D fields, "yyyymmdd": blank or all zeros give Null. False for anything else that is
// not a real date.
bool ParseDate(std::string_view bytes, Variant& out);
// L fields: T/t/Y/y true, F/f/N/n false, '?', blank or NUL give Null. False otherwise.
bool ParseLogical(char byte, Variant& out);
// Visual FoxPro T fields: Julian day and milliseconds (int32 each); both zero give Null.
// False when the day or time is outside what DateTime holds.
bool ParseVfpDateTime(const char* bytes, Variant& out);
// Memo pointers: 10 ASCII digits (blank or 0 give 0) or a little-endian uint32. False when
// the bytes are neither.
bool ParseMemoPointer(std::string_view bytes, uint64_t& block);

int32_t LoadInt32(const char* p);
int64_t LoadInt64(const char* p);
double LoadDouble(const char* p);
void StoreInt32(char* p, int32_t v);
void StoreInt64(char* p, int64_t v);
void StoreDouble(char* p, double v);

// Writes value right-aligned into field[0, width) as N(width, decimals). False (field left
// untouched) when it needs more than width characters or is not finite.
bool FormatFixed(const Variant& value, int width, int decimals, char* field);
// Writes value right-aligned in its shortest exact form; when that is too wide, in
// scientific form with fewer digits and rounded is set. False when nothing fits.
bool FormatShortest(double value, int width, char* field, bool& rounded);
// "yyyymmdd"; false for dates outside years 1 .. 9999.
bool FormatDate(double days, char* field);
// Visual FoxPro T bytes.
bool FormatVfpDateTime(double days, char* field);

}  // namespace trundle::dbase

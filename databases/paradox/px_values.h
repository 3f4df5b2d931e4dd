// Turning Variants into the bytes of a Paradox record, with the count of every value that
// could not be stored as given. Shared by the writer of new and of existing tables.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "databases/paradox/px_blob.h"
#include "databases/paradox/px_format.h"
#include "databases/paradox/px_text.h"
#include "engine/variant.h"

namespace trundle::paradox {

// Why a value was not stored as given.
enum Loss : uint8_t {
  kLossTooLong,   // text or bytes cut to the field's width
  kLossCodePage,  // characters the code page cannot hold became '?'
  kLossReserved,  // the smallest integer, which the format keeps for an empty field
  kLossRange,     // outside what the field holds; left empty
  kLossInexact,   // integer beyond 2^53 stored as the nearest double
  kLossTime,      // a date field dropped the time of day
  kLossDate,      // a time field dropped the date
  kLossDecimals,  // a # field rounded to its decimals
  kLossCount,
};

class RecordEncoder {
 public:
  // fields: the table's fields, names: their names in UTF-8 for messages. fields, encoder
  // and mb are borrowed and must outlive this (mb may be null when no field is a memo or
  // blob).
  RecordEncoder(const std::vector<PxField>& fields, std::vector<std::string> names,
                PxTextEncoder* encoder, MbWriter* mb);

  // Writes value into its field at p (the record starts zeroed, an empty field). Throws
  // TrundleError naming the field and value when the value cannot be converted at all.
  // Raises auto_inc to an autoincrement value above it.
  void Encode(size_t field, const Variant& value, char* p, uint32_t& auto_inc);
  // One line per field that lost values, with the counts and causes; resets the counts.
  std::vector<std::string> TakeNotes();

  // A value that would be cut to fit its field or left empty (too long, out of range,
  // the reserved smallest integer) throws TrundleError from Encode instead of being
  // stored less than whole (TableWriteOptions::refuse_lossy).
  bool refuse_lossy = false;

 private:
  void EncodeField(size_t i, const Variant& v, char* p, uint32_t& auto_inc);
  int64_t Lost(size_t i) const;
  void PutText(size_t i, const Variant& v, char* p);
  void PutInteger(size_t i, const Variant& v, char* p, uint32_t& auto_inc);
  void PutNumber(size_t i, const Variant& v, char* p);
  void PutDate(size_t i, const Variant& v, char* p);
  void PutBcdValue(size_t i, const Variant& v, char* p);
  void PutBytes(size_t i, const Variant& v, char* p);
  void PutBlob(size_t i, const Variant& v, char* p);
  std::string_view BytesOf(const Variant& v);
  std::string LossText(size_t i, Loss loss, int64_t n) const;
  // Counts a loss of field i, or under refuse_lossy throws TrundleError saying `why`.
  void Lose(size_t i, Loss loss, const std::string& why);

  const std::vector<PxField>& fields_;
  std::vector<std::string> names_;
  PxTextEncoder* encoder_;
  MbWriter* mb_;
  std::vector<std::array<int64_t, kLossCount>> losses_;
  std::string text_;
  std::string encoded_;
  double first_moment_ = 0;  // 1 January 0001 as a date-time
  double last_moment_ = 0;   // 31 December 9999, 23:59:59.999
};

}  // namespace trundle::paradox

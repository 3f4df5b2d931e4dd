// What a run wrote, field by field, counted so that it can be reported and checked
// against what the destination reads back: per source field the values written as Null
// and, when asked, an order-independent hash of the values as the destination field
// holds them (each value's hash summed modulo 2^64, so that sums of two sets of records
// subtract). The counts follow the destination's batches: a batch counts once it is
// committed, and one undone is taken out again.
//
//   RunTally tally;
//   tally.Start({ValueClass::kInteger, ValueClass::kText}, {});
//   tally.Add(names, values, -1);  // each record written
//   tally.Commit();                // each batch committed
//   tally.fields()[1].sum;         // the hashes of field 1's values, summed
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/trundle_unknown.h"

namespace trundle {

// The form in which a destination field holds its values. Values are hashed in the
// form of their field, so that the text "3.50" written into a REAL field and the 3.5
// read back from it hash alike.
enum class ValueClass : uint8_t {
  kText,      // the value's text (a text file's fields, character fields)
  kInteger,   // a whole number
  kReal,      // a floating-point number (currency and decimal fields too)
  kDateTime,  // a moment, to the millisecond
  kBoolean,   // yes or no
  kBytes,     // binary: the bytes as they are
};

// The class a field of the type holds its values in.
ValueClass ClassOfFieldType(TFieldType type);

// How a text field renders a value that is not text (a text file formats a date by the
// locale's short date). Empty: Variant::AppendText.
using TextForm = std::function<void(const Variant& value, std::string& out)>;

// The hash of one value in the form a field of `value_class` holds it. No value at
// all, Null, and empty text hash alike (a text file holds no difference between them),
// as does blank text in a field that is not text.
uint64_t HashValue(const Variant& value, ValueClass value_class, const TextForm& text_form);

class RunTally {
 public:
  struct Field {
    std::string name;   // the source's name for it
    int64_t nulls = 0;  // values written as Null or no value at all
    uint64_t sum = 0;   // the hashes, summed modulo 2^64 (only when hashing)
  };

  // Starts counting anew. With `hash`, values are hashed too, source field i in
  // classes[i] (text past the end of classes).
  void Start(bool hash, std::vector<ValueClass> classes, TextForm text_form);
  // One record written into the open batch.
  void Add(const TRecordBuffer& names, const TRecordBuffer& values, int filled);
  // The open batch is kept, or undone.
  void Commit();
  void Undo();

  bool hashing() const { return hash_; }
  // The committed counts, one per source field in source order.
  const std::vector<Field>& fields() const { return committed_; }
  int64_t records() const { return committed_records_; }
  // Records of the open batch.
  int64_t open_records() const { return open_records_; }

 private:
  bool hash_ = false;
  std::vector<ValueClass> classes_;
  TextForm text_form_;
  std::vector<Field> committed_;
  std::vector<Field> open_;
  int64_t committed_records_ = 0;
  int64_t open_records_ = 0;
};

}  // namespace trundle

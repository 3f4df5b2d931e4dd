#include "engine/run_tally.h"

#include <gtest/gtest.h>

#include "engine/datetime.h"

namespace trundle {
namespace {

// A value hashes alike however it travels, as long as the destination field would hold
// the same thing: the text a CSV file gives and the number a REAL field reads back.
TEST(RunTallyTest, ValuesHashInTheFormTheirFieldHolds) {
  const TextForm plain;
  const struct {
    Variant written;
    Variant read_back;
    ValueClass field;
    bool same;
  } cases[] = {
      {Variant::String("3.50"), Variant::Float(3.5), ValueClass::kReal, true},
      {Variant::String(" 3.5 "), Variant::Float(3.5), ValueClass::kReal, true},
      {Variant::String("3.50"), Variant::String("3.5"), ValueClass::kText, false},
      {Variant::String("0042"), Variant::Integer(42), ValueClass::kInteger, true},
      {Variant::Float(42.0), Variant::Integer(42), ValueClass::kInteger, true},
      {Variant::Float(42.5), Variant::Integer(43), ValueClass::kInteger, false},
      {Variant::Integer(7), Variant::String("7"), ValueClass::kText, true},
      {Variant::String("2024-02-29 13:45:00"),
       Variant::DateTime(EncodeDateTime(DateParts{2024, 2, 29, 13, 45, 0, 0})),
       ValueClass::kDateTime, true},
      {Variant::DateTime(EncodeDateTime(DateParts{2024, 2, 29, 13, 45, 0, 0})),
       Variant::DateTime(EncodeDateTime(DateParts{2024, 2, 29, 0, 0, 0, 0})),
       ValueClass::kDateTime, false},
      {Variant::Boolean(true), Variant::Integer(1), ValueClass::kInteger, true},
      {Variant::String(""), Variant::Null(), ValueClass::kText, true},
      {Variant::String("  "), Variant::Null(), ValueClass::kReal, true},
      {Variant::String("  "), Variant::Null(), ValueClass::kText, false},
      {Variant::Integer(0), Variant::Null(), ValueClass::kInteger, false},
      {Variant::String("abc"), Variant::String("abd"), ValueClass::kReal, false},
      // 2^53 + 1 stored in a floating-point field comes back as 2^53.
      {Variant::Integer(9007199254740993), Variant::Float(9007199254740992.0), ValueClass::kReal,
       false},
      {Variant::Integer(9007199254740992), Variant::Float(9007199254740992.0), ValueClass::kReal,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written.ToText() + " / " + c.read_back.ToText());
    EXPECT_EQ(HashValue(c.written, c.field, plain) == HashValue(c.read_back, c.field, plain),
              c.same);
  }
}

// Batches count once committed; an undone one leaves the counts as they were.
TEST(RunTallyTest, CountsFollowTheBatches) {
  RunTally tally;
  tally.Start(true, {ValueClass::kText, ValueClass::kInteger}, {});
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  names[0] = Variant::String("NAME");
  names[1] = Variant::String("N");
  const auto add = [&](const char* name, int n) {
    values[0] = name ? Variant::String(name) : Variant::Null();
    values[1] = Variant::Integer(n);
    tally.Add(names, values, 2);
  };
  add("ann", 1);
  add(nullptr, 2);
  tally.Commit();
  const RunTally::Field first = tally.fields()[0];
  add("bob", 3);
  tally.Undo();
  tally.Commit();
  ASSERT_EQ(tally.fields().size(), 2u);
  EXPECT_EQ(tally.records(), 2);
  EXPECT_EQ(tally.fields()[0].name, "NAME");
  EXPECT_EQ(tally.fields()[0].nulls, 1);
  EXPECT_EQ(tally.fields()[0].sum, first.sum);
  // The same records in another order sum alike.
  RunTally other;
  other.Start(true, {ValueClass::kText, ValueClass::kInteger}, {});
  const auto add_other = [&](const char* name, int n) {
    values[0] = name ? Variant::String(name) : Variant::Null();
    values[1] = Variant::Integer(n);
    other.Add(names, values, -1);
  };
  add_other(nullptr, 2);
  add_other("ann", 1);
  other.Commit();
  EXPECT_EQ(other.fields()[0].sum, tally.fields()[0].sum);
  EXPECT_EQ(other.fields()[1].sum, tally.fields()[1].sum);
}

}  // namespace
}  // namespace trundle

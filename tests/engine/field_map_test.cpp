// The field map: records renamed and cut down as the destination gets them, the map worked
// out again when a source's names change, and keys over a field left out dropped.
#include "engine/field_map.h"

#include <gtest/gtest.h>

namespace trundle {
namespace {

TRecordBuffer Buffer(const std::vector<std::string>& texts) {
  TRecordBuffer buffer(8);
  for (size_t i = 0; i < texts.size(); ++i) buffer[i] = Variant::String(texts[i]);
  return buffer;
}

std::vector<std::string> Texts(const TRecordBuffer& buffer, int count) {
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.push_back(buffer[static_cast<size_t>(i)].ToText());
  return texts;
}

TEST(FieldMapTest, RecordsAreRenamedAndCutDownAsTheirNamesChange) {
  FieldRenamer renamer({{"name", "Full"}, {"secret", ""}});
  TRecordBuffer names(8), values(8);
  int filled = renamer.Apply(Buffer({"ID", "NAME", "SECRET"}), Buffer({"1", "Ann", "x"}), names,
                             values);
  ASSERT_EQ(filled, 2);
  EXPECT_EQ(Texts(names, 2), (std::vector<std::string>{"ID", "Full"}));
  EXPECT_EQ(Texts(values, 2), (std::vector<std::string>{"1", "Ann"}));
  // A record whose names differ (ragged text) is mapped again; what the last one left
  // past its fields is cleared.
  filled = renamer.Apply(Buffer({"SECRET", "NAME"}), Buffer({"y", "Bob"}), names, values);
  ASSERT_EQ(filled, 1);
  EXPECT_EQ(Texts(names, 1), (std::vector<std::string>{"Full"}));
  EXPECT_EQ(values[0].ToText(), "Bob");
  EXPECT_TRUE(names[1].IsEmpty());
  EXPECT_TRUE(values[1].IsEmpty());
  // A record without a mapped field is an error naming it and the fields there are.
  try {
    renamer.Apply(Buffer({"ID", "NAME"}), Buffer({"3", "Cy"}), names, values);
    ADD_FAILURE() << "no error";
  } catch (const FieldMapError& e) {
    EXPECT_STREQ(e.what(),
                 "The field map names the field secret, which the source does not have; its "
                 "fields are: ID, NAME");
    EXPECT_EQ(renamer.error(), e.what());
  }
}

TEST(FieldMapTest, FieldsAndKeysOfACreatedTable) {
  FieldRenamer renamer({{"code", "Ref"}, {"note", ""}});
  TFieldDefs fields(3);
  fields[0].Name = "Code";
  fields[0].Size = 7;
  fields[1].Name = "Note";
  fields[2].Name = "Qty";
  const TFieldDefs mapped = renamer.MapFields(fields);
  ASSERT_EQ(mapped.size(), 2u);
  EXPECT_EQ(mapped[0].Name, "Ref");
  EXPECT_EQ(mapped[0].Size, 7);  // the field keeps its type and width
  EXPECT_EQ(mapped[1].Name, "Qty");
  TIndexDefs keys(2);
  keys[0].Fields = {"Code", "Qty"};
  keys[1].Fields = {"Note"};
  const TIndexDefs kept = renamer.MapIndexes(keys);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Fields, (std::vector<std::string>{"Ref", "Qty"}));
}

}  // namespace
}  // namespace trundle

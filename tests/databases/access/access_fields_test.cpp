// The fields of a new Access table: names Access cannot store, the types that hold the
// source's values, and the Jet columns DAO's types become.
#include "databases/access/access_fields.h"

#include <gtest/gtest.h>

#include "databases/access/jet/jet_table_creator.h"
#include "engine/ascii.h"
#include "engine/codepage.h"
#include "engine/errors.h"

namespace trundle {
namespace {

size_t Chars(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// What Access refuses in a name.
bool Storable(const std::string& name) {
  if (name.empty() || name[0] == ' ' || Chars(name) > kMaxAccessNameChars) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string(".!`[]").find(c) != std::string::npos) return false;
  }
  return true;
}

TEST(AccessFieldNamesTest, NamesAccessRefusesAreChangedUniqueAndTheRestKept) {
  const std::string long_name(70, 'x');
  std::string long_accents;
  for (int i = 0; i < 70; ++i) long_accents += "\xC3\xA9";  // é
  const std::vector<std::string> names = {"Price.Net", "Price_Net", "a!b`c[d]e",  "  Lead",
                                          long_name,   long_name,   "Tab\there",  "Ok",
                                          "ok",        "Ünïcode",   long_accents, "Line\r\nbreak"};
  const std::vector<std::string> stored = AccessFieldNames(names);
  ASSERT_EQ(stored.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (Storable(names[i])) {
      EXPECT_EQ(stored[i], names[i]) << i;
      continue;
    }
    EXPECT_TRUE(Storable(stored[i])) << i << ": " << stored[i];
    EXPECT_TRUE(IsValidUtf8(stored[i])) << i;
    // A changed name meets no other name, kept or changed, in any letter case.
    for (size_t j = 0; j < names.size(); ++j)
      if (j != i) {
        EXPECT_FALSE(EqualsIgnoringAsciiCase(stored[i], stored[j])) << i << " " << j;
      }
  }
  // "Price_Net" was the source's own: the changed "Price.Net" gives way.
  EXPECT_EQ(stored[0], "Price_Net_1");
  EXPECT_EQ(stored[2], "a_b_c_d_e");
  EXPECT_EQ(stored[3], "Lead");
  EXPECT_EQ(stored[4], std::string(64, 'x'));
  EXPECT_EQ(stored[5], std::string(62, 'x') + "_1");
  EXPECT_EQ(stored[6], "Tab_here");
  // Names the source repeats are its own fault: kept, for creation to refuse.
  EXPECT_EQ(stored[8], "ok");
  EXPECT_EQ(Chars(stored[10]), 64u);
  EXPECT_EQ(stored[11], "Line__break");
}

TEST(AccessFieldNamesTest, EmptyAndBlankNames) {
  // An empty name is kept (creation refuses it); one of spaces only has nothing left.
  EXPECT_EQ(AccessFieldNames({"A", "", "   "}), (std::vector<std::string>{"A", "", "Field3"}));
}

TEST(AccessFieldNamesTest, Jet3NamesHoldOnlyTheirCodePage) {
  // Windows-1252 has é and the euro sign, not Cyrillic.
  const auto cp1252 = TextCodec::FromUtf8To("CP1252");
  const std::vector<std::string> names = {"Caf\xC3\xA9 \xE2\x82\xAC", "\xD0\x98\xD0\xBC\xD1\x8F",
                                          "__"};
  EXPECT_EQ(AccessFieldNames(names, cp1252.get()),
            (std::vector<std::string>{names[0], "___", "__"}));
  // Jet 4 holds every character.
  EXPECT_EQ(AccessFieldNames(names), names);
}

TFieldDef Def(const std::string& name, TFieldType type, int size = 0, int native = 0,
              bool required = false) {
  TFieldDef d;
  d.Name = name;
  d.DataType = type;
  d.Size = size;
  d.NativeType = native;
  d.Required = required;
  return d;
}

TEST(AccessFieldsForTest, TextSourcesAreTextUnlessAValueIsLonger) {
  // Sizes are the longest values the source measured.
  const NewAccessTable t = AccessFieldsFor(dkCsv,
                                           {Def("SHORT", ftString, 3), Def("EXACT", ftString, 255),
                                            Def("LONG", ftString, 300), Def("A.B", ftString, 1)},
                                           false);
  ASSERT_EQ(t.fields.size(), 4u);
  for (int i : {0, 1, 3}) {
    EXPECT_EQ(t.fields[i].Type, dbText) << i;
    EXPECT_EQ(t.fields[i].Size, 255) << i;
    EXPECT_TRUE(t.fields[i].AllowZeroLength) << i;
    EXPECT_FALSE(t.fields[i].Required) << i;
  }
  EXPECT_EQ(t.fields[2].Type, dbMemo);
  EXPECT_TRUE(t.fields[2].AllowZeroLength);
  EXPECT_EQ(t.fields[3].Name, "A_B");
  EXPECT_EQ(t.renames, (std::vector<std::string>{"Field A.B stored as A_B"}));
}

TEST(AccessFieldsForTest, DatabaseSourcesKeepTypesSizesAndRequiredWhereTheyFit) {
  const TFieldDefs access = {Def("Id", ftAutoInc, 0, 0, true),
                             Def("Name", ftString, 40, 0, true),
                             Def("Notes", ftMemo),
                             Def("Small", ftSmallint),
                             Def("Flag", ftBoolean),
                             Def("When", ftDateTime),
                             Def("Money", ftCurrency),
                             Def("Pic", ftBlob)};
  const NewAccessTable a = AccessFieldsFor(dkAccess, access, false);
  ASSERT_EQ(a.fields.size(), access.size());
  const int32_t types[] = {dbLong,    dbText, dbMemo,     dbInteger,
                           dbBoolean, dbDate, dbCurrency, dbLongBinary};
  for (size_t i = 0; i < access.size(); ++i) {
    EXPECT_EQ(a.fields[i].Type, types[i]) << i;
    EXPECT_EQ(a.fields[i].Name, access[i].Name);
    EXPECT_EQ(a.fields[i].Required, access[i].Required) << i;
    EXPECT_EQ(a.fields[i].AllowZeroLength, types[i] == dbText || types[i] == dbMemo) << i;
  }
  EXPECT_EQ(a.fields[1].Size, 40);
  EXPECT_TRUE(a.renames.empty());

  // Required comes from an Access source only; a 16-bit Word does not fit an Integer.
  const NewAccessTable d = AccessFieldsFor(
      dkParadox, {Def("N", ftString, 20, 0, true), Def("W", ftWord), Def("S", ftSmallint)}, true);
  EXPECT_FALSE(d.fields[0].Required);
  EXPECT_EQ(d.fields[0].Size, 20);
  EXPECT_EQ(d.fields[1].Type, dbLong);
  EXPECT_EQ(d.fields[2].Type, dbInteger);
}

TEST(AccessFieldsForTest, ServerIntegersAndLongTextKeepEveryValue) {
  // Oracle type code 3 is any integer; the field type tells its width.
  const TFieldDefs server = {Def("i16", ftSmallint, 0, 3),   Def("i32", ftInteger, 0, 3),
                             Def("i64", ftLargeint, 0, 3),   Def("s", ftString, 30, 5),
                             Def("wide", ftString, 4000, 5), Def("d", ftFloat, 0, 4)};
  for (bool jet3 : {false, true}) {
    const NewAccessTable t = AccessFieldsFor(dkOracle, server, jet3);
    ASSERT_EQ(t.fields.size(), server.size());
    EXPECT_EQ(t.fields[0].Type, dbInteger);
    EXPECT_EQ(t.fields[1].Type, dbLong);
    EXPECT_EQ(t.fields[3].Type, dbText);
    EXPECT_EQ(t.fields[3].Size, 0);  // the default, 255
    EXPECT_EQ(t.fields[4].Type, dbMemo);
    EXPECT_EQ(t.fields[5].Type, dbDouble);
    // Every 64-bit integer has 19 digits at most; Jet 3 has no decimal type.
    const jet::NewColumn c = JetColumnForDaoField(t.fields[2], jet3);
    if (jet3) {
      EXPECT_EQ(c.type, jet::kText);
      EXPECT_GE(c.size, 20);
    } else {
      EXPECT_EQ(c.type, jet::kNumeric);
      EXPECT_EQ(c.precision, 19);
      EXPECT_EQ(c.scale, 0);
    }
  }
  // A 64-bit integer of a table file: FieldTypeToDaoType's dbBigInt, which Jet 3 and 4
  // lack; a stated width of 15 digits or fewer leaves every value exact in a Double.
  for (bool jet3 : {false, true}) {
    const NewAccessTable t = AccessFieldsFor(
        dkDBase, {Def("big", ftLargeint), Def("n15", ftLargeint, 15), Def("n16", ftLargeint, 16)},
        jet3);
    EXPECT_EQ(t.fields[0].Type, jet3 ? dbText : dbDecimal);
    EXPECT_EQ(t.fields[1].Type, dbDouble);
    EXPECT_EQ(t.fields[2].Type, jet3 ? dbText : dbDecimal);
  }
}

TEST(JetColumnForDaoFieldTest, EveryDaoTypeBecomesItsJetColumn) {
  struct Case {
    int32_t dao;
    uint8_t jet;
  } cases[] = {
      {dbBoolean, jet::kBoolean},  {dbByte, jet::kByte},          {dbInteger, jet::kInteger},
      {dbLong, jet::kLong},        {dbCurrency, jet::kCurrency},  {dbSingle, jet::kSingle},
      {dbDouble, jet::kDouble},    {dbFloat, jet::kDouble},       {dbDate, jet::kDateTime},
      {dbTime, jet::kDateTime},    {dbTimeStamp, jet::kDateTime}, {dbBinary, jet::kBinary},
      {dbVarBinary, jet::kBinary}, {dbText, jet::kText},          {dbChar, jet::kText},
      {dbLongBinary, jet::kOle},   {dbMemo, jet::kMemo},          {dbGUID, jet::kGuid}};
  for (const Case& c : cases)
    for (bool jet3 : {false, true}) {
      TDAOField f;
      f.Name = "F";
      f.Type = c.dao;
      f.Required = true;
      f.AllowZeroLength = true;
      const jet::NewColumn column = JetColumnForDaoField(f, jet3);
      EXPECT_EQ(column.type, c.jet) << c.dao;
      EXPECT_EQ(column.name, "F");
      EXPECT_TRUE(column.required);
      EXPECT_EQ(column.allow_zero_length, c.jet == jet::kText || c.jet == jet::kMemo) << c.dao;
      if (c.jet == jet::kText || c.jet == jet::kBinary) {
        EXPECT_EQ(column.size, 255) << c.dao;
      }
    }
}

TEST(JetColumnForDaoFieldTest, TypesTheFormatDoesNotHoldAreTheEnginesError) {
  auto error = [](int32_t type, bool jet3) -> std::string {
    TDAOField f;
    f.Name = "F";
    f.Type = type;
    try {
      JetColumnForDaoField(f, jet3);
    } catch (const TrundleError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(error(dbBigInt, false), "Invalid field data type.");
  EXPECT_EQ(error(13, false), "Invalid field data type.");
  EXPECT_EQ(error(dbDecimal, false), "");
  EXPECT_EQ(error(dbDecimal, true), "Invalid field data type.");
  EXPECT_EQ(error(dbNumeric, true), "Invalid field data type.");
}

}  // namespace
}  // namespace trundle

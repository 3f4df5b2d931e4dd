#include "databases/core/data_types.h"

#include <gtest/gtest.h>

namespace trundle {
namespace {

TEST(DataTypesTest, TranslationsForAnAccessSource) {
  struct Case {
    TFieldType source;
    TFieldType dbase;
    TFieldType paradox;
  } cases[] = {
      {ftUnknown, ftString, ftString},  {ftString, ftString, ftString},
      {ftSmallint, ftString, ftString}, {ftInteger, ftInteger, ftInteger},
      {ftWord, ftInteger, ftInteger},   {ftBoolean, ftBoolean, ftBoolean},
      {ftFloat, ftString, ftString},    {ftCurrency, ftFloat, ftFloat},
      {ftBCD, ftFloat, ftFloat},        {ftDate, ftDate, ftDate},
      {ftTime, ftString, ftString},     {ftDateTime, ftMemo, ftDateTime},
      {ftBytes, ftBlob, ftBlob},        {ftVarBytes, ftString, ftString},
      {ftAutoInc, ftInteger, ftInteger}, {ftBlob, ftBlob, ftBlob},
      {ftMemo, ftMemo, ftMemo},         {ftGraphic, ftString, ftString},
      {ftGuid, ftString, ftString},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldTypeForDBase(c.source), c.dbase) << FieldTypeName(c.source);
    EXPECT_EQ(FieldTypeForParadox(c.source), c.paradox) << FieldTypeName(c.source);
  }
  EXPECT_EQ(FieldTypeForDBase(-1), ftString);
  EXPECT_EQ(FieldTypeForParadox(200), ftString);
}

TEST(DataTypesTest, OracleCodes) {
  struct Case {
    int code;
    TFieldType field;
    int32_t dao;
  } cases[] = {
      {1, ftString, 10},   {5, ftString, 10},   {96, ftString, 10}, {114, ftString, 10},
      {3, ftInteger, 3},   {4, ftFloat, 7},     {8, ftMemo, 12},    {112, ftMemo, 12},
      {12, ftDateTime, 8}, {24, ftBlob, 11},    {113, ftBlob, 11},  {108, ftBlob, 17},
      {116, ftCursor, 4},  {252, ftBoolean, 1}, {2, ftString, 10},  {999, ftString, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OracleTypeToFieldType(c.code), c.field) << c.code;
    EXPECT_EQ(OracleTypeToDaoType(c.code), c.dao) << c.code;
  }
}

TEST(DataTypesTest, DaoTypesForEveryFieldType) {
  EXPECT_EQ(FieldTypeToDaoType[ftSmallint], 3);
  EXPECT_EQ(FieldTypeToDaoType[ftInteger], 4);
  EXPECT_EQ(FieldTypeToDaoType[ftGuid], 15);
  EXPECT_EQ(FieldTypeToDaoType[ftLargeint], 16);
  EXPECT_EQ(FieldTypeToDaoType[ftTypedBinary], 9);
  EXPECT_EQ(FieldTypeToDaoType[ftOraClob], 11);
  int texts = 0;
  for (int32_t dao : FieldTypeToDaoType) texts += dao == 10;
  EXPECT_EQ(texts, 12);  // every type without a closer DAO type becomes text
}

TEST(DataTypesTest, NewTableFieldsForEveryPairOfKinds) {
  auto def = [](const char* name, TFieldType type, int size, int code) {
    TFieldDef d;
    d.Name = name;
    d.DataType = type;
    d.Size = size;
    d.Required = true;
    d.NativeType = code;
    return d;
  };
  // A server column: the Oracle code decides, unless that would lose values.
  const TFieldDefs server = {def("ID", ftLargeint, 0, 3), def("N", ftInteger, 0, 3),
                             def("AMT", ftBCD, 20, 4), def("NAME", ftString, 40, 5),
                             def("MEMO", ftMemo, 0, 112)};
  const TFieldDefs dbase = NewTableFields(dkDBase, dkOracle, server);
  ASSERT_EQ(dbase.size(), 5u);
  EXPECT_EQ(dbase[0].DataType, ftLargeint);  // not cut to 32 bits
  EXPECT_EQ(dbase[1].DataType, ftInteger);
  EXPECT_EQ(dbase[2].DataType, ftBCD);  // exact decimals stay exact
  EXPECT_EQ(dbase[2].Size, 20);
  EXPECT_EQ(dbase[3].DataType, ftString);
  EXPECT_EQ(dbase[3].Size, 40);  // a string as wide as the column
  EXPECT_EQ(dbase[4].DataType, ftMemo);
  for (const TFieldDef& d : dbase) EXPECT_FALSE(d.Required);
  const TFieldDefs access = NewTableFields(dkAccess, dkOracle, server);
  EXPECT_EQ(access[0].NativeType, 3);
  EXPECT_EQ(access[4].NativeType, 12);
  EXPECT_TRUE(NewTableFields(dkOracle, dkCsv, server).empty());  // servers make no tables

  // An Access source goes through FieldTypeForDBase or FieldTypeForParadox; a field
  // whose type changes loses its width.
  const TFieldDefs from_access = {def("WHEN", ftDateTime, 8, 0), def("PRICE", ftFloat, 8, 0)};
  EXPECT_EQ(NewTableFields(dkDBase, dkAccess, from_access)[0].DataType, ftMemo);
  EXPECT_EQ(NewTableFields(dkParadox, dkAccess, from_access)[0].DataType, ftDateTime);
  EXPECT_EQ(NewTableFields(dkDBase, dkAccess, from_access)[1].DataType, ftString);
  EXPECT_EQ(NewTableFields(dkDBase, dkAccess, from_access)[1].Size, 0);
  // Table files keep their types; text has none; Access gets DAO types.
  EXPECT_EQ(NewTableFields(dkParadox, dkDBase, from_access)[1].DataType, ftFloat);
  EXPECT_EQ(NewTableFields(dkDBase, dkCsv, from_access)[0].DataType, ftString);
  EXPECT_EQ(NewTableFields(dkAccess, dkDBase, from_access)[1].NativeType, 7);
}

}  // namespace
}  // namespace trundle

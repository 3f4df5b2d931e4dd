#include "databases/data_types.h"

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
      {ftAutoInc, ftString, ftString},  {ftBlob, ftBlob, ftBlob},
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

}  // namespace
}  // namespace trundle

#include "databases/sql/sql_types.h"

#include <gtest/gtest.h>

#include "databases/sql/sqlite_handles.h"
#include "engine/datetime.h"

namespace trundle {
namespace {

TEST(SqlTypesTest, DeclaredTypesCarryTheFieldTypeBack) {
  struct Case {
    TFieldDef field;
    const char* declared;
  } cases[] = {
      {{"a", ftString, 40}, "VARCHAR(40)"},
      {{"a", ftBCD, 10, 2}, "NUMERIC(10,2)"},
      {{"a", ftFixedChar, 1}, "CHAR(1)"},
      {{"a", ftWideString, 255}, "NVARCHAR(255)"},
      {{"a", ftMemo}, "TEXT"},
      {{"a", ftFmtMemo}, "RICHTEXT"},
      {{"a", ftSmallint}, "SMALLINT"},
      {{"a", ftInteger}, "INTEGER"},
      {{"a", ftWord}, "WORD"},
      {{"a", ftLargeint}, "BIGINT"},
      {{"a", ftAutoInc}, "AUTOINC"},
      {{"a", ftBoolean}, "BOOLEAN"},
      {{"a", ftFloat, 20, 4}, "FLOAT(20,4)"},
      {{"a", ftCurrency}, "CURRENCY"},
      {{"a", ftDate}, "DATE"},
      {{"a", ftTime}, "TIME"},
      {{"a", ftDateTime}, "TIMESTAMP"},
      {{"a", ftBytes, 16}, "BINARY(16)"},
      {{"a", ftVarBytes, 8}, "VARBINARY(8)"},
      {{"a", ftBlob}, "BLOB"},
      {{"a", ftGraphic}, "GRAPHIC"},
      {{"a", ftParadoxOle}, "PDXOLE"},
      {{"a", ftDBaseOle}, "DBASEOLE"},
      {{"a", ftTypedBinary}, "TYPEDBINARY"},
      {{"a", ftGuid, 38}, "GUID(38)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeclaredType(c.field), c.declared);
    TFieldDef back;
    ASSERT_TRUE(ReadDeclaredType(c.declared, back)) << c.declared;
    EXPECT_EQ(back.DataType, c.field.DataType) << c.declared;
    EXPECT_EQ(back.Size, c.field.Size) << c.declared;
    EXPECT_EQ(back.Decimals, c.field.Decimals) << c.declared;
  }
  // Every type with a name comes back as itself: no two share a name.
  for (int t = 0; t < kFieldTypeCount; ++t) {
    const TFieldDef field{"a", static_cast<TFieldType>(t)};
    const std::string declared = DeclaredType(field);
    TFieldDef back;
    if (declared.empty()) continue;
    EXPECT_TRUE(ReadDeclaredType(declared.c_str(), back) && back.DataType == t)
        << FieldTypeName(field.DataType);
  }
}

TEST(SqlTypesTest, OtherDeclaredTypesFollowSqliteAffinity) {
  struct Case {
    const char* declared;
    bool known;
    TFieldType type;
    int size;
  } cases[] = {
      {"varchar2(30)", true, ftString, 30},
      {"Double Precision", true, ftFloat, 0},
      {"int", true, ftLargeint, 0},
      {"LONGBLOB", true, ftBlob, 0},
      {"varchar (12 )", true, ftString, 12},
      {"VARCHAR(abc)", true, ftString, 0},
      {"VARCHAR(12345678901)", true, ftString, 0},
      {"DECIMAL(8,3)", false, ftUnknown, 0},
      {"", false, ftUnknown, 0},
      {nullptr, false, ftUnknown, 0},
  };
  for (const Case& c : cases) {
    TFieldDef field;
    EXPECT_EQ(ReadDeclaredType(c.declared, field), c.known) << (c.declared ? c.declared : "null");
    EXPECT_EQ(field.DataType, c.type) << (c.declared ? c.declared : "null");
    EXPECT_EQ(field.Size, c.size) << (c.declared ? c.declared : "null");
  }
}

// Text columns must have TEXT affinity so that comparing them with a number compares text.
TEST(SqlTypesTest, TextTypesGetTextAffinity) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  SqliteDb db(raw);
  for (TFieldType type : {ftString, ftFixedChar, ftWideString, ftMemo, ftFmtMemo}) {
    const std::string sql = "create table t(c " + DeclaredType({"c", type, 10}) +
                            "); insert into t values (5); select typeof(c) from t;";
    std::string affinity;
    auto keep = [](void* out, int, char** values, char**) {
      *static_cast<std::string*>(out) = values[0];
      return 0;
    };
    ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), keep, &affinity, nullptr), SQLITE_OK);
    EXPECT_EQ(affinity, "text") << FieldTypeName(type);
    sqlite3_exec(db.get(), "drop table t", nullptr, nullptr, nullptr);
  }
}

TEST(SqlTypesTest, DateTimeTextOrdersAndKeepsItsParts) {
  struct Case {
    const char* value;
    TFieldType type;
    const char* text;
  } cases[] = {
      {"1815-12-10 13:00:00", ftDate, "1815-12-10"},
      {"2024-03-01 10:15:30.250", ftDateTime, "2024-03-01 10:15:30.250"},
      {"2024-03-01", ftDateTime, "2024-03-01"},
      {"1899-12-30 06:00:00", ftDateTime, "1899-12-30 06:00:00"},
      {"06:00:00", ftTime, "06:00:00"},
      {"23:59:59.999", ftTime, "23:59:59.999"},
      {"0001-01-01", ftDate, "0001-01-01"},
      {"9999-12-31 23:59:59.999", ftDateTime, "9999-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) {
    double value = 0;
    ASSERT_TRUE(ParseIsoText(c.value, value)) << c.value;
    char text[32];
    const int length = FormatDateTimeText(value, c.type, text);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length)), c.text);
  }
}

}  // namespace
}  // namespace trundle

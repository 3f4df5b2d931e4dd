// How server columns are carried, values are sent, and database texts become
// connection strings.
#include "databases/server/server_columns.h"

#include <gtest/gtest.h>
#include <sqlext.h>
#include <stdlib.h>

#include "databases/server/oracle_session.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

TEST(ServerColumnsTest, TypeCodesFollowTheOdbcTypes) {
  struct Case {
    SQLSMALLINT sql_type;
    SQLULEN size;
    SQLSMALLINT decimals;
    const char* type_name;
    ColumnKind kind;
    TFieldType field;
    int code;
  } cases[] = {
      {SQL_INTEGER, 10, 0, "int4", ColumnKind::kInteger, ftInteger, 3},
      {SQL_BIGINT, 19, 0, "int8", ColumnKind::kInteger, ftLargeint, 3},
      {SQL_NUMERIC, 10, 0, "numeric", ColumnKind::kInteger, ftLargeint, 3},
      {SQL_NUMERIC, 20, 4, "numeric", ColumnKind::kDecimal, ftBCD, 4},
      {SQL_NUMERIC, 30, 0, "numeric", ColumnKind::kDecimal, ftBCD, 4},  // beyond 64 bits
      {SQL_DOUBLE, 15, 0, "float8", ColumnKind::kFloat, ftFloat, 4},
      {SQL_VARCHAR, 40, 0, "varchar", ColumnKind::kText, ftString, 5},
      {SQL_WVARCHAR, 4000, 0, "NVARCHAR2", ColumnKind::kText, ftString, 5},
      {SQL_VARCHAR, 4001, 0, "varchar", ColumnKind::kText, ftMemo, 112},
      {SQL_LONGVARCHAR, 8190, 0, "text", ColumnKind::kText, ftMemo, 112},
      {SQL_LONGVARCHAR, 0, 0, "LONG", ColumnKind::kText, ftMemo, 8},
      {SQL_LONGVARBINARY, 0, 0, "bytea", ColumnKind::kBinary, ftBlob, 113},
      {SQL_LONGVARBINARY, 0, 0, "LONG RAW", ColumnKind::kBinary, ftBlob, 24},
      {SQL_TYPE_DATE, 10, 0, "date", ColumnKind::kDate, ftDate, 12},
      {SQL_TYPE_TIMESTAMP, 26, 6, "timestamp", ColumnKind::kTimestamp, ftDateTime, 12},
      {SQL_VARCHAR, 5, 0, "bool", ColumnKind::kBoolean, ftBoolean, 252},
      {SQL_BIT, 1, 0, "bit", ColumnKind::kBoolean, ftBoolean, 252},
      {SQL_INTERVAL_DAY, 5, 0, "interval", ColumnKind::kNotCarried, ftUnknown, 0},
      {-150, 0, 0, "sql_variant", ColumnKind::kNotCarried, ftUnknown, 0},
  };
  for (const Case& c : cases) {
    const ColumnPlan plan = PlanColumn({"COL", c.sql_type, c.size, c.decimals, c.type_name}, false);
    EXPECT_EQ(plan.kind, c.kind) << c.type_name;
    EXPECT_EQ(plan.def.DataType, c.field) << c.type_name;
    EXPECT_EQ(plan.def.NativeType, c.code) << c.type_name;
    EXPECT_EQ(plan.def.Name, "COL");
  }
  // A character column is a string as wide as the column; decimals keep their scale.
  EXPECT_EQ(PlanColumn({"C", SQL_VARCHAR, 40, 0, "varchar"}, false).def.Size, 40);
  EXPECT_EQ(PlanColumn({"D", SQL_NUMERIC, 20, 4, "numeric"}, false).def.Decimals, 4);
  // SQLite's INTEGER holds 64 bits whatever the declared type says.
  EXPECT_EQ(PlanColumn({"I", SQL_INTEGER, 10, 0, "integer"}, true).def.DataType, ftLargeint);
  // Unsigned integers (MariaDB, MySQL) need room for their top half: the next wider
  // field, and for a bigint exact digits, as no 64-bit signed field holds 2^64 - 1.
  EXPECT_EQ(PlanColumn({"U", SQL_SMALLINT, 5, 0, "smallint", true}, false).def.DataType,
            ftInteger);
  EXPECT_EQ(PlanColumn({"U", SQL_INTEGER, 10, 0, "int", true}, false).def.DataType, ftLargeint);
  const ColumnPlan big = PlanColumn({"U", SQL_BIGINT, 20, 0, "bigint", true}, false);
  EXPECT_EQ(big.kind, ColumnKind::kDecimal);
  EXPECT_EQ(big.def.Size, 20);
  EXPECT_EQ(big.def.Decimals, 0);
  EXPECT_EQ(PlanColumn({"S", SQL_BIGINT, 19, 0, "bigint"}, false).kind, ColumnKind::kInteger);
}

TEST(ServerColumnsTest, FetchedValuesArriveWhole) {
  Variant v;
  SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 12, 34, 56, 789000000};
  TimestampValue(ts, v);
  ASSERT_EQ(v.type(), VarType::kDateTime);
  EXPECT_EQ(v.ToText(), "2024-02-29 12:34:56.789");
  // Finer than a millisecond: the exact text rather than a rounded date-time.
  ts.fraction = 789012000;
  TimestampValue(ts, v);
  EXPECT_EQ(v, Variant::String("2024-02-29 12:34:56.789012"));

  TimeValue("10:11:12", v);
  EXPECT_EQ(v.ToText(), "10:11:12");
  TimeValue("10:11:12.500000", v);
  EXPECT_EQ(v.type(), VarType::kDateTime);
  TimeValue("10:11:12.123456", v);
  EXPECT_EQ(v, Variant::String("10:11:12.123456"));

  for (const char* yes : {"1", "t", "TRUE", "yes"}) EXPECT_TRUE(BooleanFromText(yes)) << yes;
  for (const char* no : {"0", "f", "false", ""}) EXPECT_FALSE(BooleanFromText(no)) << no;
  // A bit(1) delivered as its byte.
  EXPECT_TRUE(BooleanFromText(std::string_view("\x01", 1)));
  EXPECT_FALSE(BooleanFromText(std::string_view("\x00", 1)));
}

TEST(ServerColumnsTest, ParameterTextSuitsTheColumn) {
  auto text = [](const Variant& v, ColumnKind kind) {
    std::string out = "<";  // appended to, never replaced
    ParameterText(v, kind, out);
    return out;
  };
  EXPECT_EQ(text(Variant::Boolean(true), ColumnKind::kBoolean), "<1");
  EXPECT_EQ(text(Variant::Boolean(false), ColumnKind::kInteger), "<0");
  EXPECT_EQ(text(Variant::Boolean(true), ColumnKind::kText), "<True");
  EXPECT_EQ(text(Variant::String("False"), ColumnKind::kBoolean), "<0");
  EXPECT_EQ(text(Variant::String("yes"), ColumnKind::kBoolean), "<1");
  EXPECT_EQ(text(Variant::String("maybe"), ColumnKind::kBoolean), "<maybe");  // server says no
  EXPECT_EQ(text(Variant::Integer(12345678901234), ColumnKind::kInteger), "<12345678901234");
  EXPECT_EQ(text(Variant::Currency(12345), ColumnKind::kDecimal), "<1.2345");
  double day = 0;
  ASSERT_TRUE(ParseIsoText("2024-02-29 12:34:56", day));
  EXPECT_EQ(text(Variant::DateTime(day), ColumnKind::kTimestamp), "<2024-02-29 12:34:56");
  EXPECT_EQ(text(Variant::Blob(std::string("\0\xff", 2)), ColumnKind::kBinary),
            std::string("<\0\xff", 3));
  // The form text tables write bytes in goes back to bytes; other text stays text.
  EXPECT_EQ(text(Variant::String("0x00FF41"), ColumnKind::kBinary), std::string("<\0\xff"
                                                                                "A",
                                                                                4));
  EXPECT_EQ(text(Variant::String("0x0G"), ColumnKind::kBinary), "<0x0G");
  EXPECT_EQ(text(Variant::String("0x123"), ColumnKind::kBinary), "<0x123");
  EXPECT_EQ(text(Variant::String("0x00FF"), ColumnKind::kText), "<0x00FF");
}

std::string Connection(const std::string& database, const std::string& user = "",
                       const std::string& password = "",
                       const TOracleSession::Catalogue& catalogue = {{"trundle_dsn"},
                                                                     {"SQLite3"}}) {
  try {
    return TOracleSession::ConnectionString(database, user, password, catalogue);
  } catch (const TrundleError& e) {
    return std::string("error: ") + e.what();
  }
}

TEST(ServerSessionTest, DatabaseTextRules) {
  // Text with "=" is a connection string; user and password go as UID and PWD, braced
  // when they hold the syntax's characters.
  EXPECT_EQ(Connection("Driver=x;Server=h;", "ann", "p;w}d"),
            "Driver=x;Server=h;UID=ann;PWD={p;w}}d}");
  EXPECT_EQ(Connection("DSN=a"), "DSN=a");
  // A configured data source, by name.
  EXPECT_EQ(Connection("TRUNDLE_dsn", "ann", "pw"), "DSN=TRUNDLE_dsn;UID=ann;PWD=pw");
  // Otherwise an Oracle connect identifier, which needs Oracle's driver.
  const std::string missing = Connection("orcl", "scott", "tiger");
  EXPECT_NE(missing.find("error: \"orcl\" is no configured data source"), std::string::npos);
  EXPECT_NE(missing.find("no Oracle ODBC driver is installed"), std::string::npos);
  EXPECT_EQ(missing.find("tiger"), std::string::npos);
  EXPECT_EQ(Connection("orcl", "scott", "tiger", {{}, {"SQLite3", "Oracle in OraClient19Home1"}}),
            "Driver={Oracle in OraClient19Home1};DBQ=orcl;UID=scott;PWD=tiger");
  EXPECT_EQ(Connection(""),
            "error: No database given: name a data source or give an ODBC connection string");
}

TEST(ServerSessionTest, LogsOnThroughAPrivateDataSource) {
  // A driver manager configuration of the test's own: nothing outside the scratch folder.
  ScratchFolder dir;
  WriteFile(dir / "odbcinst.ini", "[SQLite3]\nDriver=" TRUNDLE_SQLITE_ODBC "\n");
  WriteFile(dir / "odbc.ini", "[trundle_dsn]\nDriver=SQLite3\nDatabase=" + (dir / "x.db") + "\n");
  setenv("ODBCSYSINI", dir.path().c_str(), 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
  TOracleSession session;
  session.LogonDatabase = "trundle_dsn";
  EXPECT_NO_THROW(session.LogOn());
  unsetenv("ODBCSYSINI");
  unsetenv("ODBCINSTINI");
  unsetenv("ODBCINI");
  ASSERT_TRUE(session.Connected());
  EXPECT_EQ(session.DbmsName(), "SQLite");
  EXPECT_FALSE(session.IsOracle());
  session.SetTransaction("READ WRITE");  // nothing to do on SQLite, and no error
  session.LogOff();
  EXPECT_FALSE(session.Connected());

  session.LogonPassword = "s3cret-word";
  EXPECT_EQ(session.Scrub("bad login s3cret-word; PWD=s3cret-word;UID=x"),
            "bad login ***; PWD=***;UID=x");
}

}  // namespace
}  // namespace trundle

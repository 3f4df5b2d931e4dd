// Values of every kind written by the SQLite adaptor straight (not through the job) into
// typed columns, and records read and written without allocating once the first has.
#include "databases/sqlite/sqlite_values.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "databases/sqlite/trundle_sqlite.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "sqlite_test_util.h"

namespace {

// Allocations made with operator new while counting is on: SQLite allocates with malloc,
// so what this counts is ours.
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

}  // namespace

// The replaced operators pair malloc with free, which GCC cannot see through.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_counting.load(std::memory_order_relaxed)) ++g_allocations;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace trundle {
namespace {

using testing::Exec;
using testing::Literals;

class SqliteValuesTest : public ::testing::Test {
 protected:
  // An adaptor appending to table of db, its transaction open.
  std::unique_ptr<TTrundleSqlite> Destination(const std::string& table) {
    auto destination = std::make_unique<TTrundleSqlite>();
    destination->Database = db;
    destination->TableName = table;
    destination->PrepareDestination();
    EXPECT_TRUE(destination->OpenTable());
    destination->StartTransaction();
    return destination;
  }

  static void Write(TTrundleSqlite& destination, const std::vector<std::string>& fields,
                    const std::vector<Variant>& row) {
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    for (size_t i = 0; i < fields.size(); ++i) {
      names[i].SetString(fields[i]);
      values[i] = row[i];
    }
    destination.WriteRecord(names, values);
  }

  static double Date(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    return EncodeDateTime(DateParts{y, m, d, h, n, s, ms});
  }

  ScratchFolder dir;
  std::string db = dir / "values.sqlite";
};

// Dates are ISO 8601 text as their column keeps them, Booleans 0 and 1, currency an
// integer or a REAL that holds it exactly, a NaN its text (SQLite would store NULL).
TEST_F(SqliteValuesTest, EachValueIsWrittenAsItsColumnKeepsIt) {
  Exec(db,
       "create table w(d date, dt datetime, tm time, f boolean, c currency, t text, r real, "
       "b blob, x)");
  auto destination = Destination("w");
  const std::vector<std::string> fields = {"d", "dt", "tm", "f", "c", "t", "r", "b", "x"};
  const int64_t huge = 12345678901234567;  // 1234567890123.4567
  Write(*destination, fields,
        {Variant::DateTime(Date(2024, 2, 29)), Variant::DateTime(Date(2024, 3, 1)),
         Variant::DateTime(0.5), Variant::Boolean(true), Variant::Currency(35000),
         Variant::Currency(huge), Variant::Float(std::nan("")),
         Variant::Blob(std::string("\0\x01", 2)), Variant::Integer(5)});
  Write(*destination, fields,
        {Variant::DateTime(Date(2024, 2, 29, 13, 45)),
         Variant::DateTime(Date(1850, 1, 2, 3, 4, 5, 250)),
         Variant::DateTime(Date(2024, 2, 29, 7, 30)), Variant::Boolean(false),
         Variant::Currency(-30000), Variant::DateTime(Date(2024, 2, 29)), Variant::Float(-0.5),
         Variant::Blob(""), Variant::String("")});
  destination->Commit();
  EXPECT_EQ(Literals(db, "w"),
            (std::vector<std::string>{
                "text:'2024-02-29' text:'2024-03-01 00:00:00' text:'12:00:00' integer:1 real:3.5 "
                "text:'1234567890123.4567' text:'NaN' blob:X'0001' integer:5",
                "text:'2024-02-29 13:45:00' text:'1850-01-02 03:04:05.250' "
                "text:'2024-02-29 07:30:00' integer:0 integer:-3 text:'2024-02-29' real:-0.5 "
                "blob:X'' text:''"}));
  // An amount a number column would round is refused, naming the record and the field.
  destination->StartTransaction();
  try {
    Write(*destination, {"c"}, {Variant::Currency(huge)});
    ADD_FAILURE() << "written";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Record 3 could not be written to table w of " + db +
                  ": field c: the amount 1234567890123.4567 has more digits than a SQLite number "
                  "keeps (15); a text column would keep it. 2 records were committed before it; "
                  "the open batch (records 3 to 3) was rolled back.");
  }
  EXPECT_EQ(Literals(db, "w").size(), 2u);
}

// Once the first record has set the buffers up, reading and writing a record allocates
// nothing: the values are bound where they lie, the statements are reused. (The texts are
// all as long, so that no buffer has to grow for a longer one.)
TEST_F(SqliteValuesTest, RecordsAllocateNothingOnceTheFirstIsThrough) {
  const std::string from = dir / "from.sqlite";
  Exec(from,
       "create table src(i integer, t text, d date, b blob, r real);"
       "with recursive k(n) as (select 1 union all select n + 1 from k where n < 3000) "
       "insert into src select n, printf('text of row %05d', n), '2024-01-01', x'00ff', n / 7.0 "
       "from k;");
  Exec(db, "create table dst(i integer, t text, d date, b blob, r real);");
  TTrundleSqlite source;
  source.Database = from;
  source.TableName = "src";
  ASSERT_TRUE(source.OpenTable());
  auto destination = Destination("dst");
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  long during_reads = 0, during_writes = 0;
  for (int n = 1;; ++n) {
    // The first record of each (and the first of each batch) may set buffers up.
    g_counting = n > 2 && n % kRecordsPerBatch != 1;
    const long before_read = g_allocations;
    if (!source.ReadRecord(names, values)) break;
    during_reads += g_allocations - before_read;
    const long before_write = g_allocations;
    destination->WriteRecord(names, values);
    during_writes += g_allocations - before_write;
    g_counting = false;
    if (n % kRecordsPerBatch == 0) {
      destination->Commit();
      destination->StartTransaction();
    }
  }
  g_counting = false;
  destination->Commit();
  destination->SaveTable();
  EXPECT_EQ(during_reads, 0);
  EXPECT_EQ(during_writes, 0);
  EXPECT_EQ(testing::Rows(db, "select count(*), sum(d = '2024-01-01') from dst"),
            std::vector<std::string>{"3000|3000"});
}

TEST(SqliteColumnTest, DeclaredTypesGiveFieldTypesAndBack) {
  struct Case {
    const char* declared;
    TFieldType type;
    int size, decimals;
    bool numeric;
  };
  for (const Case& c :
       {Case{"INTEGER", ftLargeint, 0, 0, true}, Case{"bigint", ftLargeint, 0, 0, true},
        Case{"VARCHAR(40)", ftString, 40, 0, false},
        Case{"character varying ( 12 )", ftString, 12, 0, false}, Case{"CLOB", ftMemo, 0, 0, false},
        Case{"blob", ftBlob, 0, 0, false}, Case{"FLOAT", ftFloat, 0, 0, true},
        Case{"DECIMAL(10,2)", ftBCD, 10, 2, true}, Case{"NUMERIC(30)", ftBCD, 30, 0, true},
        Case{"Date", ftDate, 0, 0, true}, Case{"DATETIME", ftDateTime, 0, 0, true},
        Case{"bool", ftBoolean, 0, 0, true}, Case{"", ftUnknown, 0, 0, false},
        Case{"POINT", ftLargeint, 0, 0, true}}) {
    SCOPED_TRACE(c.declared);
    const SqliteColumn column = SqliteColumnOf(c.declared);
    EXPECT_EQ(column.def.DataType, c.type);
    EXPECT_EQ(column.def.Size, c.size);
    EXPECT_EQ(column.def.Decimals, c.decimals);
    EXPECT_EQ(column.numeric_affinity, c.numeric);
  }
  // What CreateTable declares reads back as the same family.
  for (TFieldType type : {ftSmallint, ftAutoInc, ftFloat, ftCurrency, ftString, ftMemo, ftBlob,
                          ftGraphic, ftDate, ftTime, ftDateTime, ftBoolean}) {
    TFieldDef def;
    def.DataType = type;
    const TFieldType back = SqliteColumnOf(SqliteDeclaredType(def).c_str()).def.DataType;
    const bool whole = type == ftSmallint || type == ftAutoInc;
    const bool binary = type == ftGraphic;
    const bool text = type == ftString;
    EXPECT_EQ(back, whole    ? ftLargeint
                    : binary ? ftBlob
                    : text   ? ftMemo
                             : type)
        << FieldTypeName(type);
  }
}

}  // namespace
}  // namespace trundle

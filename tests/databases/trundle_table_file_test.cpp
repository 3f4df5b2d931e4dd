// The dBase and Paradox adaptors inside whole runs of the job: what the log says, what
// the created tables look like, and every value arriving intact.
#include "databases/kinds/trundle_table_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "databases/dbase/dbase_file.h"
#include "databases/paradox/paradox_file.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/trundle.h"
#include "tests/test_files.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

class TableFileAdaptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
  }

  // Moves src to dst and returns the log between the opening and the closing lines.
  std::vector<std::string> Move(TDataKind from, const std::string& src, TDataKind to,
                                const std::string& dst, const std::string& sql = "") {
    TTrundle job;
    job.SetSourceKind(from);
    job.SetDestinationKind(to);
    job.Source().TableName = dir / src;
    job.Destination().TableName = dir / dst;
    if (from == dkDBase || from == dkParadox)
      job.Source().Sql = sql.empty() ? "select * from \"" + (dir / src) + "\"" : sql;
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    job.Execute();
    moved = job.outcome() == TRunOutcome::kMoved;
    return std::vector<std::string>(log.begin() + 2, log.end() - 2);
  }

  struct Table {
    TFieldDefs fields;
    std::vector<std::vector<Variant>> rows;
  };
  Table Read(const std::string& name) {
    auto reader =
        name.ends_with(".dbf") ? OpenDBaseTable(dir / name, {}) : OpenParadoxTable(dir / name, {});
    Table t{reader->fields(), {}};
    std::vector<Variant> row;
    while (reader->Next(row)) t.rows.push_back(row);
    return t;
  }

  ScratchFolder dir;
  bool moved = false;
};

TEST_F(TableFileAdaptorTest, CsvIntoANewDBaseTableSizesFieldsByTheirData) {
  const std::string long_note(300, 'n');
  WriteFile(dir / "in.csv", "name,note,city\r\nann,short,Zürich\r\nbob," + long_note + ",\r\n");
  const auto log = Move(dkCsv, "in.csv", dkDBase, "out.dbf");
  EXPECT_TRUE(moved);
  EXPECT_EQ(log,
            (std::vector<std::string>{
                "Reading table", "2 records read", "Reading from table",
                "Table doesn't exist or is empty", dir / "out.dbf does not exist yet: it is created", "Table created",
                "Reading from table", "0 records read", "Moving data", "2 records moved"}));
  const Table t = Read("out.dbf");
  ASSERT_EQ(t.fields.size(), 3u);
  EXPECT_EQ(t.fields[0].Name, "NAME");
  EXPECT_EQ(t.fields[0].Size, 3);
  EXPECT_EQ(t.fields[1].DataType, ftMemo);  // longer than a character field holds
  EXPECT_EQ(t.fields[2].Size, 7);           // "Zürich" is seven bytes of UTF-8
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[1][1].text(), long_note);
  EXPECT_EQ(t.rows[0][2].text(), "Zürich");

  // And back: the same text, value by value.
  Move(dkDBase, "out.dbf", dkCsv, "back.csv");
  EXPECT_EQ(ReadFile(dir / "back.csv"),
            "\"NAME\",\"NOTE\",\"CITY\"\r\n\"ann\",\"short\",\"Zürich\"\r\n\"bob\",\"" + long_note +
                "\",\"\"\r\n");
}

// A table of every kind of value, moved dBase -> dBase, dBase -> Paradox -> dBase and
// Paradox -> Paradox, compared value by value with what went in.
TEST_F(TableFileAdaptorTest, TypedValuesSurviveEveryPairOfEngines) {
  DateParts hastings{1066, 10, 14, 0, 0, 0, 0};
  const TFieldDefs fields = {
      {"ID", ftInteger, 0, 0, false}, {"AMOUNT", ftFloat, 12, 2, false},
      {"DAY", ftDate, 0, 0, false},   {"OK", ftBoolean, 0, 0, false},
      {"NOTE", ftMemo, 0, 0, false},  {"NAME", ftString, 30, 0, false},
  };
  const std::vector<std::vector<Variant>> rows = {
      {Variant::Integer(1), Variant::Float(-12.5), Variant::DateTime(EncodeDateTime(hastings)),
       Variant::Boolean(true), Variant::String(std::string(100000, 'm') + "Ω"),
       Variant::String("Офис")},
      {Variant::Integer(-2), Variant::Float(0), Variant::Null(), Variant::Boolean(false),
       Variant::String("x"), Variant::String("O\"Neil, Jr.")},
      {Variant::Integer(3), Variant::Null(), Variant::DateTime(-1), Variant::Null(),
       Variant::String("\r\n"), Variant::String("z")},
  };
  {
    CreateDBaseTable(dir / "src.dbf", fields, {});
    auto writer = AppendToDBaseTable(dir / "src.dbf", {});
    for (const auto& row : rows) writer->Append(row);
    writer->Close();
  }
  auto same = [&rows](const Table& t, const char* what) {
    ASSERT_EQ(t.rows.size(), rows.size()) << what;
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t f = 0; f < rows[r].size(); ++f) {
        const Variant& want = rows[r][f];
        const Variant& got = t.rows[r][f];
        if (want.IsNull() || got.IsNull())
          EXPECT_EQ(want.IsNull(), got.IsNull()) << what << " row " << r << " field " << f;
        else if (want.type() == VarType::kInteger || want.type() == VarType::kFloat)
          EXPECT_EQ(want.ToDouble(), got.ToDouble()) << what << " row " << r << " field " << f;
        else
          EXPECT_EQ(want, got) << what << " row " << r << " field " << f;
      }
  };
  Move(dkDBase, "src.dbf", dkDBase, "copy.dbf");
  ASSERT_TRUE(moved);
  same(Read("copy.dbf"), "dBase to dBase");
  EXPECT_EQ(Read("copy.dbf").fields[1].Decimals, 2);  // the source's own N(12,2)
  Move(dkDBase, "src.dbf", dkParadox, "p.db");
  ASSERT_TRUE(moved);
  same(Read("p.db"), "dBase to Paradox");
  Move(dkParadox, "p.db", dkParadox, "p2.db");
  same(Read("p2.db"), "Paradox to Paradox");
  Move(dkParadox, "p.db", dkDBase, "back.dbf");
  same(Read("back.dbf"), "Paradox to dBase");
}

TEST_F(TableFileAdaptorTest, ExistingTablesTakeNamesInAnyCaseAndReportWhatDidNotFit) {
  CreateDBaseTable(dir / "dest.dbf",
                   {{"ID", ftInteger, 0, 0, false},
                    {"TOTAL", ftFloat, 5, 2, false},
                    {"NOTE", ftString, 4, 0, false}},
                   {});
  WriteFile(dir / "in.csv",
            "ID,Total,Note,Extra\r\n1,2.5,abcdef,x\r\n2,123456,ab,\r\n3,1,abcde,y\r\n");
  const auto log = Move(dkCsv, "in.csv", dkDBase, "dest.dbf");
  EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
            (std::vector<std::string>{
                "3 records moved", "Field TOTAL: 1 number did not fit N(5,2) and was left empty",
                "Field NOTE: 2 values were cut to fit its 4 characters",
                "Field EXTRA: 2 values were not written, the destination has no field of "
                "that name"}));
  const Table t = Read("dest.dbf");
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0][1].ToDouble(), 2.5);
  EXPECT_TRUE(t.rows[1][1].IsNull());
  EXPECT_EQ(t.rows[0][2].text(), "abcd");
}

TEST_F(TableFileAdaptorTest, LongAndRepeatedNamesAreStoredShortAndStillFilled) {
  WriteFile(dir / "in.csv", "customernumber,customername,x,x\r\n1,ann,first,second\r\n");
  const auto log = Move(dkCsv, "in.csv", dkDBase, "out.dbf");
  EXPECT_EQ(log[5], "Field CUSTOMERNUMBER stored as CUSTOMERNU");
  EXPECT_EQ(log[6], "Field CUSTOMERNAME stored as CUSTOMERNA");
  const Table t = Read("out.dbf");
  ASSERT_EQ(t.rows.size(), 1u);
  ASSERT_EQ(t.rows[0].size(), 4u);
  EXPECT_EQ(t.rows[0][0].text(), "1");
  EXPECT_EQ(t.rows[0][1].text(), "ann");
  EXPECT_EQ(t.rows[0][2].text(), "first");
  EXPECT_EQ(t.rows[0][3].text(), "second");
}

TEST_F(TableFileAdaptorTest, TheSameCopyTwiceFillsTheShortenedFieldsBothTimes) {
  // dBase keeps 10 characters of a name, Paradox 25; both make cut names unique.
  WriteFile(dir / "in.csv",
            "customernumber,customername,a_very_long_field_name_number_1,"
            "a_very_long_field_name_number_2\r\n1,ann,x,y\r\n");
  for (const char* out : {"out.dbf", "out.db"}) {
    const TDataKind kind = std::string(out).ends_with(".dbf") ? dkDBase : dkParadox;
    Move(dkCsv, "in.csv", kind, out);
    const auto log = Move(dkCsv, "in.csv", kind, out);
    EXPECT_TRUE(moved) << out;
    EXPECT_EQ(log.back(), "1 records moved") << out;  // no "values were not written"
    const Table t = Read(out);
    ASSERT_EQ(t.rows.size(), 2u) << out;
    for (const auto& row : t.rows) {
      ASSERT_EQ(row.size(), 4u);
      EXPECT_EQ(row[0].ToText(), "1") << out;
      EXPECT_EQ(row[1].ToText(), "ann") << out;
      EXPECT_EQ(row[2].ToText(), "x") << out;
      EXPECT_EQ(row[3].ToText(), "y") << out;
    }
  }
}

TEST_F(TableFileAdaptorTest, AStoppedRunLeavesTablesHoldingWholeRecords) {
  std::string csv = "id,name\r\n";
  for (int i = 0; i < 2500; ++i) csv += std::to_string(i) + ",name" + std::to_string(i) + "\r\n";
  WriteFile(dir / "in.csv", csv);
  for (const auto& [kind, out] : {std::pair{dkDBase, "out.dbf"}, std::pair{dkParadox, "out.db"}}) {
    int64_t stopped_at = 0;
    {
      TTrundle job;
      job.SetSourceKind(dkCsv);
      job.SetDestinationKind(kind);
      job.Source().TableName = dir / "in.csv";
      job.Destination().TableName = dir / out;
      job.OnProgress = [&job](int32_t percent) {
        if (percent >= 50) job.RequestStop();
      };
      job.Execute();
      EXPECT_EQ(job.outcome(), TRunOutcome::kStopped);
      stopped_at = job.records_moved();
    }  // as the program ends after a stopped run
    EXPECT_GT(stopped_at, 1000);
    EXPECT_LT(stopped_at, 2500);
    const Table t = Read(out);
    ASSERT_EQ(static_cast<int64_t>(t.rows.size()), stopped_at) << out;
    EXPECT_EQ(t.rows.back()[0].ToText(), std::to_string(stopped_at - 1)) << out;
    EXPECT_EQ(t.rows.back()[1].ToText(), "name" + std::to_string(stopped_at - 1)) << out;
  }
}

// A source of no records opens however wide; a table it could never fill is not made.
TEST_F(TableFileAdaptorTest, ATableThatCouldNotBeFilledIsNeverCreated) {
  WriteFile(dir / "in.csv", "a\r\n");
  Move(dkCsv, "in.csv", dkDBase, "src.dbf");
  std::string sql = "select A as C0";
  for (int i = 1; i < 300; ++i) sql += ", A as C" + std::to_string(i);
  sql += " from \"" + (dir / "src.dbf") + "\"";
  const auto log = Move(dkDBase, "src.dbf", dkDBase, "wide.dbf", sql);
  EXPECT_FALSE(moved);
  EXPECT_EQ(log[log.size() - 2], "Cannot create " + (dir / "wide.dbf") +
                                      ": the source has 300 fields, and a record carries at most 256");
  EXPECT_EQ(log.back(), "Failed: nothing was moved");
  EXPECT_FALSE(std::filesystem::exists(dir / "wide.dbf"));
  EXPECT_FALSE(std::filesystem::exists(dir / "wide.cpg"));
}

// A dBase III file of `fields` character fields F0, F1, ... of eight bytes, and `rows`
// records whose values are "r_i" (row r, field i).
void WriteWideDBase(const std::string& path, int fields, int rows) {
  const auto put16 = [](std::string& s, size_t at, unsigned v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
  };
  std::string bytes(32, '\0');
  bytes[0] = 3;
  bytes[1] = 126;
  bytes[2] = 1;
  bytes[3] = 1;
  bytes[4] = static_cast<char>(rows);
  put16(bytes, 8, static_cast<unsigned>(32 + 32 * fields + 1));
  put16(bytes, 10, static_cast<unsigned>(1 + 8 * fields));
  for (int i = 0; i < fields; ++i) {
    std::string descriptor(32, '\0');
    const std::string name = "F" + std::to_string(i);
    descriptor.replace(0, name.size(), name);
    descriptor[11] = 'C';
    descriptor[16] = 8;
    bytes += descriptor;
  }
  bytes += '\r';
  for (int r = 0; r < rows; ++r) {
    bytes += ' ';
    for (int i = 0; i < fields; ++i) {
      std::string value = std::to_string(r);
      value += '_';
      value += std::to_string(i);
      value.resize(8, ' ');
      bytes += value;
    }
  }
  bytes += '\x1a';
  WriteFile(path, bytes);
}

// A record carries at most kRecordBufferSize values. A CSV or dBase source of more fields
// than that, with records, is refused at opening with a message naming both numbers:
// no destination, new or old, is touched, and nothing is cut. (A dBase header cannot
// describe many more than 2,000 fields.)
TEST_F(TableFileAdaptorTest, ASourceWiderThanARecordIsRefusedBeforeAnythingIsWritten) {
  const std::string limit = std::to_string(kRecordBufferSize);
  const std::string old_csv = "\"X\"\r\n\"kept\"\r\n";
  for (int width : {300, 5000}) {
    std::string header, row;
    for (int i = 0; i < width; ++i) {
      header += (i ? "," : "") + FieldName(i);
      row += (i ? ",v" : "v") + std::to_string(i);
    }
    WriteFile(dir / ("w" + std::to_string(width) + ".csv"),
              header + "\r\n" + row + "\r\n" + row + "\r\n");
    // A wide header over narrow records.
    if (width == 300) WriteFile(dir / "h300.csv", header + "\r\n1\r\n");
  }
  WriteWideDBase(dir / "w300.dbf", 300, 2);
  WriteWideDBase(dir / "w2000.dbf", 2000, 2);
  const struct Source {
    TDataKind kind;
    std::string file, reason;
  } sources[] = {
      {dkCsv, "w300.csv", "w300.csv line 2: 300 values, and a text record holds at most " + limit},
      {dkCsv, "w5000.csv",
       "w5000.csv line 2: 5000 values, and a text record holds at most " + limit},
      {dkCsv, "h300.csv",
       "h300.csv line 1: the header names 300 fields, and a text record holds at most " + limit +
           " values"},
      {dkDBase, "w300.dbf", "w300.dbf\" gives 300 fields, and a record holds at most " + limit},
      {dkDBase, "w2000.dbf", "w2000.dbf\" gives 2000 fields, and a record holds at most " + limit},
  };
  for (const Source& s : sources) {
    for (const std::string dest : {"new.csv", "new.dbf", "old.csv", "old.dbf"}) {
      SCOPED_TRACE(s.file + " into " + dest);
      WriteFile(dir / "old.csv", old_csv);
      if (dest == "old.dbf") Move(dkCsv, "old.csv", dkDBase, "old.dbf");
      const std::string before = dest.starts_with("old") ? ReadFile(dir / dest) : "";
      const auto log = Move(s.kind, s.file, dest.ends_with(".csv") ? dkCsv : dkDBase, dest);
      EXPECT_FALSE(moved);
      ASSERT_GE(log.size(), 3u);
      EXPECT_EQ(log.back(), "Failed: nothing was moved");
      // Before it, "Range check error" and the file, the count and the limit (a dBase
      // source's at the end of its statement's line).
      const std::string reason = log[log.size() - 3] + "\n" + log[log.size() - 2];
      EXPECT_TRUE(reason.ends_with(s.reason)) << reason;
      EXPECT_NE(reason.find(kRangeCheckError), std::string::npos) << reason;
      EXPECT_EQ(std::count(log.begin(), log.end(), "Table created"), 0);
      if (dest.starts_with("old"))
        EXPECT_EQ(ReadFile(dir / dest), before);
      else
        EXPECT_FALSE(std::filesystem::exists(dir / dest));
      std::filesystem::remove(dir / dest);
    }
  }
}

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// Tables of more fields than a record carries that are copied whole: a source of no
// records, and a CSV destination whose old lines keep every value.
TEST_F(TableFileAdaptorTest, WideTablesWithoutWideRecordsAreCopiedWhole) {
  std::string header, row;
  for (int i = 0; i < 300; ++i) {
    header += std::string(i ? "," : "") + "\"" + FieldName(i) + "\"";
    row += std::string(i ? "," : "") + "\"v" + std::to_string(i) + "\"";
  }
  WriteFile(dir / "names.csv", header + "\r\n");
  EXPECT_FALSE(Move(dkCsv, "names.csv", dkCsv, "copy.csv").empty());
  EXPECT_TRUE(moved);
  EXPECT_EQ(ReadFile(dir / "copy.csv"), header + "\r\n");

  WriteFile(dir / "wide.csv", header + "\r\n" + row + "\r\n");
  WriteFile(dir / "in.csv", FieldName(299) + "\r\nnew\r\n");
  const auto log = Move(dkCsv, "in.csv", dkCsv, "wide.csv");
  EXPECT_TRUE(moved) << log.back();
  EXPECT_EQ(ReadFile(dir / "wide.csv"),
            header + "\r\n" + row + "\r\n" + Repeated("\"\",", 299) + "\"new\"\r\n");
}

TEST_F(TableFileAdaptorTest, AFifoIsNoTableFileAndIsNeverOpened) {
  WriteFile(dir / "in.csv", "a\r\n1\r\n");
  const std::string fifo = dir / "f.dbf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto log = Move(dkCsv, "in.csv", dkDBase, "f.dbf");  // would wait forever
  EXPECT_FALSE(moved);
  const std::string refused = fifo + " is not a regular file, and a table file must be one";
  EXPECT_EQ(log, (std::vector<std::string>{"Reading table", "1 records read", "Reading from table",
                                           refused, refused, "Failed: nothing was moved"}));
}

// A deleted record is neither read nor counted: the log's count and the progress agree
// with what is moved.
TEST_F(TableFileAdaptorTest, DeletedDBaseRecordsAreNotCounted) {
  WriteFile(dir / "in.csv", "N\r\n1\r\n2\r\n3\r\n");
  Move(dkCsv, "in.csv", dkDBase, "t.dbf");
  ASSERT_TRUE(moved);
  const std::string bytes = ReadFile(dir / "t.dbf");
  auto u16 = [&](size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
  };
  std::fstream file(dir / "t.dbf", std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(u16(8) + u16(10));  // the second record's deletion mark
  file.put('*');
  file.close();

  TTrundle job;
  job.SetSourceKind(dkDBase);
  job.SetDestinationKind(dkCsv);
  job.Source().TableName = dir / "t.dbf";
  job.Source().Sql = "select * from \"" + (dir / "t.dbf") + "\"";
  job.Destination().TableName = dir / "out.csv";
  std::vector<std::string> log;
  int last_percent = -1;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.OnProgress = [&last_percent](int32_t percent) { last_percent = percent; };
  job.Execute();
  auto logged = [&log](const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  };
  EXPECT_TRUE(logged("2 records read"));
  EXPECT_TRUE(logged("2 records moved"));
  EXPECT_EQ(last_percent, 100);
  EXPECT_EQ(ReadFile(dir / "out.csv"), "\"N\"\r\n\"1\"\r\n\"3\"\r\n");
}

TEST_F(TableFileAdaptorTest, SqlOverSeveralFilesAndPathsWithQuotes) {
  WriteFile(dir / "c.csv", "id,name\r\n1,ann\r\n2,bob\r\n");
  WriteFile(dir / "o.csv", "cid,amount\r\n1,10\r\n1,5\r\n2,7\r\n");
  Move(dkCsv, "c.csv", dkDBase, "cust.dbf");
  Move(dkCsv, "o.csv", dkParadox, "ord\"ers.db");
  ASSERT_TRUE(moved);
  Move(dkDBase, "cust.dbf", dkCsv, "sum.csv",
       "select c.NAME, sum(o.AMOUNT) as TOTAL from cust c join [ord\"ers.db] o "
       "on o.CID = c.ID group by c.NAME order by c.NAME");
  EXPECT_EQ(ReadFile(dir / "sum.csv"), "\"NAME\",\"TOTAL\"\r\n\"ann\",\"15\"\r\n\"bob\",\"7\"\r\n");
}

TEST_F(TableFileAdaptorTest, MissingOrBrokenSourcesAreMessages) {
  auto log = Move(dkDBase, "none.dbf", dkCsv, "out.csv");
  EXPECT_FALSE(moved);
  EXPECT_EQ(log, (std::vector<std::string>{"Reading from table", "Table doesn't exist or is empty",
                                           dir / "none.dbf: no such file",
                                           "Failed: nothing was moved"}));
  WriteFile(dir / "bad.dbf", "not a table at all");
  log = Move(dkDBase, "bad.dbf", dkCsv, "out.csv");
  EXPECT_FALSE(moved);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[1].find(dir / "bad.dbf"), std::string::npos) << log[1];
  EXPECT_FALSE(std::filesystem::exists(dir / "out.csv"));
}

// The records a killed run left past a table's count are said when the destination
// opens, also when the table then turns out unreadable and takes no records.
TEST_F(TableFileAdaptorTest, RecordsAKilledRunLeftAreSaidEvenWhenTheTableCannotBeRead) {
  WriteFile(dir / "in.csv", "N\r\n5\r\n");
  const std::string path = dir / "t.dbf";
  CreateDBaseTable(path, {{"N", ftInteger}}, {});
  auto append = [&path](int count) {
    auto writer = AppendToDBaseTable(path, {});
    for (int i = 0; i < count; ++i) writer->Append({Variant::Integer(i)});
    writer->Close();
  };
  append(2);
  const std::string counted = ReadFile(path);
  append(4);
  std::string left = ReadFile(path);
  left.replace(0, 32, counted, 0, 32);
  const size_t header = static_cast<unsigned char>(left[8]) | static_cast<unsigned char>(left[9])
                                                                  << 8;
  left.replace(header + 1, 11, "        1x3");
  WriteFile(path, left);
  const auto log = Move(dkCsv, "in.csv", dkDBase, "t.dbf");
  EXPECT_FALSE(moved);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[3], path +
                        " holds 4 records after the 2 records its header counts, left by a run "
                        "that did not finish; they are dropped, and the new records follow "
                        "those 2\r\n" +
                        path +
                        " is damaged: record 1, field N holds '        1x3', which is not "
                        "a number");
}

}  // namespace
}  // namespace trundle

// New Access tables from every kind of source, Jet 3 and Jet 4: the log of the run, the
// table as mdbtools (mdb-schema, mdb-prop, mdb-export) and npm's mdb-reader read it, our
// verifier's verdict, and every value the source gave read back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>

#include "access_test_util.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_verify.h"
#include "databases/access/new_database.h"
#include "databases/access/trundle_access.h"
#include "databases/sql/dataset.h"
#include "databases/paradox/paradox_file.h"
#include "databases/server/trundle_oracle.h"
#include "databases/sqlite/trundle_sqlite.h"
#include "databases/kinds/trundle_table_file.h"
#include "engine/adaptor_registry.h"
#include "engine/trundle.h"
#include "jet_test_util.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

using testing::AccessFixture;
using testing::CommandOutput;
using testing::ShellWord;

// "NAME TYPE" for each column, as mdb-schema writes the table.
std::vector<std::string> Schema(const std::string& file, const std::string& table) {
  const std::string out = CommandOutput("timeout 20 mdb-schema -T " + ShellWord(table) + " " +
                                        ShellWord(file) + " 2>&1");
  std::vector<std::string> columns;
  size_t pos = 0;
  for (size_t end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
    std::string line = out.substr(pos, end - pos);
    if (line.rfind("\t[", 0) != 0) continue;
    const size_t close = line.find(']');
    std::string type = line.substr(line.find_first_not_of('\t', close + 1));
    while (!type.empty() && (type.back() == ',' || type.back() == ' ')) type.pop_back();
    columns.push_back(line.substr(2, close - 2) + " " + type);
  }
  return columns;
}

// "Required AllowZeroLength" of each column ("yes no"), as mdb-prop reads the catalogue.
std::map<std::string, std::string> Properties(const std::string& file, const std::string& table) {
  const std::string out =
      CommandOutput("timeout 20 mdb-prop " + ShellWord(file) + " " + ShellWord(table) + " 2>&1");
  std::map<std::string, std::map<std::string, std::string>> by_column;
  std::string column;
  size_t pos = 0;
  for (size_t end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = out.substr(pos, end - pos);
    if (line.rfind("name: ", 0) == 0) column = line.substr(6);
    const size_t colon = line.find(": ");
    if (line.rfind('\t', 0) == 0 && colon != std::string::npos)
      by_column[column][line.substr(1, colon - 1)] = line.substr(colon + 2);
  }
  std::map<std::string, std::string> props;
  for (auto& [name, values] : by_column) {
    if (name == "(none)") continue;
    props[name] = (values.count("Required") ? values["Required"] : "?") + " " +
                  (values.count("AllowZeroLength") ? values["AllowZeroLength"] : "-");
  }
  return props;
}

// mdb-export writes Null and empty text alike.
std::vector<std::string> AsExported(std::vector<std::string> rows) {
  for (std::string& row : rows) {
    std::string out;
    size_t pos = 0;
    for (;;) {
      const size_t tab = row.find('\t', pos);
      const std::string cell = row.substr(pos, tab == std::string::npos ? tab : tab - pos);
      if (pos) out += '\t';
      out += cell == "s:" ? "N" : cell;
      if (tab == std::string::npos) break;
      pos = tab + 1;
    }
    row = out;
  }
  return rows;
}

// A SQLite database at `file` made by `sql`.
void MakeSqlite(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK);
}

class AccessCreateRunTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
    RegisterServerAdaptor();
    RegisterAdaptor(dkSqlite, [] { return std::make_unique<TTrundleSqlite>(); });
    database_ = dir / "db.mdb";
    if (jet3())
      WriteFile(database_, ReadFile(AccessFixture("testV1997.mdb")));
    else
      CreateAccessDatabase(database_);
  }
  bool jet3() const { return GetParam(); }

  // Runs the job into a new table People; returns the log between the opening and the
  // closing lines.
  std::vector<std::string> Run(TDataKind kind, const std::string& table,
                               const std::string& database = "", const std::string& sql = "") {
    TTrundle job;
    job.SetSourceKind(kind);
    job.SetDestinationKind(dkAccess);
    job.Source().TableName = table;
    job.Source().Database = database;
    job.Source().Sql = sql;
    job.Source().DaoVersion = "dao36";
    job.Destination().Database = database_;
    job.Destination().DaoVersion = "dao36";
    job.Destination().TableName = "People";
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    job.Execute();
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
    return std::vector<std::string>(log.begin() + 2, log.end() - 2);
  }

  // The new table, read back by us, mdb-reader and (unless the rows hold characters past
  // U+FFFF, which mdbtools exports as '?') mdb-export, equals rows; the verifier finds the
  // database sound.
  void ExpectRows(const std::vector<std::string>& rows, bool by_mdbtools = true) {
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(database_);
    EXPECT_TRUE(report.sound()) << report.Text();
    const std::unique_ptr<jet::JetDatabase> db = jet::JetDatabase::Open(database_);
    EXPECT_EQ(jet_test::OurRows(*db, "People"), rows);
    const TFieldDefs fields = db->OpenTable("People")->fields();
    EXPECT_EQ(jet_test::ReaderRows(database_, "People", fields), rows);
    if (by_mdbtools) {
      EXPECT_EQ(jet_test::ExportRows(database_, "People", fields), AsExported(rows));
    }
  }

  ScratchFolder dir;
  std::string database_;
};

// A CSV file: every field Text(255) accepting empty text, one with a longer value a Memo
// that keeps every character, names Access refuses stored changed and logged.
TEST_P(AccessCreateRunTest, ACsvFileBecomesTextFieldsAndAMemo) {
  std::string long_text;
  for (int i = 0; i < 30; ++i) long_text += "0123456789";
  WriteFile(dir / "in.csv", "Name,Note,City.Town,[Key]\r\nann," + long_text +
                                ",Oslo,1\r\nbob,,\"Bergen, Norway\",2\r\n");
  EXPECT_EQ(Run(dkCsv, dir / "in.csv"),
            (std::vector<std::string>{
                "Reading table", "2 records read", "Reading from table", "Table doesn't exist",
                "Creating table", "Field CITY.TOWN stored as CITY_TOWN",
                "Field [KEY] stored as _KEY_", "Table created", "Reading from table",
                "0 records read", "Moving data", "2 records moved"}));
  EXPECT_EQ(Schema(database_, "People"),
            (std::vector<std::string>{"NAME Text (255)", "NOTE Memo/Hyperlink (255)",
                                      "CITY_TOWN Text (255)", "_KEY_ Text (255)"}));
  EXPECT_EQ(
      Properties(database_, "People"),
      (std::map<std::string, std::string>{
          {"NAME", "no yes"}, {"NOTE", "no yes"}, {"CITY_TOWN", "no yes"}, {"_KEY_", "no yes"}}));
  ExpectRows({"s:ann\ts:" + long_text + "\ts:Oslo\ts:1", "s:bob\ts:\ts:Bergen, Norway\ts:2"});

  // A second run appends to the table it made, the changed names found again.
  EXPECT_EQ(Run(dkCsv, dir / "in.csv").back(), "2 records moved");
  EXPECT_EQ(jet_test::OurRows(*jet::JetDatabase::Open(database_), "People").size(), 4u);
}

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A Text field holds 255 characters as the database counts them (UTF-16 units in Jet 4,
// code page bytes in Jet 3), whatever their UTF-8 takes: a text source's field becomes a
// Memo only past that, and every value arrives whole.
TEST_P(AccessCreateRunTest, ACsvFieldIsAMemoOnlyPast255CharactersOfTheDatabase) {
  struct Column {
    const char* name;
    std::string value;
    const char* type;
  };
  // Jet 3's code page (1252 in the fixture) has the euro and e-acute in one byte each,
  // three and two in UTF-8; Jet 4 takes any character, one past U+FFFF as two units.
  const std::vector<Column> columns =
      jet3() ? std::vector<Column>{{"EURO", Repeated("\u20ac", 255), "Text (255)"},
                                   {"EURO2", Repeated("\u20ac", 256), "Memo/Hyperlink (255)"},
                                   {"ACUTE", "x" + Repeated("\u00e9", 254), "Text (255)"},
                                   {"ACUTE2", Repeated("\u00e9", 256), "Memo/Hyperlink (255)"}}
             : std::vector<Column>{{"GREEK", Repeated("\u03b1", 255), "Text (255)"},
                                   {"GREEK2", Repeated("\u03b1", 256), "Memo/Hyperlink (255)"},
                                   {"HAN", Repeated("\u6f22", 200), "Text (255)"},
                                   {"EMOJI", "a" + Repeated("\U0001f600", 127), "Text (255)"},
                                   {"EMOJI2", Repeated("\U0001f600", 128), "Memo/Hyperlink (255)"}};
  std::string csv, row, short_row;
  std::vector<std::string> schema;
  for (const Column& c : columns) {
    csv += std::string(csv.empty() ? "" : ",") + c.name;
    row += std::string(row.empty() ? "" : "\t") + "s:" + c.value;
    short_row += std::string(short_row.empty() ? "" : "\t") + "s:ab";
    schema.push_back(std::string(c.name) + " " + c.type);
  }
  csv += "\r\n";
  for (const Column& c : columns) csv += c.value + (&c == &columns.back() ? "\r\n" : ",");
  for (const Column& c : columns) csv += &c == &columns.back() ? "ab\r\n" : "ab,";
  WriteFile(dir / "in.csv", csv);
  EXPECT_EQ(Run(dkCsv, dir / "in.csv").back(), "2 records moved");
  EXPECT_EQ(Schema(database_, "People"), schema);
  ExpectRows({row, short_row}, jet3());
}

// An Access table: names, types, sizes and Required as the source has them.
TEST_P(AccessCreateRunTest, AnAccessTableKeepsItsFields) {
  const std::string source = AccessFixture("testV1997.mdb");
  const std::vector<std::string> log = Run(dkAccess, "Table1", source, "select * from [Table1]");
  EXPECT_EQ(log.back(), "2 records moved");
  EXPECT_EQ(Schema(database_, "People"),
            (std::vector<std::string>{"A Text (50)", "B Text (100)", "C Integer", "D Integer",
                                      "E Long Integer", "F Double", "G DateTime", "H Currency",
                                      "I Boolean NOT NULL"}));
  const auto props = Properties(database_, "People");
  EXPECT_EQ(props.at("A"), "no yes");
  const std::unique_ptr<jet::JetDatabase> from = jet::JetDatabase::Open(source);
  ExpectRows(jet_test::OurRows(*from, "Table1"));
}

// dBase and Paradox files: each value arrives as the file engine reads it.
TEST_P(AccessCreateRunTest, DBaseAndParadoxFilesArriveValueForValue) {
  for (const auto& [kind, file] : {std::pair{dkDBase, std::string("dbase/dbase_83.dbf")},
                                   std::pair{dkParadox, std::string("paradox/AccessZone.db")}}) {
    SCOPED_TRACE(file);
    const std::string path = std::string(TRUNDLE_FIXTURES) + "/" + file;
    std::filesystem::remove(database_);
    if (jet3())
      WriteFile(database_, ReadFile(AccessFixture("testV1997.mdb")));
    else
      CreateAccessDatabase(database_);
    const std::vector<std::string> log = Run(kind, path, "", "select * from \"" + path + "\"");
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("records moved"), std::string::npos) << log.back();
    // The source's rows as its engine reads them.
    TQuery query;
    query.SQL = "select * from \"" + path + "\"";
    query.Open();
    std::vector<std::string> rows;
    for (; !query.Eof(); query.Next()) {
      std::string row;
      for (int i = 0; i < query.FieldCount(); ++i) {
        if (i) row += '\t';
        const Variant& v = query.Value(i);
        const TFieldDef& def = query.FieldDefs()[static_cast<size_t>(i)];
        Variant value = v;
        if (v.IsText() && (def.DataType == ftBCD || def.DataType == ftFloat))
          value.SetFloat(std::stod(v.text()));
        // Numbers wider than a double keeps whole are text in Jet 3, which has no decimals.
        if (jet3() && def.DataType == ftLargeint && def.Size > 15 && !v.IsNull())
          value.SetString(v.ToText());
        row += jet_test::CanonicalCell(value);
      }
      rows.push_back(row);
    }
    ExpectRows(rows);
  }
}

// The new table's primary key and indexes, as mdb-schema writes them for PostgreSQL.
std::vector<std::string> Keys(const std::string& file) {
  const std::string out = CommandOutput("timeout 20 mdb-schema --indexes -T People " +
                                        ShellWord(file) + " postgres 2>&1");
  std::vector<std::string> keys;
  size_t pos = 0;
  for (size_t end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = out.substr(pos, end - pos);
    if (line.find("INDEX \"") != std::string::npos || line.find("PRIMARY KEY") != std::string::npos)
      keys.push_back(line);
  }
  return keys;
}

// A keyed table read whole gives the new table its primary key and (from Access) its
// indexes that allow duplicates; a statement's rows give none.
TEST_P(AccessCreateRunTest, AKeyedTableGivesTheNewTableItsPrimaryKey) {
  const std::string paradox = std::string(TRUNDLE_FIXTURES) + "/paradox/AccessZone.db";
  const std::string access = AccessFixture("indexTestV2000.mdb");
  const std::string pkey = "ALTER TABLE \"people\" ADD CONSTRAINT \"people_pkey\" PRIMARY KEY ";
  struct Case {
    TDataKind kind;
    std::string table, database, sql;
    std::vector<std::string> keys;
  };
  // A Paradox table keyed on text, whose keys differ only in letter case: Access would
  // take them for one key, so the new table gets none and both records.
  const std::string text_keyed = dir / "names.db";
  {
    TFieldDef name{"Name", ftString, 10};
    CreateParadoxTable(text_keyed, {name, TFieldDef{"N", ftInteger}}, {});
    auto writer = AppendToParadoxTable(text_keyed, {});
    writer->Append({Variant::String("ab"), Variant::Integer(1)});
    writer->Append({Variant::String("AB"), Variant::Integer(2)});
    writer->Close();
    std::string bytes = ReadFile(text_keyed);
    bytes[0x04] = 0;  // keyed, on the first field
    bytes[0x23] = 1;
    WriteFile(text_keyed, bytes);
  }
  for (const Case& c :
       {Case{dkParadox, paradox, "", "select * from \"" + paradox + "\"", {pkey + "(\"id\");"}},
        Case{dkParadox, text_keyed, "", "select * from \"" + text_keyed + "\"", {}},
        Case{dkAccess,
             "Table2",
             access,
             "select * from [Table2]",
             {"CREATE INDEX \"people_id_idx\" ON \"people\" (\"id\");", pkey + "(\"id\");"}},
        Case{dkAccess, "Table2", access, "select id, data from [Table2] where id > 0", {}}}) {
    SCOPED_TRACE(c.sql);
    std::filesystem::remove(database_);
    if (jet3())
      WriteFile(database_, ReadFile(AccessFixture("testV1997.mdb")));
    else
      CreateAccessDatabase(database_);
    const std::vector<std::string> log = Run(c.kind, c.table, c.database, c.sql);
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("records moved"), std::string::npos) << log.back();
    EXPECT_EQ(Keys(database_), c.keys);
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(database_);
    EXPECT_TRUE(report.sound()) << report.Text();
  }
}

// An AutoNumber field arrives as an AutoNumber (mdb-schema's SERIAL) with the source's
// numbers kept, gaps and all; a record appended later without a number gets the one past
// the highest, not one the table already holds.
TEST_P(AccessCreateRunTest, AnAutoNumberKeepsItsNumbersAndCountsOnPastTheHighest) {
  const std::string source = dir / "source.mdb";
  CreateAccessDatabase(source);
  {
    TDAODatabase db;
    db.DatabaseName = source;
    db.DAOVersion = kDao36;
    db.Open();
    TDAOTableDef def = db.CreateTableDef("Orders");
    TDAOField id = def.CreateField("Id", dbLong);
    id.AutoIncrement = true;
    def.Fields.Append(id);
    def.Fields.Append(def.CreateField("Item", dbText, 20));
    db.TableDefs_Append(def);
    db.OpenAppend("Orders");
    db.BeginTrans();
    for (const auto& [n, item] : std::vector<std::pair<int, std::string>>{
             {5, "bolt"}, {42, "nut"}, {9, "washer"}}) {
      std::vector<Variant> row = {Variant::Integer(n), Variant::String(item)};
      db.Append(row);
    }
    db.CommitTrans(1);
    db.EndAppend();
  }
  const std::vector<std::string> log = Run(dkAccess, "Orders", source, "select * from [Orders]");
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find("3 records moved"), std::string::npos) << log.back();
  EXPECT_EQ(Schema(database_, "People"),
            (std::vector<std::string>{"Id Long Integer", "Item Text (20)"}));
  const std::string pg = CommandOutput("timeout 20 mdb-schema -T People " + ShellWord(database_) +
                                       " postgres 2>&1");
  EXPECT_NE(pg.find("\"id\"\t\t\tSERIAL"), std::string::npos) << pg;
  {
    TDAODatabase db;
    db.DatabaseName = database_;
    db.DAOVersion = kDao36;
    db.Open();
    db.OpenAppend("People");
    db.BeginTrans();
    std::vector<Variant> row = {Variant::Null(), Variant::String("gear")};
    db.Append(row);
    db.CommitTrans(1);
    db.EndAppend();
  }
  ExpectRows({"n:5\ts:bolt", "n:42\ts:nut", "n:9\ts:washer", "n:43\ts:gear"});
}

// An index that allows duplicates is made as one (mdb-schema's CREATE INDEX, not UNIQUE)
// and takes records whose keys repeat; the file stays sound.
TEST_P(AccessCreateRunTest, AnIndexWithoutUniqueTakesRepeatedKeys) {
  {
    TDAODatabase db;
    db.DatabaseName = database_;
    db.DAOVersion = kDao36;
    db.Open();
    TDAOTableDef def = db.CreateTableDef("People");
    def.Fields.Append(def.CreateField("City", dbText, 20));
    def.Fields.Append(def.CreateField("N", dbLong));
    def.Indexes.push_back(TDAOIndex{"City", {"City"}, false, false});
    db.TableDefs_Append(def);
    db.OpenAppend("People");
    db.BeginTrans();
    for (int n = 1; n <= 3; ++n) {
      std::vector<Variant> row = {Variant::String(n == 2 ? "Oslo" : "Bergen"),
                                  Variant::Integer(n)};
      db.Append(row);
    }
    db.CommitTrans(1);
    db.EndAppend();
  }
  EXPECT_EQ(Keys(database_),
            (std::vector<std::string>{"CREATE INDEX \"people_city_idx\" ON \"people\" (\"city\");"}));
  ExpectRows({"s:Bergen\tn:1", "s:Oslo\tn:2", "s:Bergen\tn:3"});
}

// A server table through the SQLite ODBC driver: 64-bit integers keep every digit, long
// text becomes a Memo.
TEST_P(AccessCreateRunTest, AServerTableKeepsIntegersAndText) {
  const std::string file = dir / "server.db";
  MakeSqlite(file,
             "create table t (id integer, big integer, name varchar(20), "
             "notes varchar(1000), price double);"
             "insert into t values (1, 9007199254740993, 'ann', 'x', 2.5);"
             "insert into t values (100000, -5, 'bob', null, null);");
  if (HasFatalFailure()) return;
  const std::vector<std::string> log =
      Run(dkOracle, "t", "Driver=" TRUNDLE_SQLITE_ODBC ";Database=" + file, "select * from t");
  EXPECT_EQ(log.back(), "2 records moved");
  const std::vector<std::string> schema = Schema(database_, "People");
  ASSERT_EQ(schema.size(), 5u);
  // SQLite's INTEGER holds 64 bits, whatever the values.
  EXPECT_EQ(schema[0], jet3() ? "id Text (20)" : "id Numeric (19, 0)");
  EXPECT_EQ(schema[2], "name Text (255)");
  EXPECT_EQ(schema[3], "notes Memo/Hyperlink (255)");
  EXPECT_EQ(schema[4], "price Double");
  EXPECT_EQ(schema[1], jet3() ? "big Text (20)" : "big Numeric (19, 0)");
  const std::unique_ptr<jet::JetDatabase> jet = jet::JetDatabase::Open(database_);
  const std::unique_ptr<TableFileReader> reader = jet->OpenTable("People");
  std::vector<Variant> first, second, none;
  ASSERT_TRUE(reader->Next(first));
  ASSERT_TRUE(reader->Next(second));
  EXPECT_FALSE(reader->Next(none));
  // 2^53 + 1, which no double holds, arrives whole.
  EXPECT_EQ(first[1].ToText(), "9007199254740993");
  EXPECT_EQ(second[0].ToText(), "100000");
  EXPECT_EQ(second[1].ToText(), "-5");
  EXPECT_EQ(first[3].ToText(), "x");
  EXPECT_TRUE(second[3].IsNull());
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(database_);
  EXPECT_TRUE(report.sound()) << report.Text();
}

// A SQLite table: its declared types, not its type codes, decide the new fields, so
// that 64-bit integers, decimals, empty text, binary and dates all arrive as they were.
TEST_P(AccessCreateRunTest, ASqliteTableArrivesValueForValue) {
  const std::string file = dir / "source.sqlite";
  MakeSqlite(file,
             "create table t (id integer primary key, big integer, r real, "
             "price numeric(10,2), name text, data blob, born date);"
             "insert into t values (1, 9007199254740993, 1.5, 12.34, 'h\xc3\xa9', "
             "x'00ff', '2024-02-29');"
             "insert into t values (2, -5, null, -0.07, '', null, null);");
  if (HasFatalFailure()) return;
  const std::vector<std::string> log = Run(dkSqlite, "t", file);
  EXPECT_EQ(log.back(), "2 records moved");
  const std::vector<std::string> schema = Schema(database_, "People");
  ASSERT_EQ(schema.size(), 7u) << CommandOutput("mdb-schema " + ShellWord(database_));
  EXPECT_EQ(schema[1], jet3() ? "big Text (20)" : "big Numeric (19, 0)");
  EXPECT_EQ(schema[2], "r Double");
  // Jet 3 has no decimal: a Double, which holds these two exactly enough to read back.
  EXPECT_EQ(schema[3], jet3() ? "price Double" : "price Numeric (10, 2)");
  EXPECT_EQ(schema[6], "born DateTime");
  const std::unique_ptr<jet::JetDatabase> jet = jet::JetDatabase::Open(database_);
  const std::unique_ptr<TableFileReader> reader = jet->OpenTable("People");
  std::vector<Variant> first, second;
  ASSERT_TRUE(reader->Next(first));
  ASSERT_TRUE(reader->Next(second));
  EXPECT_EQ(first[1].ToText(), "9007199254740993");
  EXPECT_EQ(second[1].ToText(), "-5");
  EXPECT_EQ(first[3].ToText(), "12.34");
  EXPECT_EQ(second[3].ToText(), "-0.07");
  EXPECT_EQ(first[4].ToText(), "h\xc3\xa9");
  // Empty text stays apart from Null.
  EXPECT_FALSE(second[4].IsNull());
  EXPECT_EQ(second[4].ToText(), "");
  EXPECT_EQ(first[5].ToText().size(), 2u);
  EXPECT_TRUE(second[5].IsNull());
  EXPECT_EQ(first[6].ToText().substr(0, 10), "2024-02-29");
  EXPECT_TRUE(second[6].IsNull());
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(database_);
  EXPECT_TRUE(report.sound()) << report.Text();
}

INSTANTIATE_TEST_SUITE_P(Jet, AccessCreateRunTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Jet3" : "Jet4";
                         });

}  // namespace
}  // namespace trundle

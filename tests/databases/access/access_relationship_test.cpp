// Relationships added to Access databases by our writer: a related database made with
// keys, AutoNumbers, a Memo, an OLE field and a table named with non-ASCII letters, its
// relationship enforced by the table writer afterwards, checked by our verifier,
// mdb-schema and mdb-reader; relationships refused whole; and the whole database copied
// by trundle-cli into a new Access database with its relationship.
#include <gtest/gtest.h>

#include <filesystem>

#include "databases/access/access_relations.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_relationship.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::NewColumn;
using jet::NewIndex;

const std::string kParent = "Kunden", kChild = "Bestellpositionen", kSizes = "Größen";

// Customers (AutoNumber key, a Memo, an OLE field), their orders and a table named with
// non-ASCII letters, with rows in; no relationship yet.
void MakeDatabase(const std::string& file) {
  std::filesystem::copy_file(jet_test::Fixture("empty2000.mdb"), file);
  {
    auto store = jet::PageStore::Open(file);
    auto db = jet::JetDatabase::Open(file);
    NewColumn id{"ID", jet::kLong};
    id.autonumber = true;
    jet::CreateTable(*store, *db, kParent,
                     {id, {"Name", jet::kText, 40}, {"Notiz", jet::kMemo}, {"Bild", jet::kOle}},
                     {NewIndex{"PrimaryKey", {0}, true}});
  }
  for (const auto& [name, columns] :
       {std::pair{kChild,
                  std::vector<NewColumn>{
                      {"Nr", jet::kLong}, {"Kunde", jet::kLong}, {"Menge", jet::kLong}}},
        std::pair{kSizes, std::vector<NewColumn>{{"Größe", jet::kText, 10}}}}) {
    auto store = jet::PageStore::Open(file);
    auto db = jet::JetDatabase::Open(file);
    jet::CreateTable(*store, *db, name, columns, {NewIndex{"PrimaryKey", {0}, true}});
  }
  auto store = jet::PageStore::Open(file);
  auto db = jet::JetDatabase::Open(file);
  {
    auto writer = jet::TableWriter::Open(*store, *db, kParent);
    for (int i = 1; i <= 3; ++i) {
      std::vector<Variant> row = {Variant::Null(), Variant::String("Kunde " + std::to_string(i)),
                                  Variant::String(std::string(5000, char('a' + i))),
                                  Variant::Blob(std::string("\x00\x01ole", 5))};
      writer->Append(row);
    }
    writer->Commit();
  }
  {
    // Enough rows that the new index needs more than one page; some without a customer.
    auto writer = jet::TableWriter::Open(*store, *db, kChild);
    for (int n = 1; n <= 900; ++n) {
      std::vector<Variant> row = {Variant::Integer(n),
                                  n % 10 == 0 ? Variant::Null() : Variant::Integer(1 + n % 3),
                                  Variant::Integer(n * 2)};
      writer->Append(row);
    }
    writer->Commit();
  }
  auto writer = jet::TableWriter::Open(*store, *db, kSizes);
  std::vector<Variant> row = {Variant::String("Übergröße")};
  writer->Append(row);
  writer->Commit();
}

void Add(const std::string& file, const jet::NewRelationship& rel) {
  auto store = jet::PageStore::Open(file);
  auto db = jet::JetDatabase::Open(file);
  jet::AddRelationship(*store, *db, rel);
}

const jet::NewRelationship kOrders = {
    "KundenBestellpositionen", kChild, {"Kunde"}, kParent, {"ID"}, false, true};

// Appends one order line; the writer's refusal's text, empty when it took the row.
std::string AppendOrder(const std::string& file, int nr, int customer) {
  auto store = jet::PageStore::Open(file);
  auto db = jet::JetDatabase::Open(file);
  auto writer = jet::TableWriter::Open(*store, *db, kChild);
  std::vector<Variant> row = {Variant::Integer(nr), Variant::Integer(customer),
                              Variant::Integer(1)};
  try {
    writer->Append(row);
    writer->Commit();
  } catch (const TrundleError& e) {
    return e.what();
  }
  return "";
}

std::string Schema(const std::string& file) {
  return jet_test::Run("timeout 60 mdb-schema " + jet_test::Quote(file) + " postgres");
}

TEST(AccessRelationship, AddedRelationshipIsReadByEveryReaderAndEnforced) {
  ScratchFolder dir;
  const std::string file = dir / "db.mdb";
  MakeDatabase(file);
  Add(file, kOrders);
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
  EXPECT_TRUE(report.sound()) << report.Text();
  EXPECT_NE(Schema(file).find("ALTER TABLE \"Bestellpositionen\" ADD CONSTRAINT "
                              "\"bestellpositionen_kunde_fk\" FOREIGN KEY (\"kunde\") "
                              "REFERENCES \"Kunden\"(\"id\") ON DELETE CASCADE"),
            std::string::npos)
      << Schema(file);
  const std::vector<std::string> tables = jet_test::ReaderTables(file);
  for (const std::string& t : {kParent, kChild, kSizes})
    EXPECT_NE(std::find(tables.begin(), tables.end(), t), tables.end()) << t;

  // Our own reading of the catalogue gives it back, cascade and all.
  const TRelationDefs listed = ListAccessRelationships({file, "", "", "dao36"});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Table, kChild);
  EXPECT_EQ(listed[0].Fields, std::vector<std::string>{"Kunde"});
  EXPECT_EQ(listed[0].RefTable, kParent);
  EXPECT_EQ(listed[0].RefFields, std::vector<std::string>{"ID"});
  EXPECT_TRUE(listed[0].CascadeDelete);
  EXPECT_FALSE(listed[0].CascadeUpdate);

  // The table writer now holds new rows to it, through the indexes in the definitions.
  EXPECT_EQ(AppendOrder(file, 5000, 2), "");
  const std::string refused = AppendOrder(file, 5001, 99);
  EXPECT_NE(refused.find("relationship KundenBestellpositionen"), std::string::npos) << refused;
  EXPECT_TRUE(jet::VerifyJetDatabase(file).sound()) << jet::VerifyJetDatabase(file).Text();
}

// A relationship the rows or the keys do not allow is refused with its reason, and the
// file is left as it was, byte for byte.
TEST(AccessRelationship, RefusedRelationshipsChangeNothing) {
  ScratchFolder dir;
  const std::string file = dir / "db.mdb";
  MakeDatabase(file);
  const std::string before = ReadFile(file);
  struct Case {
    jet::NewRelationship rel;
    const char* said;
  };
  const std::vector<Case> cases = {
      // Menge holds 2 .. 1800: most have no customer.
      {{"Lost", kChild, {"Menge"}, kParent, {"ID"}, false, false}, "has no record in Kunden"},
      {{"NotKey", kChild, {"Kunde"}, kParent, {"Name"}, false, false}, "are of different types"},
      {{"NotUnique", kParent, {"ID"}, kChild, {"Kunde"}, false, false},
       "no primary key or unique index"},
      {{"Memo", kChild, {"Kunde"}, kParent, {"Notiz"}, false, false}, "Memo or OLE"},
      {{"Self", kChild, {"Kunde"}, kChild, {"Nr"}, false, false}, "with itself"},
      {{"Nowhere", kChild, {"Kunde"}, "Lieferanten", {"ID"}, false, false}, "no table Lieferanten"},
      {{"Bad.Name", kChild, {"Kunde"}, kParent, {"ID"}, false, false}, "not a valid name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rel.name);
    try {
      Add(file, c.rel);
      ADD_FAILURE() << "made";
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ReadFile(file) == before);
  }
  // A name taken is refused the second time.
  Add(file, kOrders);
  try {
    Add(file, kOrders);
    ADD_FAILURE() << "made twice";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("already"), std::string::npos) << e.what();
  }
}

// The whole database into a new Access database: its relationship arrives, every table
// reads in mdb-reader, and our verifier finds nothing wrong.
TEST(AccessRelationship, WholeDatabaseIntoANewAccessDatabaseKeepsItsRelationship) {
  ScratchFolder dir;
  MakeDatabase(dir / "src.mdb");
  Add(dir / "src.mdb", kOrders);
  const CliRun run = RunCli(dir, {"--all-tables", "--create-database", "src.mdb", "out.mdb"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string out = dir / "out.mdb";
  EXPECT_NE(Schema(out).find("FOREIGN KEY (\"kunde\") REFERENCES \"Kunden\"(\"id\")"),
            std::string::npos)
      << Schema(out) << run.out << run.err;
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(out);
  EXPECT_TRUE(report.sound()) << report.Text();
  auto db = jet::JetDatabase::Open(out);
  for (const std::string& t : {kParent, kChild, kSizes}) {
    SCOPED_TRACE(t);
    auto source = jet::JetDatabase::Open(dir / "src.mdb");
    const std::vector<std::string> ours = jet_test::OurRows(*db, t);
    EXPECT_EQ(ours, jet_test::OurRows(*source, t));
    auto reader = db->OpenAnyTable(t);
    EXPECT_EQ(jet_test::ReaderRows(out, t, reader->fields()), ours);
  }
  const TRelationDefs listed = ListAccessRelationships({out, "", "", "dao36"});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Table, kChild);
  EXPECT_TRUE(listed[0].CascadeDelete);
}

}  // namespace
}  // namespace trundle

// Tables made with a primary key and unique indexes: the indexes Access would find, empty
// at first and then filled by the table writer with keys arriving in no order over many
// batches, checked by our verifier, mdb-schema and mdb-reader; and the indexes a new
// table cannot have, refused before anything is written.

#include <gtest/gtest.h>

#include <filesystem>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
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

const std::vector<NewColumn> kColumns = {
    {"A", jet::kLong}, {"B", jet::kText, 20}, {"C", jet::kLong}, {"Notes", jet::kMemo}};

TEST(JetNewIndex, KeysOfANewTableTakeScatteredRowsOverManyBatches) {
  for (const char* fixture : {"delTestV1997.mdb", "test2V2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    std::filesystem::copy_file(jet_test::Fixture(fixture), file);
    {
      auto store = jet::PageStore::Open(file);
      auto db = jet::JetDatabase::Open(file);
      jet::CreateTable(*store, *db, "Keyed", kColumns,
                       {NewIndex{"PrimaryKey", {0, 1}, true}, NewIndex{"ByC", {2}, false}});
    }
    ASSERT_TRUE(jet::VerifyJetDatabase(file).sound()) << jet::VerifyJetDatabase(file).Text();
    constexpr int kBatches = 12, kRows = 700;
    {
      auto store = jet::PageStore::Open(file);
      auto db = jet::JetDatabase::Open(file);
      auto writer = jet::TableWriter::Open(*store, *db, "Keyed");
      std::vector<Variant> row(4);
      for (int n = 0; n < kBatches * kRows; ++n) {
        const int key = int(int64_t(n) * 7919 % 100003);  // distinct, in no order
        row[0].SetInteger(key % 97);
        row[1].SetString(std::string(1, 'b').append(std::to_string(key)));
        row[2].SetInteger(key);
        row[3].SetNull();
        writer->Append(row);
        if ((n + 1) % kRows == 0) writer->Commit();
      }
      // Both keys refuse a row they hold already; the batch keeps what it had.
      for (const auto& [a, b, c, index] :
           {std::tuple{7919 % 97, "b7919", 1, "PrimaryKey"}, std::tuple{1, "new", 7919, "ByC"}}) {
        row[0].SetInteger(a);
        row[1].SetString(b);
        row[2].SetInteger(c);
        try {
          writer->Append(row);
          ADD_FAILURE() << index << " took a key it holds";
        } catch (const TrundleError& e) {
          EXPECT_NE(std::string(e.what()).find(std::string("index ") + index), std::string::npos)
              << e.what();
        }
      }
      writer->Commit();
    }
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(report.sound()) << report.Text();
    auto db = jet::JetDatabase::Open(file);
    const std::vector<std::string> ours = jet_test::OurRows(*db, "Keyed");
    EXPECT_EQ(ours.size(), size_t(kBatches * kRows));
    TFieldDefs fields;
    for (const NewColumn& c : kColumns) fields.push_back(TFieldDef{c.name});
    EXPECT_EQ(jet_test::ReaderRows(file, "Keyed", fields).size(), ours.size());
    const std::string schema = jet_test::Run("timeout 60 mdb-schema --indexes -T Keyed " +
                                             jet_test::Quote(file) + " postgres 2>&1");
    EXPECT_NE(schema.find("ADD CONSTRAINT \"keyed_pkey\" PRIMARY KEY (\"a\", \"b\")"),
              std::string::npos)
        << schema;
    EXPECT_NE(schema.find("CREATE UNIQUE INDEX \"keyed_byc_idx\" ON \"keyed\" (\"c\")"),
              std::string::npos)
        << schema;
  }
}

TEST(JetNewIndex, IndexesANewTableCannotHaveAreRefusedBeforeAnythingIsWritten) {
  ScratchFolder dir;
  const std::string file = dir / "t.mdb";
  std::filesystem::copy_file(jet_test::Fixture("test2V2000.mdb"), file);
  const std::string before = ReadFile(file);
  const std::vector<std::pair<std::vector<NewIndex>, std::string>> refusals = {
      {{NewIndex{"K", {3}, false}}, "Can't index field 'Notes': a Memo or OLE Object field"},
      {{NewIndex{"K", {0}, true}, NewIndex{"L", {2}, true}}, "Primary key already exists."},
      {{NewIndex{"K", {0}, false}, NewIndex{"k", {2}, false}}, "Index already exists."},
      {{NewIndex{"K", {0, 0}, false}}, "Can't define field more than once."},
      {{NewIndex{"K", {4}, false}}, "Invalid field definition in index."},
      {{NewIndex{"K", {}, false}}, "No field defined--cannot append TableDef or Index."},
      {{NewIndex{"K.1", {0}, false}},
       "'K.1' is not a valid name. Make sure that it does not include invalid characters or "
       "punctuation and that it is not too long."},
  };
  for (const auto& [indexes, message] : refusals) {
    SCOPED_TRACE(message);
    {
      auto store = jet::PageStore::Open(file);
      auto db = jet::JetDatabase::Open(file);
      try {
        jet::CreateTable(*store, *db, "Keyed", kColumns, indexes);
        ADD_FAILURE() << "made";
      } catch (const TrundleError& e) {
        EXPECT_EQ(std::string(e.what()), message);
      }
    }
    EXPECT_TRUE(ReadFile(file) == before);
  }
}

}  // namespace
}  // namespace trundle

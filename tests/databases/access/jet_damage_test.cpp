// Damaged databases: each read ends in values or in a TrundleError that names the file
// (and, past the header, the table and the cause); nothing crashes, hangs or reads outside
// a buffer (run these under AddressSanitizer too).

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

#include "databases/access/jet/jet_database.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::JetDatabase;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
}

struct Outcome {
  bool threw = false;
  std::string message;
  int64_t rows = 0;
};

// Opens the database and reads every table of its catalogue, system tables included.
Outcome ReadEverything(const std::string& path) {
  Outcome out;
  try {
    auto db = JetDatabase::Open(path);
    for (const std::string& table : db->AllTables()) {
      db->Columns(table);
      auto reader = db->OpenAnyTable(table);
      std::vector<Variant> row;
      while (reader->Next(row)) ++out.rows;
      reader->TakeNotes();
    }
  } catch (const TrundleError& e) {
    out.threw = true;
    out.message = e.what();
  }
  return out;
}

uint16_t Get16(const std::string& b, size_t at) {
  return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}
void Put16(std::string& b, size_t at, uint32_t v) {
  b[at] = char(v);
  b[at + 1] = char(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(v >> (8 * i));
}

// The first data page of the catalogue (MSysObjects, whose definition is page 2).
size_t CatalogDataPage(const std::string& db, size_t page_size) {
  for (size_t p = 3; (p + 1) * page_size <= db.size(); ++p)
    if (db[p * page_size] == 1 && db[p * page_size + 4] == 2 && db[p * page_size + 5] == 0 &&
        db[p * page_size + 6] == 0 && db[p * page_size + 7] == 0)
      return p;
  return 0;
}

class JetDamage : public ::testing::Test {
 protected:
  std::string Place(const std::string& bytes) {
    const std::string path = dir_ / "damaged.mdb";
    Spill(path, bytes);
    return path;
  }
  // The outcome must be values, or a message naming the file; never more rows than the
  // pages could hold.
  void ExpectValuesOrMessage(const std::string& bytes, const std::string& what) {
    const Outcome out = ReadEverything(Place(bytes));
    if (out.threw) {
      EXPECT_NE(out.message.find(dir_ / "damaged.mdb"), std::string::npos) << what;
    }
    EXPECT_LE(out.rows, int64_t(bytes.size() / 2048 + 1) * 255) << what;
  }
  std::string MessageFor(const std::string& bytes) {
    const Outcome out = ReadEverything(Place(bytes));
    EXPECT_TRUE(out.threw) << "read through";
    return out.message;
  }
  ScratchFolder dir_;
};

TEST_F(JetDamage, NotAJetFileAndMissingFilesAreNamed) {
  EXPECT_NE(MessageFor("").find("is not an Access database"), std::string::npos);
  EXPECT_NE(MessageFor(std::string(8192, 'x')).find("is not an Access database"),
            std::string::npos);
  const std::string missing = dir_ / "none.mdb";
  try {
    JetDatabase::Open(missing);
    FAIL() << "opened a missing file";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
  }
  std::string db = Slurp(jet_test::Fixture("testV1997.mdb"));
  db[0x14] = 9;
  EXPECT_NE(MessageFor(db).find("unknown version"), std::string::npos);
}

// Each structural fault named in the message with the table and the cause.
TEST_F(JetDamage, StructuralFaultsNameTableAndCause) {
  for (const char* name : {"testV1997.mdb", "delColTestV2000.mdb"}) {
    SCOPED_TRACE(name);
    const std::string good = Slurp(jet_test::Fixture(name));
    const bool jet3 = good[0x14] == 0;
    const size_t ps = jet3 ? 2048 : 4096;
    const size_t tdef = 2 * ps;

    std::string db = good;
    Put32(db, tdef + 4, 2);  // the definition continues on itself
    std::string m = MessageFor(db);
    EXPECT_NE(m.find("table MSysObjects: its definition pages form a loop"), std::string::npos)
        << m;

    db = good;
    Put16(db, tdef + (jet3 ? 25 : 45), 4000);  // more columns than the definition holds
    Put16(db, tdef + (jet3 ? 21 : 41), 4000);
    m = MessageFor(db);
    EXPECT_NE(m.find("table MSysObjects: its definition claims 4000 columns but holds fewer"),
              std::string::npos)
        << m;

    db = good;
    Put32(db, tdef + (jet3 ? 35 : 55), 0x7FFFFF00);  // usage map on a page past the end
    m = MessageFor(db);
    EXPECT_NE(m.find("table MSysObjects: its usage map lies on page"), std::string::npos) << m;

    db = good;
    const size_t data = CatalogDataPage(db, ps);
    ASSERT_NE(data, 0u);
    Put16(db, data * ps + (jet3 ? 10 : 14), 3);  // first row inside the page header
    m = MessageFor(db);
    EXPECT_NE(m.find("table MSysObjects: row 0 lies outside its page"), std::string::npos) << m;

    db = good;
    db = good;
    const size_t count_at = data * ps + (jet3 ? 8 : 12);
    ASSERT_GT(Get16(good, count_at), 0);
    Put16(db, count_at, 0xFFFF);  // more row offsets than the page holds
    m = MessageFor(db);
    EXPECT_NE(m.find("table MSysObjects: a page claims 65535 rows"), std::string::npos) << m;
  }
}

TEST_F(JetDamage, TruncatedCopiesOfEveryFixture) {
  for (const std::string& name : jet_test::FixtureNames()) {
    const std::string good = Slurp(jet_test::Fixture(name));
    const size_t ps = good[0x14] == 0 ? 2048 : 4096;
    for (size_t cut : {size_t(0), size_t(100), ps - 1, ps, 2 * ps + 7, 3 * ps, good.size() / 2,
                       good.size() - ps, good.size() - 1})
      ExpectValuesOrMessage(good.substr(0, std::min(cut, good.size())),
                            name + " cut at " + std::to_string(cut));
  }
}

// Random bytes written over random places, biased towards the pages that hold the
// structure (header, catalogue definition, the first data pages), with a fixed seed.
TEST_F(JetDamage, MutatedCopiesOfEveryFixture) {
  std::mt19937 rng(20261206);
  auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
  int errors = 0, read_through = 0;
  for (const std::string& name : jet_test::FixtureNames()) {
    const std::string good = Slurp(jet_test::Fixture(name));
    const size_t ps = good[0x14] == 0 ? 2048 : 4096;
    for (int it = 0; it < 60; ++it) {
      std::string db = good;
      const int hits = 1 + int(pick(8));
      for (int h = 0; h < hits; ++h) {
        const size_t page =
            pick(3) == 0 ? pick(db.size() / ps) : 1 + pick(std::min<size_t>(8, db.size() / ps - 1));
        const size_t at = page * ps + (pick(2) ? pick(96) : pick(ps));
        if (at < db.size()) db[at] = char(pick(256));
      }
      const Outcome out = ReadEverything(Place(db));
      out.threw ? ++errors : ++read_through;
      if (out.threw) {
        EXPECT_NE(out.message.find(dir_ / "damaged.mdb"), std::string::npos);
      }
      EXPECT_LE(out.rows, int64_t(db.size() / ps + 1) * 255) << name << " case " << it;
    }
  }
  // Both outcomes occur: the mutations reach the structure, and some leave it readable.
  EXPECT_GT(errors, 0);
  EXPECT_GT(read_through, 0);
}

}  // namespace
}  // namespace trundle

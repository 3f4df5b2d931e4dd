// The header: version, code page, the database password, pages encoded with the header's
// key, and encrypted .accdb files refused. The encoded and password copies are made here
// from the fixtures, and mdb-export and mdb-reader confirm that they are what Access
// writes (both read the encoded copies, mdb-reader decodes the password).

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_pages.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::JetDatabase;
using jet::JetVersion;

constexpr uint8_t kMask[4] = {0xC7, 0xDA, 0x39, 0x6B};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), std::streamsize(bytes.size()));
}

uint8_t* Bytes(std::string& s, size_t at) { return reinterpret_cast<uint8_t*>(&s[at]); }

bool IsJet3(const std::string& db) { return db[0x14] == 0; }

// Unmasks the header area, lets edit change it, masks it again.
template <typename Edit>
void EditHeader(std::string& db, Edit edit) {
  const size_t n = IsJet3(db) ? 126 : 128;
  jet::Rc4(kMask, 4, Bytes(db, 0x18), n);
  edit();
  jet::Rc4(kMask, 4, Bytes(db, 0x18), n);
}

// A copy whose pages after the first are encoded with key, as Access's "encode database".
std::string Encoded(std::string db, uint32_t key) {
  const size_t ps = IsJet3(db) ? 2048 : 4096;
  EditHeader(db, [&] { std::memcpy(&db[0x3E], &key, 4); });
  for (size_t p = 1; (p + 1) * ps <= db.size(); ++p) {
    const uint32_t k = key ^ uint32_t(p);
    const uint8_t kb[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
    jet::Rc4(kb, 4, Bytes(db, p * ps), ps);
  }
  return db;
}

// A copy with a database password: Jet 3 plain text, Jet 4 UTF-16 masked with the whole
// days of the creation date.
std::string WithPassword(std::string db, const std::u16string& password) {
  EditHeader(db, [&] {
    if (IsJet3(db)) {
      std::memset(&db[0x42], 0, 20);
      for (size_t i = 0; i < password.size(); ++i) db[0x42 + i] = char(password[i]);
    } else {
      double created;
      std::memcpy(&created, &db[0x72], 8);
      const uint32_t mask = uint32_t(int32_t(std::floor(created)));
      for (size_t i = 0; i < 40; ++i) {
        const char16_t c = i / 2 < password.size() ? password[i / 2] : 0;
        db[0x42 + i] = char(uint8_t(i % 2 ? c >> 8 : c) ^ uint8_t(mask >> (8 * (i % 4))));
      }
    }
  });
  return db;
}

TEST(JetHeader, VersionCodePageAndSortOrder) {
  auto jet3 = JetDatabase::Open(jet_test::Fixture("testV1997.mdb"));
  EXPECT_EQ(jet3->version(), JetVersion::kJet3);
  EXPECT_TRUE(jet3->is_jet3());
  EXPECT_EQ(jet3->code_page(), 1252);
  EXPECT_EQ(jet3->sort_order(), 0x409);
  auto jet4 = JetDatabase::Open(jet_test::Fixture("testUnicodeCompV2003.mdb"));
  EXPECT_EQ(jet4->version(), JetVersion::kJet4);
  EXPECT_FALSE(jet4->is_jet3());
  EXPECT_EQ(jet4->sort_order(), 0x409);
  EXPECT_FALSE(jet4->has_password());
  EXPECT_FALSE(jet4->is_encoded());
  EXPECT_TRUE(jet4->CheckPassword(""));
  EXPECT_FALSE(jet4->CheckPassword("x"));
}

TEST(JetHeader, EncodedDatabasesReadAsTheirPlainCopies) {
  ScratchFolder dir;
  for (const char* name : {"testV1997.mdb", "test2V2000.mdb", "overflowTestV2000.mdb"}) {
    SCOPED_TRACE(name);
    const std::string path = dir / (std::string("encoded_") + name);
    Spill(path, Encoded(Slurp(jet_test::Fixture(name)), 0x5A17C3E9));
    auto plain = JetDatabase::Open(jet_test::Fixture(name));
    auto encoded = JetDatabase::Open(path);
    EXPECT_TRUE(encoded->is_encoded());
    ASSERT_EQ(encoded->UserTables(), plain->UserTables());
    EXPECT_EQ(jet_test::ReaderTables(path), plain->UserTables());
    for (const std::string& table : plain->UserTables()) {
      const auto rows = jet_test::OurRows(*encoded, table);
      EXPECT_EQ(rows, jet_test::OurRows(*plain, table));
      auto reader = encoded->OpenTable(table);
      auto oracle = jet_test::ReaderRows(path, table, reader->fields());
      std::sort(oracle.begin(), oracle.end());
      auto sorted = rows;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(sorted, oracle) << table;
    }
  }
}

TEST(JetHeader, PasswordsCompareCaseSensitively) {
  ScratchFolder dir;
  for (const char* name : {"testV1997.mdb", "delTestV2000.mdb"}) {
    SCOPED_TRACE(name);
    const std::string path = dir / (std::string("password_") + name);
    Spill(path, WithPassword(Slurp(jet_test::Fixture(name)), u"Sesam123"));
    EXPECT_EQ(jet_test::Run("node " +
                            jet_test::Quote(std::string(TRUNDLE_SOURCE_DIR) +
                                            "/tests/oracles/mdb_table.mjs") +
                            " " + jet_test::Quote(path) + " --password"),
              "Sesam123");
    auto db = JetDatabase::Open(path);
    EXPECT_TRUE(db->has_password());
    EXPECT_TRUE(db->CheckPassword("Sesam123"));
    EXPECT_FALSE(db->CheckPassword("sesam123"));
    EXPECT_FALSE(db->CheckPassword("Sesam12"));
    EXPECT_FALSE(db->CheckPassword(""));
    // A password encrypts nothing: the tables read as before.
    EXPECT_EQ(db->UserTables(), JetDatabase::Open(jet_test::Fixture(name))->UserTables());
  }
  // The whole 20 characters a Jet 4 password may have.
  const std::string path = dir / "long.mdb";
  Spill(path,
        WithPassword(Slurp(jet_test::Fixture("delTestV2000.mdb")), u"ABCDEFGHIJ\u00e9LMNOPQRS"));
  EXPECT_TRUE(JetDatabase::Open(path)->CheckPassword("ABCDEFGHIJ\xc3\xa9LMNOPQRS"));
}

TEST(JetHeader, EncryptedAccdbIsRefusedWithAMessage) {
  ScratchFolder dir;
  std::string db = Slurp(jet_test::Fixture("delTestV2000.mdb"));
  db[0x14] = 3;  // an Access 2010 file ...
  std::memcpy(&db[4], "Standard ACE DB", 15);
  EditHeader(db, [&] { db[0x3E] = 0x21; });  // ... whose key says it is encrypted
  const std::string path = dir / "locked.accdb";
  Spill(path, db);
  try {
    JetDatabase::Open(path);
    FAIL() << "opened an encrypted database";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()), path +
                                         " is encrypted with a password; encrypted Access "
                                         "databases cannot be read");
  }
  // The same file unencrypted opens as Access 2010.
  EditHeader(db, [&] { db[0x3E] = 0; });
  Spill(path, db);
  auto plain = JetDatabase::Open(path);
  EXPECT_EQ(plain->version(), JetVersion::kAce14);
  EXPECT_EQ(plain->UserTables(), std::vector<std::string>{"Table"});
}

}  // namespace
}  // namespace trundle

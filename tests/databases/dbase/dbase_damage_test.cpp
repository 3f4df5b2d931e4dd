// Damaged tables: each damage gives a TrundleError that names the file and the cause,
// never a crash, a hang or a read outside the file. Also what a crash during a write
// leaves behind.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "databases/dbase/dbase_file.h"
#include "engine/errors.h"
#include "tests/databases/dbase/dbase_test_util.h"

namespace trundle {
namespace {

// Reads the whole table; returns the error message, or "" when it read to the end.
std::string ReadError(const std::string& path) {
  try {
    dbase_test::ReadAll(path, {"CP1252"});
    return {};
  } catch (const TrundleError& e) {
    return e.what();
  }
}

struct DamageCase {
  const char* name;
  const char* fixture;
  bool memo;  // damage the memo file instead of the table
  std::function<void(std::string&)> damage;
  const char* message;  // after "PATH is damaged: " (or the whole text after the path)
};

TEST(DBaseDamageTest, EachDamageHasItsMessage) {
  const std::vector<DamageCase> cases = {
      {"truncated mid-record", "dbase_03.dbf", false,
       [](std::string& b) { b.resize(1025 + 3 * 590 + 20); },
       " is damaged: the header says 14 records of 590 bytes but the file ends after 3 records "
       "and 20 bytes of the next"},
      {"header only", "dbase_03.dbf", false, [](std::string& b) { b.resize(20); },
       " is damaged: the file is 20 bytes long, too short for a dBase header"},
      {"header bigger than file", "cp1251.dbf", false,
       [](std::string& b) {
         b[8] = '\xFF';
         b[9] = '\x7F';
       },
       " is damaged: the header says it takes 32767 bytes but the file has 781"},
      {"no descriptor terminator", "dbase_03.dbf", false, [](std::string& b) { b[1024] = 'X'; },
       " is damaged: the field descriptors have no 0x0D terminator"},
      {"record smaller than fields", "cp1251.dbf", false,
       [](std::string& b) {
         b[10] = 50;
         b[11] = 0;
       },
       " is damaged: the fields take 105 bytes but the header gives records 50"},
      {"garbage in a number", "cp1251.dbf", false,
       [](std::string& b) { std::memcpy(&b[360 + 105 + 1], "1x3 ", 4); },
       " is damaged: record 2, field RN holds '1x3 ', which is not a number"},
      {"not a dBase file", "cp1251.dbf", false, [](std::string& b) { b[0] = 'P'; },
       " is not a dBase table (its first byte is 0x50)"},
      {"date of wrong width", "dbase_03.dbf", false,
       [](std::string& b) { b[32 + 8 * 32 + 16] = 9; },
       " is damaged: field 9 (Date_Visit, type D) is 9 bytes wide"},
      {"memo pointer past the end", "dbase_8b.dbf", false,
       [](std::string& b) { std::memcpy(&b[225 + 150], "    999999", 10); },
       ".dbt is damaged: a memo pointer names block 999999, past the end of the file"},
      {"memo length off the file", "dbase_8b.dbt", true,
       [](std::string& b) { std::memcpy(&b[512 + 4], "\xFF\xFF\x00\x00", 4); },
       ".dbt is damaged: the memo in block 1 says it holds 65527 bytes, which runs past the end "
       "of the file"},
      {"FoxPro block size 0", "dbase_30.fpt", true,
       [](std::string& b) {
         b[6] = 0;
         b[7] = 0;
       },
       ".fpt is damaged: its header gives a block size of 0"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    const std::string fixture = c.fixture;
    const std::string table_name = fixture.substr(0, fixture.rfind('.')) + ".dbf";
    const std::string table = dbase_test::CopyFixture(dir, table_name);
    const std::string target = dir / fixture;
    std::string bytes = ReadFile(target);
    c.damage(bytes);
    WriteFile(target, bytes);
    const std::string named = c.memo || std::string(c.message).rfind(".dbt", 0) == 0
                                  ? table.substr(0, table.size() - 4)
                                  : table;
    EXPECT_EQ(ReadError(table), named + c.message);
  }
}

// Mutations of every fixture: random bytes in the header, the descriptors, the records and
// the memo file, and truncation at every interesting offset. Each read ends with values
// or a TrundleError.
TEST(DBaseDamageTest, MutationsEndWithValuesOrAMessage) {
  std::mt19937 random(20240601);
  int runs = 0, errors = 0;
  for (const char* name :
       {"dbase_03.dbf", "dbase_83.dbf", "dbase_8b.dbf", "dbase_30.dbf", "cp1251.dbf"}) {
    ScratchFolder dir;
    const std::string table = dbase_test::CopyFixture(dir, name);
    const std::string memo =
        table.substr(0, table.size() - 4) + (std::string(name) == "dbase_30.dbf" ? ".fpt" : ".dbt");
    const bool has_memo = std::filesystem::exists(memo);
    const std::string table_bytes = ReadFile(table);
    const std::string memo_bytes = has_memo ? ReadFile(memo) : "";
    const size_t header = static_cast<unsigned char>(table_bytes[8]) |
                          (static_cast<unsigned char>(table_bytes[9]) << 8);
    auto run = [&](const std::string& t, const std::string& m) {
      WriteFile(table, t);
      if (has_memo) WriteFile(memo, m);
      const std::string error = ReadError(table);
      ++runs;
      if (!error.empty()) ++errors;
      // Messages name the table or its memo file.
      EXPECT_TRUE(error.empty() || error.find(dir.path()) != std::string::npos) << error;
    };
    // Truncations: inside the header, at each descriptor, around the first records.
    for (size_t cut : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, header - 1, header, header + 1,
                       table_bytes.size() - 1})
      if (cut <= table_bytes.size()) run(table_bytes.substr(0, cut), memo_bytes);
    for (size_t cut = 32; cut < header; cut += 32) run(table_bytes.substr(0, cut), memo_bytes);
    if (has_memo)
      for (size_t cut : {size_t{0}, size_t{8}, size_t{23}, size_t{600}, memo_bytes.size() / 2})
        run(table_bytes, memo_bytes.substr(0, std::min(cut, memo_bytes.size())));
    // Random bytes: header, descriptors, records, memo file.
    for (int i = 0; i < 120; ++i) {
      std::string t = table_bytes, m = memo_bytes;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int k = 0; k < flips; ++k) {
        const unsigned region = random() % 4;
        const char value = static_cast<char>(random() % 256);
        if (region == 0)
          t[random() % 32] = value;
        else if (region == 1)
          t[32 + random() % (header - 32)] = value;
        else if (region == 2 || m.empty())
          t[header + random() % (t.size() - header)] = value;
        else
          m[random() % std::min<size_t>(m.size(), 4096)] = value;
      }
      run(t, m);
    }
  }
  EXPECT_GT(errors, 0);
  std::printf("%d mutated tables read, %d gave a message\n", runs, errors);
}

// A copy taken while the writer is still appending (the state a crash leaves) reads back
// whole records only: every record the header claims is complete and correct.
TEST(DBaseDamageTest, CopyDuringWriteHoldsOnlyWholeRecords) {
  ScratchFolder dir;
  const std::string path = dir / "crash.dbf";
  CreateDBaseTable(path, {{"N", ftInteger}, {"NOTE", ftMemo}, {"T", ftString, 10}}, {});
  auto writer = AppendToDBaseTable(path, {});
  for (int extra : {0, 1, 999}) {
    const int total = 2000 + extra;
    writer = nullptr;
    std::filesystem::remove(path);
    std::filesystem::remove(dir / "crash.dbt");
    std::filesystem::remove(dir / "crash.cpg");
    CreateDBaseTable(path, {{"N", ftInteger}, {"NOTE", ftMemo}, {"T", ftString, 10}}, {});
    writer = AppendToDBaseTable(path, {});
    for (int i = 0; i < total; ++i)
      writer->Append({Variant::Integer(i), Variant::String("memo " + std::to_string(i)),
                      Variant::String("row" + std::to_string(i))});
    SCOPED_TRACE(total);
    ScratchFolder copy;
    for (const char* f : {"crash.dbf", "crash.dbt", "crash.cpg"})
      std::filesystem::copy_file(dir / f, copy / f);
    const dbase_test::Rows rows = dbase_test::ReadAll(copy / "crash.dbf");
    EXPECT_GE(rows.size(), 2000u);
    EXPECT_LE(rows.size(), static_cast<size_t>(total));
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i][0], Variant::Integer(static_cast<int64_t>(i)));
      ASSERT_EQ(rows[i][1].text(), "memo " + std::to_string(i));
      ASSERT_EQ(rows[i][2].text(), "row" + std::to_string(i));
    }
  }
  writer->Close();
}

}  // namespace
}  // namespace trundle

// Damaged tables: each damage gives a TrundleError that names the file and the cause,
// never a crash, a hang or a read outside the file. Also what a crash during a write
// leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "databases/dbase/dbase_file.h"
#include "engine/errors.h"
#include "engine/file_lock.h"
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

// A run killed after it wrote records but before the header's new count leaves records
// (and perhaps part of one) after those the header counts. Readers go by the count; the
// next writer says what it found there, drops it and appends after the counted records.
TEST(DBaseDamageTest, RecordsPastTheHeadersCountAreDroppedAndSaid) {
  struct Case {
    const char* name;
    int extra;       // records appended after the header was taken
    bool cut_short;  // the file then ends half way through the last of them
    const char* what;
  } cases[] = {
      {"whole records and the end mark", 1500, false, "1500 records"},
      {"and one cut short", 1500, true, "1499 records and 15 bytes of another"},
      {"only one cut short", 1, true, "15 bytes of a record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    const std::string path = dir / "t.dbf";
    CreateDBaseTable(path, {{"N", ftInteger}, {"T", ftString, 8}, {"NOTE", ftMemo}}, {});
    auto writer = AppendToDBaseTable(path, {});
    for (int i = 0; i < 10; ++i)
      writer->Append({Variant::Integer(i), Variant::String("old"), Variant::String("memo")});
    writer->Close();
    EXPECT_EQ(writer->TakeRepairs(), std::vector<std::string>{});
    const std::string sound = ReadFile(path);
    const size_t record_size = static_cast<unsigned char>(sound[10]);
    ASSERT_EQ(record_size, 30u);  // the cut below takes half of one
    writer = AppendToDBaseTable(path, {});
    for (int i = 0; i < c.extra; ++i)
      writer->Append({Variant::Integer(100 + i), Variant::String("killed"), Variant::String("m")});
    writer->Close();
    std::string left = ReadFile(path);
    left.replace(0, 32, sound, 0, 32);  // the count from before the run
    if (c.cut_short) left.resize(left.size() - 1 - record_size / 2);
    WriteFile(path, left);
    ASSERT_EQ(dbase_test::ReadAll(path).size(), 10u);

    writer = AppendToDBaseTable(path, {});
    EXPECT_EQ(writer->TakeRepairs(),
              std::vector<std::string>{path + " holds " + c.what +
                                       " after the 10 records its header counts, left by a run "
                                       "that did not finish; they are dropped, and the new "
                                       "records follow those 10"});
    EXPECT_EQ(writer->TakeRepairs(), std::vector<std::string>{});
    writer->Append({Variant::Integer(50), Variant::String("new"), Variant::String("memo 50")});
    writer->Close();
    const dbase_test::Rows rows = dbase_test::ReadAll(path);
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[9][1].text(), "old");
    EXPECT_EQ(rows[10][0], Variant::Integer(50));
    EXPECT_EQ(rows[10][2].text(), "memo 50");
    EXPECT_EQ(ReadFile(path).size(), sound.size() + record_size);
  }
}

// While a writer is open, a second writer of the table or of its memo file is refused
// with the message; readers are not held up, and a reader closing its own descriptor
// of the file leaves the writer's hold.
TEST(DBaseDamageTest, ASecondWriterIsRefusedAndReadersAreNot) {
  ScratchFolder dir;
  const std::string path = dir / "t.dbf";
  CreateDBaseTable(path, {{"N", ftInteger}, {"NOTE", ftMemo}}, {});
  auto refusal = [](const std::string& file) {
    try {
      AppendToDBaseTable(file.substr(0, file.size() - 4) + ".dbf", {});
    } catch (const BeingWrittenError& e) {
      return std::string(e.what());
    }
    return std::string("not refused");
  };
  const std::string message =
      " is being written by another program; try again when it has finished";
  auto writer = AppendToDBaseTable(path, {});
  writer->Append({Variant::Integer(1), Variant::String("one")});
  writer->Flush();
  EXPECT_EQ(dbase_test::ReadAll(path).size(), 1u);
  EXPECT_EQ(refusal(path), path + message);
  writer->Close();

  const std::string memo = dir / "t.dbt";
  const int fd = open(memo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(TryLockForWriting(fd, memo));
  const std::string before = ReadFile(path);
  EXPECT_EQ(refusal(path), memo + message);
  EXPECT_EQ(ReadFile(path), before);
  close(fd);
  EXPECT_EQ(refusal(path), "not refused");
}

}  // namespace
}  // namespace trundle

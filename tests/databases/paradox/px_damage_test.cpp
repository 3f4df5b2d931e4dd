// Damaged and hostile input: each case ends with values or a TrundleError naming the file
// and the cause; and a crash while writing leaves a table of whole records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "databases/paradox/paradox_file.h"
#include "databases/paradox/px_format.h"
#include "engine/errors.h"
#include "engine/file_lock.h"
#include "px_test_util.h"

namespace trundle {
namespace {

using pxtest::Def;

constexpr int kSeedRows = 2000;

// A table of several 16 KB blocks with memos in the record, in small-blob blocks and in
// blocks of their own.
void MakeSeed(const std::string& path) {
  CreateParadoxTable(
      path, {Def("N", ftInteger), Def("T", ftString, 10), Def("M", ftMemo), Def("B", ftBlob)}, {});
  auto writer = AppendToParadoxTable(path, {});
  for (int i = 0; i < kSeedRows; ++i)
    writer->Append(
        {Variant::Integer(i), Variant::String("row" + std::to_string(i)),
         Variant::String(std::string(static_cast<size_t>(i % 7 == 0 ? 3000 : i % 50), 'm')),
         Variant::Blob(std::string(static_cast<size_t>(i % 11), static_cast<char>(i)))});
  writer->Close();
}

struct Outcome {
  bool threw = false;
  std::string message;
  int64_t rows = 0;
};

Outcome ReadThrough(const std::string& path) {
  Outcome out;
  try {
    auto reader = OpenParadoxTable(path, {});
    std::vector<Variant> row;
    while (reader->Next(row)) ++out.rows;
    reader->TakeNotes();
  } catch (const TrundleError& e) {
    out.threw = true;
    out.message = e.what();
  }
  return out;
}

class ParadoxDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSeed(dir_ / "seed.db");
    seed_db_ = ReadFile(dir_ / "seed.db");
    seed_mb_ = ReadFile(dir_ / "seed.mb");
    header_size_ = paradox::GetLe16(seed_db_.data() + 2);
  }
  // Writes a case's files as t.db and t.mb (no .mb when mb is null).
  std::string Place(const std::string& db, const std::string* mb) {
    const std::string path = dir_ / "t.db";
    WriteFile(path, db);
    std::filesystem::remove(dir_ / "t.mb");
    if (mb) WriteFile(dir_ / "t.mb", *mb);
    return path;
  }
  size_t BlockAt(int n) const { return header_size_ + static_cast<size_t>(n - 1) * 16384; }

  ScratchFolder dir_;
  std::string seed_db_, seed_mb_;
  size_t header_size_ = 0;
};

TEST_F(ParadoxDamage, EachDamageGivesItsCause) {
  struct Case {
    const char* name;
    std::function<void(std::string& db, std::string& mb, bool& keep_mb)> damage;
    const char* cause;
  } cases[] = {
      {"cut inside the header", [](std::string& db, std::string&, bool&) { db.resize(100); },
       "header size 2048 does not fit the file"},
      {"cut inside the blocks",
       [](std::string& db, std::string&, bool&) { db.resize(db.size() - 20000); },
       "the file is cut short"},
      {"header size beyond the file",
       [](std::string& db, std::string&, bool&) { paradox::PutLe16(db.data() + 2, 0xF0000 >> 4); },
       "the file is cut short"},
      {"header size too small",
       [](std::string& db, std::string&, bool&) { paradox::PutLe16(db.data() + 2, 0x100); },
       "field names run past the header"},
      {"record size not matching fields",
       [](std::string& db, std::string&, bool&) { paradox::PutLe16(db.data(), 45); },
       "does not match its fields"},
      {"more records than blocks hold",
       [](std::string& db, std::string&, bool&) { paradox::PutLe32(db.data() + 6, 1000000); },
       "more than its 6 blocks can hold"},
      {"chain loops",
       [this](std::string& db, std::string&, bool&) {
         paradox::PutLe16(db.data() + BlockAt(3), 2);
       },
       "loops back to block 2"},
      {"chain leaves the file",
       [this](std::string& db, std::string&, bool&) {
         paradox::PutLe16(db.data() + BlockAt(2), 900);
       },
       "points to block 900, outside the file"},
      {"chain ends early",
       [this](std::string& db, std::string&, bool&) {
         paradox::PutLe16(db.data() + BlockAt(2), 0);
       },
       "of the 2000 records its header claims"},
      {"encrypted",
       [](std::string& db, std::string&, bool&) { paradox::PutLe32(db.data() + 0x5C, 0x1234); },
       "is encrypted"},
      {"memo file missing", [](std::string&, std::string&, bool& keep) { keep = false; },
       "needs its memo file"},
      {"memo file short", [](std::string&, std::string& mb, bool&) { mb.resize(mb.size() / 2); },
       "t.mb of the Paradox table"},
      {"blob block overwritten",
       [](std::string&, std::string& mb, bool&) { std::fill(mb.begin() + 4096, mb.end(), '\x04'); },
       "block of type 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string db = seed_db_, mb = seed_mb_;
    bool keep_mb = true;
    c.damage(db, mb, keep_mb);
    const std::string path = Place(db, keep_mb ? &mb : nullptr);
    const Outcome out = ReadThrough(path);
    ASSERT_TRUE(out.threw) << "read " << out.rows << " rows";
    EXPECT_NE(out.message.find(c.cause), std::string::npos) << out.message;
    EXPECT_NE(out.message.find(path), std::string::npos) << out.message;
  }
}

// Random damage. PX_FUZZ_ITERATIONS sets the number of cases (for longer runs by hand).
TEST_F(ParadoxDamage, RandomDamageEndsWithValuesOrAnError) {
  const char* env = std::getenv("PX_FUZZ_ITERATIONS");
  const int iterations = env ? std::atoi(env) : 400;
  std::mt19937 rng(20240611);
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  int errors = 0, completed = 0;
  for (int it = 0; it < iterations; ++it) {
    std::string db = seed_db_, mb = seed_mb_;
    bool keep_mb = true;
    const int kind = static_cast<int>(pick(6));
    const int hits = 1 + static_cast<int>(pick(4));
    for (int h = 0; h < hits; ++h) {
      const char byte = static_cast<char>(pick(256));
      switch (kind) {
        case 0:
          db[pick(std::min<size_t>(db.size(), 0x90))] = byte;
          break;  // fixed header
        case 1:
          db[pick(header_size_)] = byte;
          break;  // whole header
        case 2:
          db[BlockAt(1 + static_cast<int>(pick(6))) + pick(6)] = byte;
          break;  // chain
        case 3:
          db.resize(pick(db.size()));
          break;  // truncation
        case 4:
          mb[pick(mb.size())] = byte;
          break;  // memo file
        default:
          if (pick(2))
            keep_mb = false;
          else
            mb.resize(pick(mb.size()));
      }
    }
    const Outcome out = ReadThrough(Place(db, keep_mb ? &mb : nullptr));
    if (out.threw) {
      ++errors;
      EXPECT_NE(out.message.find(dir_ / "t."), std::string::npos) << out.message;
    } else {
      ++completed;
    }
  }
  std::printf("fuzz: %d cases, %d errors, %d read through\n", iterations, errors, completed);
}

// The writer flushes every 1000 records: a copy taken mid-write, as a crash would leave the
// files, reads back exactly the records its header claims, each whole.
TEST(ParadoxCrash, CopyTakenMidWriteHoldsOnlyWholeRecords) {
  ScratchFolder dir;
  const std::string path = dir / "live.db";
  CreateParadoxTable(path, {Def("N", ftInteger), Def("T", ftString, 60), Def("M", ftMemo)}, {});
  auto writer = AppendToParadoxTable(path, {});
  auto value_of = [](int i) {
    return "value " + std::to_string(i) + std::string(static_cast<size_t>(i % 40), '+');
  };
  int written = 0;
  for (int stop : {1, 999, 1000, 2500, 4321}) {
    for (; written < stop; ++written)
      writer->Append({Variant::Integer(written), Variant::String(value_of(written)),
                      Variant::String(std::string(static_cast<size_t>(written % 2500), 'x'))});
    const std::string copy = dir / "copy.db";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(dir / "live.mb", dir / "copy.mb",
                               std::filesystem::copy_options::overwrite_existing);
    SCOPED_TRACE("after " + std::to_string(stop) + " records");
    const auto rows = pxtest::ReadAll(copy);
    EXPECT_EQ(rows.size(), static_cast<size_t>(stop / 1000 * 1000));
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i][0], Variant::Integer(static_cast<int64_t>(i)));
      ASSERT_EQ(rows[i][1], Variant::String(value_of(static_cast<int>(i))));
      ASSERT_EQ(rows[i][2].ToText(), std::string(i % 2500, 'x'));
    }
  }
  writer->Close();
  EXPECT_EQ(pxtest::ReadAll(path).size(), static_cast<size_t>(written));
}

// A run killed after it wrote its blocks but before the header leaves records the header
// does not count, in the last counted block and in blocks chained after it. Readers go by
// the header; the next writer says how many it found, drops them (and their blocks at the
// end of the file) and appends after the counted records.
TEST(ParadoxCrash, RecordsPastTheHeadersCountAreDroppedAndSaid) {
  for (const int counted : {0, 2000}) {
    SCOPED_TRACE(counted);
    ScratchFolder dir;
    const std::string path = dir / "t.db";
    CreateParadoxTable(path, {Def("N", ftInteger), Def("T", ftString, 10), Def("M", ftMemo)}, {});
    auto writer = AppendToParadoxTable(path, {});
    for (int i = 0; i < counted; ++i)
      writer->Append({Variant::Integer(i), Variant::String("old"), Variant::String("memo")});
    writer->Close();
    EXPECT_EQ(writer->TakeRepairs(), std::vector<std::string>{});
    const std::string sound = ReadFile(path);
    const size_t header_size = paradox::GetLe16(sound.data() + 2);
    writer = AppendToParadoxTable(path, {});
    for (int i = 0; i < 2345; ++i)
      writer->Append({Variant::Integer(-i), Variant::String("killed"), Variant::String("m")});
    writer->Close();
    std::string left = ReadFile(path);
    ASSERT_GT(left.size(), sound.size() + 16384);  // blocks were added
    left.replace(0, header_size, sound, 0, header_size);
    WriteFile(path, left);
    ASSERT_EQ(pxtest::ReadAll(path).size(), static_cast<size_t>(counted));

    writer = AppendToParadoxTable(path, {});
    const std::string n = std::to_string(counted);
    EXPECT_EQ(writer->TakeRepairs(),
              std::vector<std::string>{path + " holds 2345 records in its blocks after the " + n +
                                       " records its header counts, left by a run that did not "
                                       "finish; they are dropped, and the new records follow "
                                       "those " +
                                       n});
    writer->Append({Variant::Integer(7777), Variant::String("new"), Variant::String("memo 7")});
    writer->Close();
    const auto rows = pxtest::ReadAll(path);
    ASSERT_EQ(rows.size(), static_cast<size_t>(counted) + 1);
    if (counted > 0) {
      EXPECT_EQ(rows[counted - 1][1], Variant::String("old"));
    }
    EXPECT_EQ(rows[counted][0], Variant::Integer(7777));
    EXPECT_EQ(rows[counted][2], Variant::String("memo 7"));
    // The new record went into the last counted block, or the first after them.
    EXPECT_EQ(ReadFile(path).size(), std::max(sound.size(), header_size + 16384));
  }
}

// While a writer is open, another is refused with the message and the table is not
// touched; a reader reads what the header counts.
TEST(ParadoxCrash, ASecondWriterIsRefusedAndReadersAreNot) {
  ScratchFolder dir;
  const std::string path = dir / "t.db";
  CreateParadoxTable(path, {Def("N", ftInteger), Def("M", ftMemo)}, {});
  auto writer = AppendToParadoxTable(path, {});
  writer->Append({Variant::Integer(1), Variant::String("one")});
  writer->Flush();
  const std::string before = ReadFile(path);
  try {
    AppendToParadoxTable(path, {});
    ADD_FAILURE() << "a second writer was let in";
  } catch (const BeingWrittenError& e) {
    EXPECT_EQ(std::string(e.what()),
              path + " is being written by another program; try again when it has finished");
  }
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(pxtest::ReadAll(path).size(), 1u);
  writer->Append({Variant::Integer(2), Variant::String("two")});
  writer->Close();
  EXPECT_EQ(pxtest::ReadAll(path).size(), 2u);
  EXPECT_NO_THROW(AppendToParadoxTable(path, {})->Close());
}

}  // namespace
}  // namespace trundle

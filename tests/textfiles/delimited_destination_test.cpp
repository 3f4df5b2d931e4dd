// A delimited file as the job drives a destination: PrepareDestination, OpenTable,
// WriteRecord per record, SaveTable. Records go to a hidden file as they arrive; the file
// changes only at SaveTable; what is not a regular file is written straight through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "engine/errors.h"
#include "engine/file_lock.h"
#include "tests/test_files.h"
#include "textfiles/file_output.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

namespace fs = std::filesystem;

struct Destination {
  TTrundleCsv csv;
  std::vector<std::string> log;
  bool opened = false;

  explicit Destination(const std::string& path) {
    csv.TableName = path;
    csv.OnMessage = [this](const std::string& m) { log.push_back(m); };
    csv.PrepareDestination();
    opened = csv.OpenTable();
    if (!opened) csv.Table.FieldNames = {"NAME", "QTY"};  // as CreateTable would
  }
  void Write(const std::string& name, int64_t qty) {
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    names[0].SetString("Name");
    values[0].SetString(name);
    names[1].SetString("qty");
    values[1].SetInteger(qty);
    csv.WriteRecord(names, values);
  }
};

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

constexpr char kOld[] = "\"NAME\",\"QTY\"\r\n\"a\",\"1\"\r\n\"b\",\"2\"\r\n";

TEST(DelimitedDestinationTest, RecordsGoToAHiddenFileAndTheFileChangesOnlyAtSaveTable) {
  ScratchFolder dir;
  WriteFile(dir / "t.csv", kOld);
  const std::string value(60, 'v');
  {
    Destination d(dir / "t.csv");
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.log, (std::vector<std::string>{"Reading table", "2 records read"}));
    // More than the writer buffers, so that some of it must be on disk already.
    for (int i = 0; i < 40000; ++i) d.Write(value, i);
    EXPECT_EQ(d.csv.Table.DataRecordCount(), 0);  // nothing held in memory
    EXPECT_EQ(ReadFile(dir / "t.csv"), kOld);
    const auto entries = Entries(dir.path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].substr(0, 7), ".t.csv.");
    EXPECT_GT(fs::file_size(dir / entries[0]), 1u << 20);
    d.csv.SaveTable();
    EXPECT_EQ(d.log.back(), "40002 records written");
  }
  const std::string text = ReadFile(dir / "t.csv");
  EXPECT_EQ(text.substr(0, sizeof kOld - 1), kOld);
  const std::string first = "\"" + value + "\",\"0\"\r\n";
  const std::string last = "\"" + value + "\",\"39999\"\r\n";
  EXPECT_EQ(text.substr(sizeof kOld - 1, first.size()), first);
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.csv"});

  // A run that ends without SaveTable (stopped, or failed) leaves the file as it was.
  {
    Destination d(dir / "t.csv");
    d.Write("gone", 1);
  }
  EXPECT_EQ(ReadFile(dir / "t.csv"), text);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.csv"});

  // A missing file is created with the names CreateTable gave.
  Destination fresh(dir / "new.csv");
  EXPECT_FALSE(fresh.opened);
  fresh.Write("x\"y", 7);
  fresh.csv.SaveTable();
  EXPECT_EQ(ReadFile(dir / "new.csv"), "\"NAME\",\"QTY\"\r\n\"x\"\"y\",\"7\"\r\n");
}

// Values long and short, with quotes, delimiters and line breaks at every position
// (the writer and the reader take eight bytes at a time where they can), written as
// records arrive and read back.
TEST(DelimitedDestinationTest, RandomValuesSurviveTheWayOutAndBack) {
  ScratchFolder dir;
  std::mt19937 rng(7);
  const std::string alphabet[] = {"a", "b", "\"", ",", "\t", "\r\n", "\n", "é", " "};
  std::vector<std::pair<std::string, std::string>> rows;
  for (int r = 0; r < 300; ++r) {
    std::string v[2];
    for (std::string& text : v)
      for (int n = static_cast<int>(rng() % 40); n > 0; --n) text += alphabet[rng() % 9];
    rows.emplace_back(v[0], v[1]);
  }
  for (const char* name : {"t.csv", "t.txt"}) {
    std::unique_ptr<TTrundleDelimited> out;
    std::unique_ptr<TTrundleDelimited> in;
    if (std::string(name) == "t.csv") {
      out = std::make_unique<TTrundleCsv>();
      in = std::make_unique<TTrundleCsv>();
    } else {
      out = std::make_unique<TTrundleText>();
      in = std::make_unique<TTrundleText>();
    }
    out->TableName = in->TableName = dir / name;
    out->PrepareDestination();
    ASSERT_FALSE(out->OpenTable());
    out->Table.FieldNames = {"A", "B"};
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    names[0].SetString("A");
    names[1].SetString("B");
    for (const auto& [a, b] : rows) {
      values[0].SetString(a);
      values[1].SetString(b);
      out->WriteRecord(names, values);
    }
    out->SaveTable();
    ASSERT_TRUE(in->OpenTable()) << name;
    for (size_t r = 0; r < rows.size(); ++r) {
      ASSERT_TRUE(in->ReadRecord(names, values)) << name << " row " << r;
      ASSERT_EQ(values[0].text(), rows[r].first) << name << " row " << r;
      ASSERT_EQ(values[1].text(), rows[r].second) << name << " row " << r;
      ASSERT_EQ(names[1].text(), "B");
    }
    EXPECT_FALSE(in->ReadRecord(names, values));
    EXPECT_TRUE(names[0].IsUnassigned());
  }
}

TEST(DelimitedDestinationTest, Character26EndsTheTextAndProtectsWhatFollowsIt) {
  ScratchFolder dir;
  const std::string cut = "a,b\r\n1,x\x1ay\r\n2,z\r\n";
  WriteFile(dir / "cz.csv", cut);
  TTrundleCsv source;
  source.TableName = dir / "cz.csv";
  std::vector<std::string> log;
  source.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  ASSERT_TRUE(source.OpenTable());
  EXPECT_EQ(log, (std::vector<std::string>{
                     "Reading table",
                     dir / "cz.csv" + " line 2: character 26 ends the text; the 8 bytes after "
                                      "it were not read",
                     "1 records read"}));

  try {
    Destination d(dir / "cz.csv");
    FAIL() << "appended to a file with data after its character 26";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()),
              dir / "cz.csv" +
                  " line 2: character 26 ends the text, and 8 bytes follow it; "
                  "no records are added to this file, which is left as it was");
  }
  EXPECT_EQ(ReadFile(dir / "cz.csv"), cut);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"cz.csv"});

  // A 26 at the very end marks the end of an old DOS file and hides nothing.
  WriteFile(dir / "dos.csv", "name,qty\r\nold,1\r\n\x1a");
  log.clear();
  source.TableName = dir / "dos.csv";
  ASSERT_TRUE(source.OpenTable());
  EXPECT_EQ(log, (std::vector<std::string>{"Reading table", "1 records read"}));
  Destination d(dir / "dos.csv");
  ASSERT_TRUE(d.opened);
  d.Write("new", 2);
  d.csv.SaveTable();
  EXPECT_EQ(ReadFile(dir / "dos.csv"), "\"NAME\",\"QTY\"\r\n\"old\",\"1\"\r\n\"new\",\"2\"\r\n");
}

TEST(DelimitedDestinationTest, ALinkKeepsPointingAtItsTargetWhichIsReplaced) {
  ScratchFolder dir;
  fs::create_directory(dir / "real");
  WriteFile(dir / "real/t.csv", kOld);
  fs::create_symlink("real/t.csv", dir / "link.csv");
  fs::create_symlink(dir / "real/new.csv", dir / "dangling.csv");
  for (const char* name : {"link.csv", "dangling.csv"}) {
    Destination d(dir / name);
    d.Write("c", 3);
    d.csv.SaveTable();
    EXPECT_TRUE(fs::is_symlink(dir / name)) << name;
  }
  EXPECT_EQ(ReadFile(dir / "real/t.csv"), std::string(kOld) + "\"c\",\"3\"\r\n");
  EXPECT_EQ(ReadFile(dir / "real/new.csv"), "\"NAME\",\"QTY\"\r\n\"c\",\"3\"\r\n");
  EXPECT_EQ(Entries(dir / "real"), (std::vector<std::string>{"new.csv", "t.csv"}));
}

TEST(DelimitedDestinationTest, WhatIsNotARegularFileIsWrittenStraightThroughAndNeverRead) {
  ScratchFolder dir;
  EXPECT_TRUE(IsStreamOutput("-"));
  EXPECT_TRUE(IsStreamOutput("/dev/null"));
  EXPECT_TRUE(IsStreamOutput("/dev/stdout"));
  EXPECT_TRUE(IsStreamOutput("/proc/self/fd/1"));
  WriteFile(dir / "plain.csv", "a\r\n");
  EXPECT_FALSE(IsStreamOutput(dir / "plain.csv"));
  EXPECT_FALSE(IsStreamOutput(dir / "missing.csv"));
  EXPECT_FALSE(IsStreamOutput(dir.path()));

  // A FIFO holding a table's text would be read forever if it were taken for a table.
  const std::string fifo = dir / "pipe.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string got;
  std::thread reader([&fifo, &got] {
    const int fd = open(fifo.c_str(), O_RDONLY);
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(fd);
  });
  {
    Destination d(fifo);
    EXPECT_FALSE(d.opened);
    EXPECT_EQ(d.log.back(),
              fifo + " is not a regular file: the records are written straight to it");
    d.Write("a", 1);
    d.Write("b", 2);
    // Stopped here, the records already went out; a file would keep its old text.
    EXPECT_EQ(d.csv.WhatAStopLeaves(2), "The destination " + fifo +
                                            " is written straight to: it has been sent at most "
                                            "the 2 records moved before the stop");
    d.csv.SaveTable();
  }
  {
    Destination d(dir / "plain.csv");
    d.Write("a", 1);
    EXPECT_EQ(d.csv.WhatAStopLeaves(1),
              "The destination " + (dir / "plain.csv") +
                  " is left as it was: it holds none of the records moved");
  }
  EXPECT_EQ(ReadFile(dir / "plain.csv"), "a\r\n");
  reader.join();
  EXPECT_EQ(got, "\"NAME\",\"QTY\"\r\n\"a\",\"1\"\r\n\"b\",\"2\"\r\n");
  struct stat st {};
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"pipe.csv", "plain.csv"}));
}

// One run at a time replaces a file: the second Destination, while the first holds the
// file, is refused with the message and takes no records; once the first has saved, the
// next one appends to what it wrote.
TEST(DelimitedDestinationTest, ASecondRunIsRefusedWhileTheFirstHoldsTheFile) {
  ScratchFolder dir;
  WriteFile(dir / "t.csv", kOld);
  fs::create_symlink("t.csv", dir / "link.csv");
  auto first = std::make_unique<Destination>(dir / "t.csv");
  ASSERT_TRUE(first->opened);
  for (const std::string name : {"t.csv", "link.csv"}) {
    SCOPED_TRACE(name);
    Destination second(dir / name);
    EXPECT_FALSE(second.opened);
    EXPECT_EQ(second.log.back(), dir / "t.csv" +
                                     " is being written by another program; try again when it "
                                     "has finished");
    EXPECT_FALSE(second.csv.CreateTable(first->csv));
  }
  first->Write("c", 3);
  first->csv.SaveTable();
  first.reset();
  Destination next(dir / "t.csv");
  ASSERT_TRUE(next.opened);
  next.Write("d", 4);
  next.csv.SaveTable();
  EXPECT_EQ(ReadFile(dir / "t.csv"), std::string(kOld) + "\"c\",\"3\"\r\n\"d\",\"4\"\r\n");
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"link.csv", "t.csv"}));
}

// The temporary file a killed run left (unlocked) is removed by the next run on that
// file; one held by a live run stays; what this program never makes there is left alone.
TEST(DelimitedDestinationTest, ALeftoverTemporaryFileGoesOnlyWhenNoRunHoldsIt) {
  ScratchFolder dir;
  const std::string temp = TemporaryFileOf(dir / "t.csv");
  EXPECT_EQ(temp, dir / ".t.csv.trundle-tmp");
  WriteFile(temp, "half of a killed run's file");
  {
    AtomicFileSink sink(dir / "t.csv");
    EXPECT_EQ(ReadFile(temp), "");
    EXPECT_THROW(AtomicFileSink again(dir / "t.csv"), BeingWrittenError);
    EXPECT_TRUE(fs::exists(temp));
    sink.Write("new\r\n");
    sink.Commit();
  }
  EXPECT_EQ(ReadFile(dir / "t.csv"), "new\r\n");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.csv"});
  { AtomicFileSink dropped(dir / "t.csv"); }  // no Commit: the file stays as it was
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"t.csv"});

  fs::create_symlink("elsewhere", temp);
  try {
    AtomicFileSink sink(dir / "t.csv");
    ADD_FAILURE() << "a link in the temporary file's place was taken";
  } catch (const NotOpenedError& e) {
    EXPECT_EQ(std::string(e.what()), "Could not create " + dir / "t.csv" + ": " + temp +
                                         " is in the way, and it is not a file this program left");
  }
  EXPECT_TRUE(fs::is_symlink(temp));
}

}  // namespace
}  // namespace trundle

#include "engine/trundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>

#include "engine/adaptor_registry.h"
#include "engine/errors.h"
#include "engine/locale_format.h"
#include "engine/reject_file.h"

namespace trundle {
namespace {

// A source of `records` records of two fields, whose RecordCount is `count`.
class FakeSource : public TTrundleUnknown {
 public:
  int records = 0;
  int32_t count = 0;
  bool open_ok = true;
  int opened = 0;
  TDataKind kind = dkCsv;
  int delivered = 0;
  bool throw_on_open = false;
  std::function<void()> on_open;
  int open_steps = 0;  // steps of a long opening phase, ticked as a text file's reading is

  bool OpenTable() override {
    if (throw_on_open) throw TrundleError("cannot read");
    TickCounter ticks(OnTick);
    for (int i = 0; i < open_steps; ++i)
      if (ticks.Step()) return false;
    if (on_open) on_open();
    ++opened;
    SendMessage("source opened");
    RecordCount = count;
    return open_ok;
  }
  TDataKind GetKind() const override { return kind; }
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override {
    ClearBuffers(names, values);
    if (delivered == records) return false;
    names[0].SetString("A");
    values[0].SetInteger(++delivered);
    names[1].SetString("B");
    values[1].SetNull();
    return true;
  }
};

// A destination that records the calls it gets.
class FakeDestination : public TTrundleUnknown {
 public:
  bool exists = true;
  bool create_ok = true;
  std::string calls;
  int writes = 0;
  int throw_at = -1;
  std::function<void(int)> on_write;  // called after each record written

  bool OpenTable() override {
    calls += "O";
    return exists;
  }
  void PrepareDestination() override { calls += "P"; }
  bool CreateTable(TTrundleUnknown&) override {
    calls += "C";
    return create_ok;
  }
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override {
    if (++writes == throw_at) throw TrundleError("disk full");
    EXPECT_EQ(names[0].text(), "A");
    EXPECT_EQ(values[0].integer(), writes);
    EXPECT_TRUE(values[1].IsNull());
    EXPECT_TRUE(names[2].IsUnassigned());
    if (on_write) on_write(writes);
    return false;  // the job does not look
  }
  void StartTransaction() override { calls += "S"; }
  void Commit() override { calls += "c"; }
  void Rollback() override { calls += "R"; }
  bool RollsBackOpenBatch() const override { return transactional; }
  void SaveTable() override { calls += "W"; }
  bool transactional = false;
};

struct JobRun {
  TTrundle job;
  FakeSource* source;
  FakeDestination* destination;
  std::vector<std::string> log;
  std::vector<int32_t> progress;

  JobRun() {
    RegisterAdaptor(dkCsv, [] { return std::make_unique<FakeSource>(); });
    RegisterAdaptor(dkDBase, [] { return std::make_unique<FakeDestination>(); });
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkDBase);
    source = static_cast<FakeSource*>(&job.Source());
    destination = static_cast<FakeDestination*>(&job.Destination());
    job.OnMessage = [this](const std::string& m) { log.push_back(m); };
    job.OnProgress = [this](int32_t p) { progress.push_back(p); };
  }
  ~JobRun() {
    RegisterAdaptor(dkCsv, nullptr);
    RegisterAdaptor(dkDBase, nullptr);
  }
};

TEST(TrundleTest, BaseAdaptorsAtBothEndsLogTheWholeRun) {
  SetLocaleFormats(LocaleFormats());
  TTrundle job;
  job.Source().TableName = "in.csv";
  job.Destination().TableName = "out.csv";
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  ASSERT_EQ(log.size(), 6u);
  const std::regex stamp(
      "\\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
      "\\d\\d:\\d\\d:\\d\\d");
  EXPECT_EQ(log[0].substr(0, 11), "Commenced: ");
  EXPECT_TRUE(std::regex_match(log[0].substr(11), stamp)) << log[0];
  EXPECT_EQ(log[1], "Moving data from in.csv to out.csv\r\n");
  EXPECT_EQ(log[2], "Source or destination not set");
  // A run that moved nothing says that it failed before it says that it ended.
  EXPECT_EQ(log[3], "Failed: nothing was moved");
  EXPECT_TRUE(std::regex_match(log[4].substr(13), stamp)) << log[4];
  EXPECT_EQ(log[4].substr(0, 13), "\r\nCompleted: ");
  EXPECT_TRUE(std::regex_match(log[5], std::regex("Elapsed time: \\d\\d:\\d\\d:\\d\\d"))) << log[5];
  EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
  EXPECT_EQ(job.failure(), "Source or destination not set");
}

TEST(TrundleTest, ReadableSourceIntoUnknownDestination) {
  RegisterAdaptor(dkCsv, [] { return std::make_unique<FakeSource>(); });
  TTrundle job;
  job.SetSourceKind(dkCsv);
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  RegisterAdaptor(dkCsv, nullptr);
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[2], "source opened");
  EXPECT_EQ(log[3], "Source or destination not set");
  EXPECT_EQ(log[4], "Destination not set");
  EXPECT_EQ(log[5], "Failed: nothing was moved");
  // The reason is the failing destination's, not the source's line before it.
  EXPECT_EQ(job.failure(), "Destination not set");
}

TEST(TrundleTest, ProgressCommitsAndCounts) {
  struct Case {
    int records;
    int32_t count;
    std::vector<int32_t> progress;
    std::string calls;  // after P and O
  } cases[] = {
      {0, 0, {100}, "ScW"},
      {3, 3, {33, 66, 100, 100}, "ScW"},
      {3, 4, {25, 50, 75, 100}, "ScW"},  // a text source counts its placeholder
      {3, 0, {100}, "ScW"},              // no size known: nothing until the end
      {1000, 1000, {}, "ScScW"},         // the second batch is empty
      {2500, 2500, {}, "ScScScW"},
  };
  for (const Case& c : cases) {
    JobRun run;
    run.source->records = c.records;
    run.source->count = c.count;
    run.job.Execute();
    EXPECT_EQ(run.destination->calls, "PO" + c.calls) << c.records;
    if (!c.progress.empty()) {
      EXPECT_EQ(run.progress, c.progress) << c.records;
    }
    EXPECT_EQ(run.progress.size(), static_cast<size_t>(c.count > 0 ? c.records + 1 : 1));
    EXPECT_EQ(run.progress.back(), 100);
    EXPECT_EQ(run.log[run.log.size() - 4], "Moving data");
    EXPECT_EQ(run.log[run.log.size() - 3], std::to_string(c.records) + " records moved");
    EXPECT_EQ(run.job.records_moved(), c.records);
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
  }
}

TEST(TrundleTest, MissingDestinationIsCreatedAndFailuresStopTheRun) {
  {
    JobRun run;
    run.source->records = 2;
    run.destination->exists = false;
    run.job.Execute();
    EXPECT_EQ(run.destination->calls, "POCScW");
    EXPECT_EQ(run.job.failure(), "");
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(),
                         "The destination table exists: the records are appended to it"),
              0);
  }
  {
    // A destination that is there is said to be appended to, before the records move.
    JobRun run;
    run.source->records = 2;
    run.job.Execute();
    const auto said = std::find(run.log.begin(), run.log.end(),
                                "The destination table exists: the records are appended to it");
    ASSERT_NE(said, run.log.end());
    EXPECT_LT(said, std::find(run.log.begin(), run.log.end(), "Moving data"));
  }
  {
    JobRun run;
    run.source->records = 2;
    run.destination->exists = false;
    run.destination->create_ok = false;
    run.job.Execute();
    EXPECT_EQ(run.destination->calls, "POC");
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kNotOpened);
    EXPECT_EQ(run.log.back().substr(0, 14), "Elapsed time: ");
    EXPECT_EQ(run.log[run.log.size() - 3], "Failed: nothing was moved");
    // The destination logged nothing of its own: the sentence names the step.
    EXPECT_EQ(run.job.failure(), "The destination table could not be created");
  }
  {
    JobRun run;
    run.source->open_ok = false;
    run.job.Execute();
    EXPECT_EQ(run.destination->calls, "");
    ASSERT_EQ(run.log.size(), 6u);
    EXPECT_EQ(run.log[2], "source opened");
    EXPECT_EQ(run.log[3], "Failed: nothing was moved");
    EXPECT_EQ(run.job.failure(), "source opened");
  }
}

TEST(TrundleTest, AccessSourceIsOpenedAgainAfterTheTableWasCreated) {
  JobRun run;
  run.source->kind = dkAccess;
  run.destination->exists = false;
  run.job.Execute();
  EXPECT_EQ(run.source->opened, 2);
  int opened_lines = 0;
  for (const auto& line : run.log) opened_lines += line == "source opened";
  EXPECT_EQ(opened_lines, 2);
}

TEST(TrundleTest, ExceptionsPassThroughAndStopEverything) {
  JobRun run;
  run.source->records = 5;
  run.destination->throw_at = 3;
  try {
    run.job.Execute();
    FAIL() << "no exception";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(), "disk full");
  }
  // The open batch is rolled back; no final Commit, no SaveTable.
  EXPECT_EQ(run.destination->calls, "POSR");
  EXPECT_EQ(run.log.back(), "Failed: disk full");
  // Two records went out before the failure: the outcome must not say "nothing moved".
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kNotRun);
  EXPECT_EQ(run.job.records_moved(), 2);

  // A job run again after a good run forgets the earlier outcome.
  run.destination->writes = 0;
  run.destination->throw_at = -1;
  run.source->delivered = 0;
  run.job.Execute();
  ASSERT_EQ(run.job.outcome(), TRunOutcome::kMoved);
  run.source->throw_on_open = true;
  EXPECT_THROW(run.job.Execute(), TrundleError);
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kNotRun);
  EXPECT_EQ(run.job.records_moved(), 0);
}

TEST(TrundleTest, AStopRequestEndsTheRunBetweenRecordsWithoutSaving) {
  struct Case {
    int stop_after;  // records written when the stop is asked for; -1: before Execute
    bool transactional;
    int moved;  // and kept
    std::string calls;
    std::string rolled_back;  // what the log adds
  } cases[] = {
      // The open batch is rolled back, SaveTable is not called.
      {3, false, 3, "POSR", ""},  // a file kind keeps what it wrote
      {1500, true, 1000, "POScSR", "; the open batch of 500 records was rolled back"},
      {1000, true, 1000, "POScSR", ""},  // asked for right at a commit: nothing undone
      // Asked for while the source was opening: the destination is not touched.
      {-1, true, 0, "", ""},
  };
  for (const Case& c : cases) {
    JobRun run;
    run.destination->TableName = "out";
    run.destination->transactional = c.transactional;
    run.source->records = 2500;
    run.source->count = 2500;
    if (c.stop_after < 0)
      run.job.RequestStop();
    else
      run.destination->on_write = [&run, &c](int written) {
        if (written == c.stop_after) run.job.RequestStop();
      };
    run.job.Execute();
    EXPECT_EQ(run.destination->calls, c.calls) << c.stop_after;
    // No record is read and then dropped.
    EXPECT_EQ(run.source->delivered, std::max(c.stop_after, 0));
    EXPECT_EQ(run.job.records_moved(), c.moved);
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kStopped);
    ASSERT_GE(run.log.size(), 4u);
    EXPECT_EQ(run.log[run.log.size() - 4],
              "Stopped on request: " + std::to_string(c.moved) + " records moved" + c.rolled_back);
    EXPECT_EQ(run.log[run.log.size() - 2].substr(0, 14), "Elapsed time: ");
    // The last line says what the stop left in the destination.
    EXPECT_EQ(run.log.back(), "The destination out keeps the " + std::to_string(c.moved) +
                                  " records moved before the stop");
    EXPECT_TRUE(run.progress.empty() || run.progress.back() < 100);
  }
}

// Long phases reach the progress event through the ticks, with the last share; a stop
// asked for there ends the phase and the run before the destination is opened.
TEST(TrundleTest, TicksOfLongPhasesReachTheProgressEventAndCanStopTheRun) {
  {
    JobRun run;
    run.job.TickInterval = std::chrono::milliseconds(0);
    run.source->open_steps = 10 * kTickStride;
    run.source->records = 3;  // RecordCount 0: a size unknown, so every record ticks
    run.job.Execute();
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
    EXPECT_EQ(run.progress, (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100}));
  }
  JobRun run;
  run.job.TickInterval = std::chrono::milliseconds(0);
  run.source->open_steps = 10 * kTickStride;
  run.source->records = 3;
  run.source->count = 3;
  int calls = 0;
  run.job.OnProgress = [&run, &calls](int32_t) {
    ++calls;
    run.job.RequestStop();
  };
  run.job.Execute();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(run.source->opened, 0);
  EXPECT_EQ(run.destination->calls, "");
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kStopped);
  ASSERT_EQ(run.log.size(), 6u);
  EXPECT_EQ(run.log[2], "Stopped on request: 0 records moved");
}

// A source whose reading breaks after `good` records, as a damaged table does.
class BreakingSource : public FakeSource {
 public:
  int good = 0;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override {
    if (delivered == good) {
      ReportReadError("page 7 of t.mdb is damaged");
      return false;
    }
    return FakeSource::ReadRecord(names, values);
  }
};

TEST(TrundleTest, AReadErrorIsAFailureNotTheEndOfTheSource) {
  for (int good : {0, 1, 1500}) {
    JobRun run;
    RegisterAdaptor(dkCsv, [] { return std::make_unique<BreakingSource>(); });
    run.job.SetSourceKind(dkCsv);
    auto& source = static_cast<BreakingSource&>(run.job.Source());
    source.records = 5000;
    source.count = 5000;
    source.good = good;
    run.job.Execute();
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kReadFailed) << good;
    EXPECT_EQ(run.job.records_moved(), good);
    EXPECT_EQ(source.ReadError(), "page 7 of t.mdb is damaged");
    EXPECT_EQ(run.destination->calls.find('W'), std::string::npos) << "saved after a failed read";
    EXPECT_EQ(run.destination->writes, good);
    ASSERT_GE(run.log.size(), 3u);
    EXPECT_EQ(run.log[run.log.size() - 4], "page 7 of t.mdb is damaged");
    EXPECT_EQ(run.log[run.log.size() - 3],
              "Stopped by an error reading the source: " + std::to_string(good) + " records moved");
    EXPECT_TRUE(run.progress.empty() || run.progress.back() < 100) << good;
  }
}

TEST(TrundleTest, ClipboardWordingAndSilence) {
  struct TabText : TTrundleUnknown {
    TDataKind GetKind() const override { return dkText; }
  };
  RegisterAdaptor(dkText, [] { return std::make_unique<TabText>(); });
  RegisterAdaptor(dkHtml, [] { return std::make_unique<TabText>(); });  // any other kind
  for (TDataKind kind : {dkText, dkCsv}) {
    TTrundle job;
    job.SetDestinationKind(kind);
    job.Source().TableName = "a.dbf";
    job.Destination().TableName = "b.txt";
    job.Destination().Clipboard = true;
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    job.Execute();
    EXPECT_EQ(log[1], kind == dkText ? "Moving data from a.dbf to clipboard\r\n"
                                     : "Moving data from a.dbf to b.txt\r\n");
  }
  RegisterAdaptor(dkText, nullptr);
  RegisterAdaptor(dkHtml, nullptr);
  JobRun quiet;
  quiet.job.OnMessage = nullptr;
  quiet.source->records = 1;
  quiet.job.Execute();
  EXPECT_TRUE(quiet.log.empty());
}

TEST(TrundleTest, BaseReadRecordClearsBothBuffersWhole) {
  TTrundleUnknown base;
  TRecordBuffer names(kRecordBufferSize, Variant::String("x"));
  TRecordBuffer values(kRecordBufferSize, Variant::Integer(1));
  EXPECT_FALSE(base.ReadRecord(names, values));
  for (int i = 0; i < kRecordBufferSize; ++i)
    ASSERT_TRUE(names[i].IsUnassigned() && values[i].IsUnassigned()) << i;
}

// A source that says how far it fills the buffers: the records name 3, 1, then 2 fields.
class FillingSource : public FakeSource {
 public:
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override {
    ClearFilledBuffers(names, values);
    static const std::vector<std::vector<const char*>> kNames = {
        {"A", "B", "C"}, {"A"}, {"B", "A"}};
    if (delivered == int(kNames.size())) return false;
    const auto& these = kNames[size_t(delivered++)];
    FilledUpTo(int(these.size()));
    for (size_t i = 0; i < these.size(); ++i) {
      names[i].SetString(these[i]);
      values[i].SetInteger(int64_t(i));
    }
    return true;
  }
};

// A destination told how far the names are filled finds every name past that Unassigned,
// whatever the record before held; a source that does not say leaves it unknown.
TEST(TrundleTest, ADestinationLearnsHowFarTheSourceFilledTheNames) {
  for (const bool filling : {true, false}) {
    SCOPED_TRACE(filling ? "a source that says" : "a source that clears everything");
    RegisterAdaptor(dkCsv, [filling]() -> std::unique_ptr<TTrundleUnknown> {
      if (filling) return std::make_unique<FillingSource>();
      auto source = std::make_unique<FakeSource>();
      source->records = 3;
      return source;
    });
    struct Checking : FakeDestination {
      std::vector<int> filled;
      bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer&) override {
        filled.push_back(NamesFilled());
        for (size_t i = size_t(std::max(NamesFilled(), 0)); NamesFilled() >= 0 && i < names.size();
             ++i)
          EXPECT_TRUE(names[i].IsUnassigned()) << "name " << i << " of record " << filled.size();
        return false;
      }
    };
    RegisterAdaptor(dkDBase, [] { return std::make_unique<Checking>(); });
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkDBase);
    job.Source().RecordCount = 3;
    job.Execute();
    const auto& filled = static_cast<Checking&>(job.Destination()).filled;
    EXPECT_EQ(filled, filling ? (std::vector<int>{3, 1, 2}) : (std::vector<int>{-1, -1, -1}));
    RegisterAdaptor(dkCsv, nullptr);
    RegisterAdaptor(dkDBase, nullptr);
  }
}

// A destination that refuses the records whose first value is in `bad`, holding its open
// batch as a database does: Commit keeps it, Rollback (and, when transactional, a
// refusal) drops it.
class RefusingDestination : public FakeDestination {
 public:
  std::set<int64_t> bad;
  std::vector<int64_t> open_batch;
  std::vector<int64_t> kept;  // committed, in order
  int writes_tried = 0;
  bool WriteRecord(const TRecordBuffer&, const TRecordBuffer& values) override {
    ++writes_tried;
    const int64_t id = values[0].integer();
    if (bad.count(id)) {
      if (transactional) open_batch.clear();
      const std::string number = std::to_string(id);
      throw RecordRefusedError(std::string("Record refused: id ").append(number),
                               std::string("field A: ").append(number).append(" is bad"));
    }
    open_batch.push_back(id);
    return true;
  }
  void Commit() override {
    kept.insert(kept.end(), open_batch.begin(), open_batch.end());
    open_batch.clear();
  }
  void Rollback() override {
    if (transactional) open_batch.clear();
  }
  void SaveTable() override { calls += "W"; }
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Under kSkip every good record arrives, once, whether the destination undoes its batch
// on a refusal (the batch is replayed) or not (the refused record alone is left out);
// the reject file holds exactly the bad ones, numbered as the source read them.
TEST(TrundleTest, RefusedRecordsAreSetAsideAndTheGoodOnesOfTheirBatchKept) {
  const std::string path = ::testing::TempDir() + "trundle_rejects.csv";
  for (const bool transactional : {true, false}) {
    SCOPED_TRACE(transactional ? "batch undone" : "record alone");
    std::remove(path.c_str());
    JobRun run;
    RegisterAdaptor(dkDBase, [] { return std::make_unique<RefusingDestination>(); });
    run.job.SetDestinationKind(dkDBase);
    auto& dest = static_cast<RefusingDestination&>(run.job.Destination());
    dest.transactional = transactional;
    // The first and the last of a batch, two in one batch, and the run's last record.
    dest.bad = {1, 1000, 1500, 1501, 2500};
    run.source->records = 2500;
    run.job.OnError = TOnError::kSkip;
    run.job.RejectFilePath = path;
    run.job.Execute();
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
    std::vector<int64_t> expected;
    for (int64_t id = 1; id <= 2500; ++id)
      if (!dest.bad.count(id)) expected.push_back(id);
    EXPECT_EQ(dest.kept, expected);
    EXPECT_EQ(run.job.records_moved(), 2495);
    EXPECT_EQ(run.job.records_rejected(), 5);
    EXPECT_EQ(run.job.records_read(), 2500);
    // Without an undone batch nothing is written twice.
    if (!transactional) {
      EXPECT_EQ(dest.writes_tried, 2500);
    }
    EXPECT_EQ(ReadWhole(path),
              "Record,A,B,Reason\r\n1,1,,field A: 1 is bad\r\n1000,1000,,field A: 1000 is bad\r\n"
              "1500,1500,,field A: 1500 is bad\r\n1501,1501,,field A: 1501 is bad\r\n"
              "2500,2500,,field A: 2500 is bad\r\n");
    EXPECT_EQ(run.log.back(), "5 records were set aside in " + path);
    EXPECT_NE(
        std::find(run.log.begin(), run.log.end(), "Record 1500 set aside: field A: 1500 is bad"),
        run.log.end());
    EXPECT_EQ(run.log[run.log.size() - 4], "2495 records moved");
  }
  // kStop: the first refusal ends the run as any failure, and nothing is set aside.
  std::remove(path.c_str());
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<RefusingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  static_cast<RefusingDestination&>(run.job.Destination()).bad = {3};
  run.source->records = 5;
  run.job.RejectFilePath = path;
  EXPECT_THROW(run.job.Execute(), RecordRefusedError);
  EXPECT_EQ(run.log.back(), "Failed: Record refused: id 3");
  EXPECT_FALSE(std::ifstream(path).good());
}

// More records set aside than MaxRejects end the run as a stop: the committed batches
// stay, the open one is undone, nothing is saved.
TEST(TrundleTest, MoreRejectsThanAllowedEndTheRunKeepingTheCommittedBatches) {
  const std::string path = ::testing::TempDir() + "trundle_max_rejects.csv";
  std::remove(path.c_str());
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<RefusingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  auto& dest = static_cast<RefusingDestination&>(run.job.Destination());
  dest.transactional = true;
  dest.TableName = "out";
  dest.bad = {10, 1200, 1300};
  run.source->records = 2500;
  run.job.OnError = TOnError::kSkip;
  run.job.RejectFilePath = path;
  run.job.MaxRejects = 2;
  run.job.Execute();
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kTooManyRejects);
  EXPECT_EQ(dest.kept.size(), 999u);
  EXPECT_EQ(dest.calls.find('W'), std::string::npos);
  EXPECT_EQ(run.job.records_moved(), 999);
  EXPECT_EQ(run.job.records_rejected(), 3);
  // The pace counts every record read, those of the batch rolled back too.
  EXPECT_EQ(run.job.records_read(), 1300);
  ASSERT_GE(run.log.size(), 5u);
  EXPECT_EQ(run.log[run.log.size() - 5],
            "Stopped: more than 2 records were set aside; 999 records moved; the open batch of "
            "298 records was rolled back");
  EXPECT_EQ(run.log[run.log.size() - 2],
            "The destination out keeps the 999 records moved before the stop");
  EXPECT_EQ(run.log.back(), "3 records were set aside in " + path);
  std::remove(path.c_str());
}

// A server destination that undoes its open batch, as a serialization failure does, the
// first `undo_times` times the batch holding record `undo_at` is written or committed.
class UndoingDestination : public RefusingDestination {
 public:
  int64_t undo_at = 0;
  bool at_commit = false;  // the failure shows at the commit, not at the write
  int undo_times = 0;
  int commits = 0;
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override {
    RefusingDestination::WriteRecord(names, values);
    if (!at_commit && values[0].integer() == undo_at) Undo();
    return true;
  }
  void Commit() override {
    ++commits;
    if (at_commit && std::find(open_batch.begin(), open_batch.end(), undo_at) != open_batch.end())
      Undo();
    RefusingDestination::Commit();
  }
  bool MayUndoBatch() const override { return true; }

 private:
  void Undo() {
    if (undo_times == 0) return;
    --undo_times;
    open_batch.clear();
    throw BatchUndoneError("Records undone: id " + std::to_string(undo_at), "deadlock detected");
  }
};

// A batch the server undoes is sent again from the records the job kept, with a log line
// for each try, and every record arrives once; the sixth undoing ends the run. The batch
// size decides where the commits fall.
TEST(TrundleTest, ABatchTheServerUndoesIsSentAgain) {
  struct Case {
    int batch_size;
    int64_t undo_at;
    bool at_commit;
    int undo_times;
    const char* batch;  // the batch's number in the log
  } cases[] = {
      {1000, 1500, false, 1, "2"},  // at a write, in the middle of the second batch
      {1000, 2500, true, 2, "3"},   // at the last commit, a short batch
      {7, 700, true, 5, "100"},     // the most tries, at a periodic commit
      {1, 3, false, 1, "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.undo_at);
    JobRun run;
    RegisterAdaptor(dkDBase, [] { return std::make_unique<UndoingDestination>(); });
    run.job.SetDestinationKind(dkDBase);
    auto& dest = static_cast<UndoingDestination&>(run.job.Destination());
    dest.transactional = true;
    dest.undo_at = c.undo_at;
    dest.at_commit = c.at_commit;
    dest.undo_times = c.undo_times;
    run.source->records = 2500;
    run.job.BatchSize = c.batch_size;
    run.job.FirstRetryPause = std::chrono::milliseconds(0);
    run.job.Execute();
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
    std::vector<int64_t> expected(2500);
    for (int64_t i = 0; i < 2500; ++i) expected[static_cast<size_t>(i)] = i + 1;
    EXPECT_EQ(dest.kept, expected);
    EXPECT_EQ(run.job.records_moved(), 2500);
    // The counts follow the records kept: each record once, each batch committed once,
    // and nothing set aside by a retry.
    EXPECT_EQ(run.job.tally().records(), 2500);
    EXPECT_EQ(run.job.batches_committed(), (2500 + c.batch_size - 1) / c.batch_size);
    EXPECT_EQ(run.job.records_rejected(), 0);
    EXPECT_EQ(dest.commits, (2500 + c.batch_size - 1) / c.batch_size + (c.at_commit ? c.undo_times : 0) +
                                (2500 % c.batch_size == 0 ? 1 : 0));
    std::vector<std::string> retries;
    for (const std::string& line : run.log)
      if (line.find("undone by the server") != std::string::npos) retries.push_back(line);
    ASSERT_EQ(retries.size(), static_cast<size_t>(c.undo_times));
    for (int k = 0; k < c.undo_times; ++k)
      EXPECT_EQ(retries[static_cast<size_t>(k)],
                std::string("Batch ") + c.batch +
                    " undone by the server (deadlock detected); sending it again, try " +
                    std::to_string(k + 1) + " of 5");
  }
  // Undone a sixth time, the batch is given up: the committed batches stay.
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<UndoingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  auto& dest = static_cast<UndoingDestination&>(run.job.Destination());
  dest.transactional = true;
  dest.undo_at = 1200;
  dest.undo_times = 6;
  run.source->records = 2500;
  run.job.FirstRetryPause = std::chrono::milliseconds(0);
  EXPECT_THROW(run.job.Execute(), BatchUndoneError);
  EXPECT_EQ(dest.kept.size(), 1000u);
  EXPECT_EQ(run.job.tally().records(), 1000);
  EXPECT_EQ(run.job.batches_committed(), 1);
  ASSERT_GE(run.log.size(), 2u);
  EXPECT_EQ(run.log[run.log.size() - 2], "Batch 2 undone by the server 6 times; the run gives up");
  EXPECT_EQ(run.log.back(), "Failed: Records undone: id 1200");
}

// Records of one to three fields, the last of them sometimes Null; with `says`, the
// source tells how far it filled the buffers, else it clears them whole.
class RaggedSource : public FakeSource {
 public:
  bool says = true;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override {
    if (says)
      ClearFilledBuffers(names, values);
    else
      ClearBuffers(names, values);
    if (delivered == records) return false;
    const int64_t id = ++delivered;
    const int fields = static_cast<int>(id % 3) + 1;
    if (says) FilledUpTo(fields);
    static const char* const kNames[] = {"A", "B", "C"};
    for (int i = 0; i < fields; ++i) names[static_cast<size_t>(i)].SetString(kNames[i]);
    values[0].SetInteger(id);
    if (fields > 1) values[1].SetString("b" + std::to_string(id));
    if (fields > 2) values[2].SetNull();
    return true;
  }
};

// Each record as a destination got it: its names and values in text up to the first
// Unassigned name, an Unassigned value as "-".
std::string RecordText(const TRecordBuffer& names, const TRecordBuffer& values, size_t upto) {
  std::string text;
  for (size_t i = 0; i < upto && !names[i].IsUnassigned(); ++i) {
    text += names[i].ToText();
    text += '=';
    text += i >= values.size() || values[i].IsUnassigned() ? "-"
            : values[i].IsNull()                          ? "null"
                                                           : values[i].ToText();
    text += ';';
  }
  return text;
}

// A server destination that undoes the second batch once at its commit, and records
// what it is given.
class RecordingUndoer : public FakeDestination {
 public:
  std::vector<std::string> open_batch, kept;
  size_t widest_replayed = 0;  // the longest buffers a replayed record came in
  int commits = 0;
  bool replaying = false;
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override {
    if (replaying) widest_replayed = std::max({widest_replayed, names.size(), values.size()});
    // Looks only as far as the job says the names go, as the real destinations do.
    const size_t filled = NamesFilled() < 0 ? names.size() : static_cast<size_t>(NamesFilled());
    for (size_t i = filled; i < names.size(); ++i) EXPECT_TRUE(names[i].IsUnassigned());
    open_batch.push_back(RecordText(names, values, std::min<size_t>(filled, 4)));
    return true;
  }
  void Commit() override {
    if (++commits == 2) {
      open_batch.clear();
      replaying = true;
      throw BatchUndoneError("Records undone", "deadlock detected");
    }
    replaying = false;
    kept.insert(kept.end(), open_batch.begin(), open_batch.end());
    open_batch.clear();
  }
  void Rollback() override { open_batch.clear(); }
  bool RollsBackOpenBatch() const override { return true; }
  bool MayUndoBatch() const override { return true; }
};

// A batch kept for sending again holds each record's own fields, not the job's buffers
// of 256 (a batch of 50,000 then held 25 million values), and sends every record again
// exactly as read: its names, values and Nulls, however far the source filled them.
TEST(TrundleTest, AKeptBatchHoldsOnlyTheFieldsOfItsRecords) {
  for (const bool says : {true, false}) {
    SCOPED_TRACE(says ? "a source that says how far it filled" : "a source that clears all");
    JobRun run;
    RegisterAdaptor(dkCsv, [says] {
      auto source = std::make_unique<RaggedSource>();
      source->says = says;
      return source;
    });
    RegisterAdaptor(dkDBase, [] { return std::make_unique<RecordingUndoer>(); });
    run.job.SetSourceKind(dkCsv);
    run.job.SetDestinationKind(dkDBase);
    run.source = &static_cast<FakeSource&>(run.job.Source());
    run.source->records = 2500;
    auto& dest = static_cast<RecordingUndoer&>(run.job.Destination());
    run.job.FirstRetryPause = std::chrono::milliseconds(0);
    run.job.Execute();
    ASSERT_EQ(run.job.outcome(), TRunOutcome::kMoved);
    ASSERT_EQ(dest.kept.size(), 2500u);
    for (int64_t id = 1; id <= 2500; ++id) {
      const int fields = static_cast<int>(id % 3) + 1;
      std::string expected = "A=" + std::to_string(id) + ";";
      if (fields > 1) expected += "B=b" + std::to_string(id) + ";";
      if (fields > 2) expected += "C=null;";
      ASSERT_EQ(dest.kept[static_cast<size_t>(id - 1)], expected) << id;
    }
    EXPECT_GT(dest.widest_replayed, 0u);
    EXPECT_LE(dest.widest_replayed, 3u);
    EXPECT_EQ(run.job.tally().records(), 2500);
  }
}

// A stop asked for while the job waits to send an undone batch again ends the run as any
// stop: the open batch rolled back, the committed ones kept.
TEST(TrundleTest, AStopDuringTheRetryPauseEndsTheRun) {
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<UndoingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  auto& dest = static_cast<UndoingDestination&>(run.job.Destination());
  dest.transactional = true;
  dest.undo_at = 1500;
  dest.undo_times = 1;
  run.source->records = 2500;
  run.job.FirstRetryPause = std::chrono::milliseconds(60000);
  run.job.TickInterval = std::chrono::milliseconds(0);
  run.job.OnProgress = [&run](int32_t) {
    if (!run.log.empty() && run.log.back().find("sending it again") != std::string::npos)
      run.job.RequestStop();
  };
  run.job.Execute();
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kStopped);
  EXPECT_EQ(dest.kept.size(), 1000u);
  EXPECT_EQ(run.job.records_moved(), 1000);
}

// A destination that learns of its refusals only when a batch is sent, as a server's
// COPY does: at Commit, or (send_full) when WriteRecord fills a batch of
// kRecordsPerBatch. It names the first bad record by its place in the batch, and the
// batch is undone.
class LateRefusingDestination : public RefusingDestination {
 public:
  bool send_full = false;
  int sends_refused = 0;
  bool WriteRecord(const TRecordBuffer&, const TRecordBuffer& values) override {
    ++writes_tried;
    open_batch.push_back(values[0].integer());
    if (send_full && open_batch.size() == static_cast<size_t>(kRecordsPerBatch)) Send();
    return true;
  }
  void Commit() override {
    Send();
    RefusingDestination::Commit();
  }

 private:
  void Send() {
    for (size_t i = 0; i < open_batch.size(); ++i) {
      if (!bad.count(open_batch[i])) continue;
      const std::string number = std::to_string(open_batch[i]);
      open_batch.clear();
      ++sends_refused;
      throw RecordRefusedError("Record refused at commit: id " + number,
                               "field A: " + number + " is bad", static_cast<int64_t>(i));
    }
  }
};

// A refusal found out only at a batch's end sets aside the record it names, whichever
// way the batch is replayed, and every other record of the batch is committed once: the
// first and the last of a batch, two in one batch, one in the last batch, and (where a
// full batch is sent as the record that fills it is written) one before the record
// being written and that record itself.
TEST(TrundleTest, RefusalsFoundAtTheBatchsEndSetAsideTheRecordTheyName) {
  const std::string path = ::testing::TempDir() + "trundle_late_rejects.csv";
  for (const TReplay replay : {TReplay::kWithoutRefused, TReplay::kHalving, TReplay::kOneByOne}) {
    for (const bool send_full : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(replay)) + (send_full ? " sent full" : ""));
      std::remove(path.c_str());
      JobRun run;
      RegisterAdaptor(dkDBase, [] { return std::make_unique<LateRefusingDestination>(); });
      run.job.SetDestinationKind(dkDBase);
      auto& dest = static_cast<LateRefusingDestination&>(run.job.Destination());
      dest.transactional = true;
      dest.send_full = send_full;
      dest.bad = {1, 5, 1000, 1500, 1501, 2000, 2400};
      run.source->records = 2500;
      run.job.OnError = TOnError::kSkip;
      run.job.RejectFilePath = path;
      run.job.Replay = replay;
      run.job.Execute();
      EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
      std::vector<int64_t> expected;
      for (int64_t id = 1; id <= 2500; ++id)
        if (!dest.bad.count(id)) expected.push_back(id);
      std::vector<int64_t> kept = dest.kept;
      // Halving and one by one commit the pieces of a batch in order, so the order holds.
      EXPECT_EQ(kept, expected);
      EXPECT_EQ(run.job.records_moved(), 2493);
      EXPECT_EQ(run.job.records_rejected(), 7);
      std::string lines = "Record,A,B,Reason\r\n";
      for (const int64_t id : dest.bad)
        lines += std::to_string(id) + "," + std::to_string(id) + ",,field A: " +
                 std::to_string(id) + " is bad\r\n";
      EXPECT_EQ(ReadWhole(path), lines);
      EXPECT_EQ(run.log[run.log.size() - 4], "2493 records moved");
      if (replay == TReplay::kWithoutRefused && !send_full) {
        // Each bad record costs one more sending of its batch, and nothing else.
        EXPECT_EQ(dest.sends_refused, 7);
      }
    }
  }
  // Set aside at the last commit, more than MaxRejects still end the run as too many,
  // with that batch kept.
  {
    std::remove(path.c_str());
    JobRun run;
    RegisterAdaptor(dkDBase, [] { return std::make_unique<LateRefusingDestination>(); });
    run.job.SetDestinationKind(dkDBase);
    auto& dest = static_cast<LateRefusingDestination&>(run.job.Destination());
    dest.transactional = true;
    dest.bad = {1200, 1300};
    run.source->records = 1500;
    run.job.OnError = TOnError::kSkip;
    run.job.RejectFilePath = path;
    run.job.MaxRejects = 1;
    run.job.Execute();
    EXPECT_EQ(run.job.outcome(), TRunOutcome::kTooManyRejects);
    EXPECT_EQ(run.job.records_moved(), 1498);
    EXPECT_EQ(dest.kept.size(), 1498u);
  }
  // kStop: the refusal at Commit ends the run.
  std::remove(path.c_str());
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<LateRefusingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  static_cast<LateRefusingDestination&>(run.job.Destination()).bad = {3};
  run.source->records = 5;
  run.job.RejectFilePath = path;
  EXPECT_THROW(run.job.Execute(), RecordRefusedError);
  EXPECT_EQ(run.log.back(), "Failed: Record refused at commit: id 3");
  EXPECT_FALSE(std::ifstream(path).good());
}

// Late refusals and a server that undoes batches, in one run.
class LateRefusingUndoingDestination : public LateRefusingDestination {
 public:
  int64_t undo_write_at = 0;   // undone once, as this record is written
  int64_t undo_commit_of = 0;  // undone once, at the commit of the batch that holds it
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override {
    LateRefusingDestination::WriteRecord(names, values);
    if (undo_write_at != 0 && values[0].integer() == undo_write_at) {
      undo_write_at = 0;
      Undo();
    }
    return true;
  }
  void Commit() override {
    if (undo_commit_of != 0 &&
        std::find(open_batch.begin(), open_batch.end(), undo_commit_of) != open_batch.end()) {
      undo_commit_of = 0;
      Undo();
    }
    LateRefusingDestination::Commit();
  }
  bool MayUndoBatch() const override { return true; }

 private:
  void Undo() {
    open_batch.clear();
    throw BatchUndoneError("Records undone", "deadlock detected");
  }
};

// A batch undone by the server is sent again whole, setting nothing aside, and the
// records refused later are set aside as ever; the counts of what was written follow
// what the destination keeps through both kinds of sending again.
TEST(TrundleTest, UndoneBatchesAndRefusalsAtTheirEndTogether) {
  const std::string path = ::testing::TempDir() + "trundle_undone_rejects.csv";
  std::remove(path.c_str());
  JobRun run;
  RegisterAdaptor(dkDBase, [] { return std::make_unique<LateRefusingUndoingDestination>(); });
  run.job.SetDestinationKind(dkDBase);
  auto& dest = static_cast<LateRefusingUndoingDestination&>(run.job.Destination());
  dest.transactional = true;
  dest.bad = {100, 700, 1450};
  dest.undo_write_at = 720;    // after 700 went into its batch, before its refusal shows
  dest.undo_commit_of = 1450;   // the refusal shows only at the retried commit
  run.source->records = 1500;
  run.job.BatchSize = 500;
  run.job.FirstRetryPause = std::chrono::milliseconds(0);
  run.job.OnError = TOnError::kSkip;
  run.job.RejectFilePath = path;
  run.job.Execute();
  EXPECT_EQ(run.job.outcome(), TRunOutcome::kMoved);
  std::vector<int64_t> expected;
  for (int64_t id = 1; id <= 1500; ++id)
    if (!dest.bad.count(id)) expected.push_back(id);
  EXPECT_EQ(dest.kept, expected);
  EXPECT_EQ(run.job.records_rejected(), 3);
  EXPECT_EQ(run.job.records_moved(), 1497);
  EXPECT_EQ(run.job.tally().records(), 1497);
  EXPECT_EQ(run.job.batches_committed(), 3);
  for (const char* line : {"Batch 2 undone by the server (deadlock detected); sending it again, "
                           "try 1 of 5",
                           "Batch 3 undone by the server (deadlock detected); sending it again, "
                           "try 1 of 5"})
    EXPECT_NE(std::find(run.log.begin(), run.log.end(), line), run.log.end())
        << testing::PrintToString(run.log);
  std::string lines = "Record,A,B,Reason\r\n";
  for (const int64_t id : dest.bad)
    lines += std::to_string(id) + "," + std::to_string(id) + ",,field A: " + std::to_string(id) +
             " is bad\r\n";
  EXPECT_EQ(ReadWhole(path), lines);
  std::remove(path.c_str());
}

// What the run wrote, as the report and --verify count it, follows what the destination
// keeps: committed batches, and after a failure the open batch only where it stays.
TEST(TrundleTest, TheCountsOfWhatWasWrittenFollowWhatTheDestinationKeeps) {
  for (const bool transactional : {true, false}) {
    SCOPED_TRACE(transactional);
    JobRun run;
    run.source->records = 2500;
    run.destination->transactional = transactional;
    run.destination->throw_at = 2300;
    bool opened_first = false;
    run.job.OnEndsOpen = [&] { opened_first = run.destination->writes == 0; };
    EXPECT_THROW(run.job.Execute(), TrundleError);
    EXPECT_TRUE(opened_first);
    EXPECT_EQ(run.job.records_read(), 2300);
    EXPECT_EQ(run.job.batches_committed(), 2);
    const int64_t kept = transactional ? 2000 : 2299;
    EXPECT_EQ(run.job.tally().records(), kept);
    ASSERT_EQ(run.job.tally().fields().size(), 2u);
    EXPECT_EQ(run.job.tally().fields()[0].name, "A");
    EXPECT_EQ(run.job.tally().fields()[0].nulls, 0);
    EXPECT_EQ(run.job.tally().fields()[1].nulls, kept);
  }
  // A last full batch is followed by a Commit that commits nothing, not counted.
  JobRun run;
  run.source->records = 2000;
  run.job.Execute();
  EXPECT_EQ(run.job.batches_committed(), 2);
  EXPECT_EQ(run.job.tally().records(), 2000);
  EXPECT_GE(run.job.elapsed_seconds(), 0);
  EXPECT_LE(run.job.started(), run.job.finished());
}

TEST(RejectFileTest, FieldsAreQuotedOnlyWhereTheyMustBe) {
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(CsvField(" padded"), "\" padded\"");
}

// A front end may install new formats while a run is under way (another thread, or an
// adaptor's callback): the run keeps the formats it started with, from its first log line
// to its last, and later callers get the new ones.
TEST(LocaleFormatTest, ARunKeepsTheFormatsItStartedWith) {
  LocaleFormats start;
  start.month_abbrev.fill("Mon");
  LocaleFormats later;
  later.month_abbrev.fill("XYZ");
  SetLocaleFormats(start);
  const std::shared_ptr<const LocaleFormats> held = CurrentLocaleFormats();
  JobRun run;
  run.source->on_open = [&later] { SetLocaleFormats(later); };
  run.job.Execute();
  ASSERT_GE(run.log.size(), 4u);
  EXPECT_NE(run.log.front().find(" Mon "), std::string::npos) << run.log.front();
  const std::string& completed = run.log[run.log.size() - 2];
  EXPECT_NE(completed.find(" Mon "), std::string::npos) << completed;
  EXPECT_EQ(held->month_abbrev[0], "Mon");
  EXPECT_EQ(CurrentLocaleFormats()->month_abbrev[0], "XYZ");
  SetLocaleFormats(LocaleFormats());
}

TEST(LocaleFormatTest, TimestampsElapsedTimesAndShortDates) {
  LocaleFormats f;
  EXPECT_EQ(FormatLogTimestamp(46361.0 + (14 * 3600 + 3 * 60 + 9) / 86400.0, f),
            "05 Dec 2026 14:03:09");
  EXPECT_EQ(FormatElapsed((27 * 3600 + 3 * 60 + 9) / 86400.0), "27:03:09");
  EXPECT_EQ(FormatElapsed(59.999 / 86400.0), "00:00:59");
  EXPECT_EQ(FormatShortDate(36526.75, f), "2000-01-01");
  f.short_date = "%m/%d/%Y";
  EXPECT_EQ(FormatShortDate(-304324.0, f), "10/14/1066");
  f.short_date = "%d.%m.%Y";
  EXPECT_EQ(FormatShortDate(2.0, f), "01.01.1900");
}

}  // namespace
}  // namespace trundle

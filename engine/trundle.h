// The transfer job: owns one source and one destination adaptor, moves every record the
// source delivers to the destination in one pass, and reports the run through a message
// event (log lines) and a progress event (a percentage).
//
//   TTrundle job;
//   job.SetSourceKind(dkCsv);
//   job.SetDestinationKind(dkHtml);
//   job.Source().TableName = "in.csv";
//   job.Destination().TableName = "out.html";
//   job.OnMessage = [](const std::string& line) { Log(line); };
//   job.Execute();
//
// Exceptions that an adaptor lets out leave Execute unchanged; the job catches nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/field_map.h"
#include "engine/reject_file.h"
#include "engine/run_tally.h"
#include "engine/trundle_unknown.h"
#include "engine/value_changes.h"

namespace trundle {

// How a run ended, for callers that need more than the log (the command line's exit
// status).
enum class TRunOutcome : uint8_t {
  kNotRun,          // Execute was not called, or left by an exception
  kNotOpened,       // the source, the destination or its creation failed: nothing moved
  kMoved,           // the record loop ran to its end
  kStopped,         // RequestStop ended the record loop early; SaveTable was not called
  kReadFailed,      // an error ended the source's reading early (its ReadError); SaveTable
                    // was not called
  kTooManyRejects,  // more than MaxRejects records were set aside: the run ended as a
                    // stopped one does (the open batch rolled back, no SaveTable)
};

// What a run does with a record that the destination refuses (RecordRefusedError).
enum class TOnError : uint8_t {
  kStop,  // the refusal ends the run: the exception leaves Execute
  kSkip,  // the record is set aside in the reject file and the run goes on
};

// How a batch that a destination refused only at its end (a server's COPY) is replayed
// under kSkip. The first is the run's; the other two stay for the benchmark that
// measures them against it (bench/postgres/reject_bench.sh).
enum class TReplay : uint8_t {
  kWithoutRefused,  // the batch again without the record the destination named
  kHalving,         // each half committed on its own, a refused half halved again
  kOneByOne,        // each record of the batch committed on its own
};

class TTrundle {
 public:
  // Both adaptors start as the base adaptor (dkUnknown), relaying their messages here.
  TTrundle();
  ~TTrundle();
  TTrundle(const TTrundle&) = delete;
  TTrundle& operator=(const TTrundle&) = delete;

  // Replace the adaptor by a fresh one of the kind's class, with empty fields: set the
  // kind first, then fill the fields. dkHtml is no source kind: it gives the base adaptor.
  void SetSourceKind(TDataKind kind);
  void SetDestinationKind(TDataKind kind);

  // Valid while the job lives and until the kind is set again.
  TTrundleUnknown& Source() { return *source_; }
  TTrundleUnknown& Destination() { return *destination_; }

  void Execute();
  // Asks a running Execute to end at the next record boundary: the destination's open
  // batch is rolled back (a server keeps the batches committed before it; a file kind
  // keeps what it wrote), SaveTable is not called (a file destination keeps its old
  // contents) and the outcome is kStopped. Safe to call from a signal handler or another
  // thread; a request made before Execute ends the next run before its first record.
  void RequestStop() noexcept { stop_requested_.store(true, std::memory_order_relaxed); }
  // Target of both adaptors' OnMessage: passes the line on to OnMessage when assigned.
  void RelayMessage(const std::string& message) const;
  // Target of both adaptors' OnTick: calls OnProgress again with the last percentage
  // once TickInterval has passed since the last call, so that a window can repaint and
  // take a Close during a long phase; true when a stop was requested.
  bool Tick();

  TTrundleMessageEvent OnMessage;
  // Called with the share of records moved, and again with the same share during long
  // phases (Tick); a caller that processes pending events here keeps its window alive.
  TTrundleProgressEvent OnProgress;
  // Half the 100 ms a window may go without answering. Tests set zero to see every tick.
  std::chrono::milliseconds TickInterval{50};
  TOnError OnError = TOnError::kStop;
  // kSkip: where the records set aside go (a RejectFile, created only when one is).
  std::string RejectFilePath;
  // kSkip: once more than this many records are set aside the run ends
  // (kTooManyRejects); negative: no limit.
  int64_t MaxRejects = -1;
  // Records per batch: the destination is committed after every BatchSize records (a
  // value below 1 counts as 1). Destinations without transactions are unaffected.
  int BatchSize = kRecordsPerBatch;
  // How often a batch the server undid for a passing reason (BatchUndoneError) is sent
  // again before the run gives up, and the pause before the first time (doubled before
  // each next). Tests set a zero pause.
  int BatchRetries = 5;
  std::chrono::milliseconds FirstRetryPause{50};
  TReplay Replay = TReplay::kWithoutRefused;
  // Source fields renamed or left out (field_map.h): applied to a created table's fields
  // and to every record. A map that does not fit the source throws FieldMapError from
  // Execute before any record is written.
  std::vector<FieldRename> FieldMap;

  // Called once both ends are open, before the first record, so that a caller can look
  // at the table the run is about to write (and set HashValues). May be empty.
  std::function<void()> OnEndsOpen;
  // The written values are hashed too (tally()), source field i as HashClasses[i] says
  // a destination field holds it, text through HashTextForm.
  bool HashValues = false;
  std::vector<ValueClass> HashClasses;
  TextForm HashTextForm;

  TRunOutcome outcome() const { return outcome_; }
  // Records written and kept: after a stop, without the open batch a server rolled back.
  int64_t records_moved() const { return records_moved_; }
  // Why a run that ended kNotOpened failed, for a box that says it: the last line the
  // failing adaptor logged (or a sentence naming the end that failed). Empty otherwise.
  const std::string& failure() const { return failure_; }
  // Records set aside by the last run (kSkip), each a line of RejectFilePath.
  int64_t records_rejected() const { return records_rejected_; }
  // Of the last run (records_read() during it too, for its pace): the records the
  // source delivered, the batches the destination
  // committed, whether the destination table was created, and what was written field
  // by field as far as the destination kept it (committed batches, and a file kind's
  // records).
  int64_t records_read() const { return records_read_; }
  int64_t batches_committed() const { return batches_committed_; }
  bool destination_created() const { return destination_created_; }
  const RunTally& tally() const { return tally_; }
  // The values the destination's writers stored changed, by destination field.
  const ValueChanges& value_changes() const { return changes_; }
  // When the last run began and ended, on the wall clock, and how long it took on a
  // steady one (the log's "Elapsed time"; 0 before Execute ends).
  std::chrono::system_clock::time_point started() const { return started_; }
  std::chrono::system_clock::time_point finished() const { return finished_; }
  double elapsed_seconds() const { return elapsed_seconds_; }

 private:
  // Opens both ends, moves the records and saves the destination; the outcome.
  TRunOutcome OpenAndMove();
  // kMoved, or why the loop ended early (kStopped, kReadFailed).
  TRunOutcome MoveRecords();
  // Logs how many records a stopped run kept (records_moved_) and how many of its open
  // batch the destination rolled back; kStopped.
  TRunOutcome ReportStop(int64_t undone);
  std::unique_ptr<TTrundleUnknown> MakeRelaying(TDataKind kind);

  // One record of the open batch, kept as read so that it can be written again.
  struct HeldRecord {
    int64_t number = 0;  // in the source, 1 for the first
    TRecordBuffer names;   // as read, up to the last field it has
    TRecordBuffer values;  // as long as names, or shorter where the source's were
    int filled = -1;       // names.size(): nothing past them is assigned
  };
  // Writes one record: false when the destination refused it and it was set aside
  // (kSkip); any other exception, and a refusal under kStop, goes on to the caller.
  // `layout`: the source's NamesLayout for the record (0: unknown).
  bool WriteOne(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                int filled, uint64_t layout);
  // Keeps a record written into the open batch, to be written again.
  void Hold(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values, int filled);
  // Sets held record `at` aside and takes it out of the batch.
  void SetAsideHeld(size_t at, const std::string& reason);
  // After a refusal that undid the open batch: rolls back, starts a new batch and writes
  // the held records again, setting aside each that is refused in turn.
  void ReplayBatch();
  // Runs `step` (a write or a commit of the open batch), after writing the held records
  // again when `replay_first`. When the server undoes the batch (BatchUndoneError), logs
  // it, pauses, writes the held records again and runs the step again, up to
  // BatchRetries times; then the error goes on. A stop requested during a pause throws
  // StopRequestedError.
  template <typename Step>
  void Retrying(const Step& step, bool replay_first = false);
  // ReplayBatch, retried as Retrying does.
  void ResendBatch();
  void PauseBeforeRetry(int retry);
  // Commits the open batch; under kSkip a record the destination names as refused only
  // now is set aside and the rest of the batch written and committed again.
  void CommitBatch();
  // kHalving and kOneByOne: commits held records [first, last) in transactions of their
  // own, setting aside each that is refused alone; `refused` when the range as a whole
  // was refused already. Leaves a new transaction open.
  void CommitPieces(size_t first, size_t last, bool refused);
  void SetAside(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                const std::string& reason);
  // The destination's Commit and Rollback, with the counts that follow them.
  void CountedCommit();
  void RollbackBatch();
  // kTooManyRejects: the stop's lines and the outcome.
  TRunOutcome ReportTooManyRejects(int64_t undone);
  // The log's closing lines about the records set aside, when there are any.
  void ReportRejects() const;

  std::unique_ptr<TTrundleUnknown> source_;
  std::unique_ptr<TTrundleUnknown> destination_;
  bool StopRequested() const { return stop_requested_.load(std::memory_order_relaxed); }
  void Progress(int32_t percent);

  // kNotOpened with failure_ set to the reason, the last line the adaptor logged since
  // last_adaptor_message_ was cleared, or `otherwise`.
  TRunOutcome NotOpened(const char* otherwise);

  TRunOutcome outcome_ = TRunOutcome::kNotRun;
  std::string failure_;
  // The last line an adaptor sent: the reason a step that failed gives.
  mutable std::string last_adaptor_message_;
  int64_t records_moved_ = 0;
  int64_t records_rejected_ = 0;
  int64_t records_read_ = 0;
  int64_t batches_committed_ = 0;
  bool destination_created_ = false;
  RunTally tally_;
  ValueChanges changes_;
  // A job never run (its database could not be made) reports the moment it was made.
  std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
  std::chrono::system_clock::time_point finished_ = started_;
  double elapsed_seconds_ = 0;
  std::vector<HeldRecord> held_;  // the open batch, kept only where a refusal undoes it
  size_t held_count_ = 0;         // of held_ in use (the rest keep their buffers)
  int64_t batch_number_ = 0;      // of the open batch, 1 for the first
  std::unique_ptr<RejectFile> rejects_;
  std::unique_ptr<FieldRenamer> renamer_;  // of the run, when FieldMap is not empty
  int32_t percent_ = 0;  // the last share passed to OnProgress
  std::chrono::steady_clock::time_point last_callback_;
  std::atomic<bool> stop_requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");
};

}  // namespace trundle

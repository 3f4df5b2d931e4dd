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
#include <memory>
#include <string>

#include "engine/trundle_unknown.h"

namespace trundle {

// How a run ended, for callers that need more than the log (the command line's exit
// status).
enum class TRunOutcome : uint8_t {
  kNotRun,      // Execute was not called, or left by an exception
  kNotOpened,   // the source, the destination or its creation failed: nothing moved
  kMoved,       // the record loop ran to its end
  kStopped,     // RequestStop ended the record loop early; SaveTable was not called
  kReadFailed,  // an error ended the source's reading early (its ReadError); SaveTable
                // was not called
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

  TRunOutcome outcome() const { return outcome_; }
  // Records written and kept: after a stop, without the open batch a server rolled back.
  int64_t records_moved() const { return records_moved_; }
  // Why a run that ended kNotOpened failed, for a box that says it: the last line the
  // failing adaptor logged (or a sentence naming the end that failed). Empty otherwise.
  const std::string& failure() const { return failure_; }

 private:
  // Opens both ends, moves the records and saves the destination; the outcome.
  TRunOutcome OpenAndMove();
  // kMoved, or why the loop ended early (kStopped, kReadFailed).
  TRunOutcome MoveRecords();
  // Logs how many records a stopped run kept (records_moved_) and how many of its open
  // batch the destination rolled back; kStopped.
  TRunOutcome ReportStop(int64_t undone);
  std::unique_ptr<TTrundleUnknown> MakeRelaying(TDataKind kind);

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
  int32_t percent_ = 0;  // the last share passed to OnProgress
  std::chrono::steady_clock::time_point last_callback_;
  std::atomic<bool> stop_requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");
};

}  // namespace trundle

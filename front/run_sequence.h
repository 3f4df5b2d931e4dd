// The steps of one table's run, shared by trundle-cli and the window: build the job from
// its description, make a missing destination database, run the batches, take away a
// database the run left empty, classify how the run ended, read the destination back
// when asked, and collect what the run report lists. Each end keeps its own
// presentation: it gives the callbacks, then turns the result into an exit status or a
// box.
//
//   RunSequence run(description);
//   run.OnMessage = [](const std::string& line) { Show(line); };
//   const RunResult result = run.Run();
//   if (!result.error.empty()) Complain(result.error);
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/trundle.h"
#include "front/job_description.h"
#include "front/verify.h"
#include "front/whole_database.h"

namespace trundle {

// How a run ended, as both ends tell it apart.
enum class RunEnd : uint8_t {
  kMoved,           // every record is in (some may be set aside)
  kNotCreated,      // the missing destination database could not be made
  kFieldMap,        // the field map does not fit the open source; nothing was written
  kNotOpened,       // the source or destination did not open, or its table was not made
  kFailed,          // an error ended the run
  kReadFailed,      // the source stopped reading on an error: a partial copy
  kTooManyRejects,  // more records were set aside than allowed: the run was stopped
  kStopped,         // Stop ended the run
  kNothingMoved,    // the run ended without moving (nothing else to say)
  kDiffers,         // the destination read back differs from the source
};

struct RunResult {
  RunEnd end = RunEnd::kNothingMoved;
  // The sentence for the user; empty for kMoved, kStopped and kNothingMoved. For
  // kDiffers the verification's text.
  std::string error;
  // The error is an exception's own text (a long one is shortened where it is shown),
  // not a line of the log.
  bool thrown = false;
};

class RunSequence {
 public:
  // Builds the job. The description must outlive the sequence.
  explicit RunSequence(const JobDescription& description);
  RunSequence(const RunSequence&) = delete;
  RunSequence& operator=(const RunSequence&) = delete;

  // The job, for settings the description has no word for and for Stop (RequestStop is
  // safe from a signal handler). Lives as long as the sequence.
  TTrundle& job() { return job_; }
  const TTrundle& job() const { return job_; }

  // Reads the destination back once the run has moved every record, and compares.
  // REQUIRES: VerifyRefusal(description) is empty; called before Run.
  void Verify();

  // The job's log lines, as the job sends them.
  std::function<void(const std::string& line)> OnMessage;
  // The share of the source read, in percent.
  std::function<void(int32_t percent)> OnProgress;
  // The sequence's own lines: a destination database made, or taken away again.
  std::function<void(const std::string& line)> OnNote;
  // The job has returned (or thrown): called before an unused database goes and before
  // the verification, with the result so far.
  std::function<void(const RunResult& result)> OnEnded;

  // Runs the steps once; never throws what the job throws.
  RunResult Run();

  // After Run: the log's warnings and errors and the lines that ended the run, for the
  // report.
  const std::vector<std::string>& Reported() const { return reported_; }
  // After Run with Verify: its result (when the run did not finish, the reason says so).
  const std::optional<Verification>& verification() const { return verification_; }
  // After Run: the run report as JSON, with the exit status the caller gave the run.
  std::string ReportJson(int exit_status) const;

 private:
  RunResult Execute();
  void Note(const std::string& line);

  const JobDescription& description_;
  TTrundle job_;
  std::optional<Verifier> verifier_;
  std::optional<Verification> verification_;
  std::vector<std::string> reported_;
};

// Before anything is opened: the sentence that refuses a run told to fail on an existing
// destination when the destination is there (a database is asked); empty otherwise.
std::string ExistingDestinationRefusal(const JobDescription& description);

// How the tables of a whole database's run ended, counted for its last word and status.
struct TablesTally {
  int moved = 0;          // kMoved
  int differs = 0;        // kDiffers: in, but not as the source has it
  int lost = 0;           // kFailed and kStopped: did not arrive
  int64_t set_aside = 0;  // records set aside, over every table
};
TablesTally TallyTables(const std::vector<TableResult>& results);

// "more than 3 records were set aside; the run was stopped"
std::string TooManyRejectsLine(int64_t max_rejects);

}  // namespace trundle

// One table's run from its description to its result; see run_sequence.h.
#include "front/run_sequence.h"

#include <exception>

#include "engine/errors.h"
#include "engine/log_text.h"
#include "front/register_adaptors.h"
#include "front/run_report.h"

namespace trundle {

std::string TooManyRejectsLine(int64_t max_rejects) {
  return "more than " + std::to_string(max_rejects) +
         " records were set aside; the run was stopped";
}

std::string ExistingDestinationRefusal(const JobDescription& description) {
  if (description.if_exists != IfExists::kFail || !DestinationExists(description, true))
    return "";
  return ExistingDestinationNote(description, true);
}

TablesTally TallyTables(const std::vector<TableResult>& results) {
  TablesTally tally;
  for (const TableResult& r : results) {
    tally.set_aside += r.records_rejected;
    if (r.outcome == TableOutcome::kMoved)
      ++tally.moved;
    else if (r.outcome == TableOutcome::kDiffers)
      ++tally.differs;
    else
      ++tally.lost;
  }
  return tally;
}

RunSequence::RunSequence(const JobDescription& description) : description_(description) {
  BuildJob(description_, job_);
}

void RunSequence::Verify() { verifier_.emplace(description_).Attach(job_); }

void RunSequence::Note(const std::string& line) {
  reported_.push_back(ShortenedLogLine(line));
}

RunResult RunSequence::Run() {
  job_.OnMessage = [this](const std::string& message) {
    if (ReportedMessage(message)) reported_.push_back(message);
    if (OnMessage) OnMessage(message);
  };
  job_.OnProgress = [this](int32_t percent) {
    if (OnProgress) OnProgress(percent);
  };
  RunResult result = Execute();
  if (verifier_ && !verification_) {
    // Asked for and not done: the report says why rather than nothing.
    verification_.emplace();
    verification_->reason = "the run did not finish";
  }
  return result;
}

RunResult RunSequence::Execute() {
  // A missing Access destination (--create-database) starts as an empty database, which
  // goes again when the run puts no table in it.
  CreatedDatabase created;
  try {
    created = CreateMissingDatabase(description_.destination);
  } catch (const std::exception& e) {
    Note(e.what());
    return {RunEnd::kNotCreated, e.what(), true};
  }
  if (!created.message.empty() && OnNote) OnNote(created.message);

  RunResult result;
  try {
    job_.Execute();
    switch (job_.outcome()) {
      case TRunOutcome::kMoved:
        result.end = RunEnd::kMoved;
        break;
      case TRunOutcome::kNotOpened:
        // The log has said why; the job keeps the sentence for a box.
        result = {RunEnd::kNotOpened, job_.failure(), false};
        break;
      case TRunOutcome::kReadFailed:
        // The log has the line already; a partial copy must not pass for a whole one.
        result = {RunEnd::kReadFailed, job_.Source().ReadError(), false};
        break;
      case TRunOutcome::kTooManyRejects:
        result = {RunEnd::kTooManyRejects, TooManyRejectsLine(job_.MaxRejects), false};
        break;
      case TRunOutcome::kStopped:
        result.end = RunEnd::kStopped;
        break;
      case TRunOutcome::kNotRun:
        result.end = RunEnd::kNothingMoved;
        break;
    }
  } catch (const FieldMapError& e) {
    // A map that does not fit the source is found only once it is open.
    result = {RunEnd::kFieldMap, e.what(), true};
  } catch (const NotOpenedError& e) {
    // A destination found unwritable only when its file is made (a text file is written
    // whole at the end) never opened, as one refused at the start.
    result = {RunEnd::kNotOpened, e.what(), true};
  } catch (const std::exception& e) {
    result = {RunEnd::kFailed, e.what(), true};
  }
  if (OnEnded) OnEnded(result);
  if (const std::string removed = RemoveUnusedDatabase(created); !removed.empty() && OnNote)
    OnNote(removed);
  if (result.end == RunEnd::kTooManyRejects) Note(result.error);
  if (result.end != RunEnd::kMoved || !verifier_) return result;

  verification_ = verifier_->Check(job_);
  if (verification_->sound()) return result;
  const std::string text = verification_->Text();
  for (size_t at = 0; at <= text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    Note(text.substr(at, end - at));
    at = end + 1;
  }
  return {RunEnd::kDiffers, text, false};
}

std::string RunSequence::ReportJson(int exit_status) const {
  RunReportFacts facts(description_, job_);
  facts.exit_status = exit_status;
  facts.messages = reported_;
  if (job_.records_rejected() > 0) facts.reject_file = job_.RejectFilePath;
  if (verification_) facts.verification = &*verification_;
  return RunReportJson(facts);
}

}  // namespace trundle

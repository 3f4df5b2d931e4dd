#include "engine/trundle.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>

#include "engine/adaptor_registry.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/locale_format.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

// How an end is named in the log's "Moving data from" line: by its file, or for an
// Access end by its table and the database file that holds it (a table name alone does
// not say which database was read or written).
std::string LogName(const TTrundleUnknown& end) {
  // A database file's table is named with the file (a server's data source is left out).
  if ((end.GetKind() != dkAccess && end.GetKind() != dkSqlite) || end.Database.empty())
    return end.TableName;
  return end.TableName.empty() ? end.Database : end.TableName + " in " + end.Database;
}

}  // namespace

TTrundle::TTrundle() : source_(MakeRelaying(dkUnknown)), destination_(MakeRelaying(dkUnknown)) {}

TTrundle::~TTrundle() {
  source_.reset();
  destination_.reset();
}

std::unique_ptr<TTrundleUnknown> TTrundle::MakeRelaying(TDataKind kind) {
  auto adaptor = MakeAdaptor(kind);
  adaptor->OnMessage = [this](const std::string& message) { RelayMessage(message); };
  adaptor->OnTick = [this] { return Tick(); };
  return adaptor;
}

void TTrundle::SetSourceKind(TDataKind kind) {
  source_.reset();
  source_ = MakeRelaying(kind == dkHtml ? dkUnknown : kind);
}

void TTrundle::SetDestinationKind(TDataKind kind) {
  destination_.reset();
  destination_ = MakeRelaying(kind);
}

void TTrundle::RelayMessage(const std::string& message) const {
  last_adaptor_message_ = message;
  if (!OnMessage) return;
  // Adaptors shorten the values and names they quote; this catches what passes through
  // unshortened (an engine's error text that echoes a whole statement or name).
  if (message.size() > kLogLineLimit)
    OnMessage(ShortenedLogLine(message));
  else
    OnMessage(message);
}

bool TTrundle::Tick() {
  const auto now = std::chrono::steady_clock::now();
  if (OnProgress && now - last_callback_ >= TickInterval) {
    last_callback_ = now;
    OnProgress(percent_);
  }
  return StopRequested();
}

void TTrundle::Progress(int32_t percent) {
  percent_ = percent;
  last_callback_ = std::chrono::steady_clock::now();
  if (OnProgress) OnProgress(percent);
}

void TTrundle::Execute() {
  outcome_ = TRunOutcome::kNotRun;
  records_moved_ = 0;
  records_rejected_ = 0;
  rejects_.reset();
  failure_.clear();
  records_read_ = 0;
  batches_committed_ = 0;
  destination_created_ = false;
  tally_.Start(false, {}, {});
  changes_.Clear();
  started_ = finished_ = std::chrono::system_clock::now();
  elapsed_seconds_ = 0;
  const double start = NowLocal();
  // The elapsed time is measured on a steady clock: the wall clock may jump (a change
  // to or from summer time, a clock set by hand) in the middle of a run.
  const auto steady_start = std::chrono::steady_clock::now();
  const std::shared_ptr<const LocaleFormats> snapshot = CurrentLocaleFormats();
  const LocaleFormats& formats = *snapshot;
  if (OnMessage) {
    OnMessage("Commenced: " + FormatLogTimestamp(start, formats));
    const bool to_clipboard = destination_->GetKind() == dkText && destination_->Clipboard;
    OnMessage("Moving data from " + LogName(*source_) +
              (to_clipboard ? " to clipboard" : " to " + LogName(*destination_)) + "\r\n");
  }
  // outcome_ stays kNotRun until the run ends without an exception: a caller that
  // catches one must not read it as "nothing moved" (records may have been written).
  percent_ = 0;
  last_callback_ = steady_start;
  const auto finish = [this, steady_start] {
    finished_ = std::chrono::system_clock::now();
    elapsed_seconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - steady_start).count();
  };
  try {
    const ValueChanges::Scope counting(changes_);
    outcome_ = OpenAndMove();
    finish();
  } catch (const std::exception& e) {
    finish();
    // The exception goes on to the caller unchanged; the log says that the run failed,
    // where it would otherwise end at whatever the run was doing.
    if (OnMessage) OnMessage("Failed: " + std::string(e.what()));
    ReportRejects();
    throw;
  }
  // A run that moved nothing because an end failed says so, not only by the adaptor's
  // own line: "Completed" follows as for every run that ends.
  if (outcome_ == TRunOutcome::kNotOpened && OnMessage)
    OnMessage("Failed: nothing was moved");
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - steady_start;
  elapsed_seconds_ = elapsed.count();
  if (OnMessage) {
    const double now = NowLocal();
    OnMessage("\r\nCompleted: " + FormatLogTimestamp(now, formats));
    OnMessage("Elapsed time: " + FormatElapsed(elapsed_seconds_ / 86400.0));
    // A stopped run ends by saying what it left behind, the question a user who stopped
    // it has.
    if (outcome_ == TRunOutcome::kStopped || outcome_ == TRunOutcome::kTooManyRejects)
      OnMessage(destination_->WhatAStopLeaves(records_moved_));
    ReportRejects();
  }
}

TRunOutcome TTrundle::OpenAndMove() {
  // A long OpenTable ends early when a stop is requested (its ticks say so); the run then
  // ends as stopped, before the destination is touched where the source was opening.
  last_adaptor_message_.clear();
  renamer_ = FieldMap.empty() ? nullptr : std::make_unique<FieldRenamer>(FieldMap);
  const bool source_open = source_->OpenTable();
  if (StopRequested()) return ReportStop(0);
  if (!source_open) return NotOpened("The source could not be opened");
  destination_->PrepareDestination();
  bool ok = destination_->OpenTable();
  if (StopRequested()) return ReportStop(0);
  // A destination that is there gets the records after its own: said, since a user who
  // meant a new table would otherwise learn it only from the file.
  if (ok && OnMessage) OnMessage("The destination table exists: the records are appended to it");
  if (!ok) {
    last_adaptor_message_.clear();
    if (renamer_) {
      MappedSource mapped(*source_, *renamer_);
      ok = destination_->CreateTable(mapped);
      if (!ok && !renamer_->error().empty()) throw FieldMapError(renamer_->error());
    } else {
      ok = destination_->CreateTable(*source_);
    }
    if (!ok) return NotOpened("The destination table could not be created");
    destination_created_ = true;
    // An Access source is read again once the destination exists: creating a table in
    // the same database may have closed its query.
    last_adaptor_message_.clear();
    if (source_->GetKind() == dkAccess && !source_->OpenTable())
      return NotOpened("The source could not be opened again");
  }
  if (OnEndsOpen) OnEndsOpen();
  const TRunOutcome outcome = MoveRecords();
  if (outcome != TRunOutcome::kMoved) return outcome;
  try {
    destination_->SaveTable();
  } catch (const StopRequestedError&) {
    // Stopped while the destination was being finished (its reader never came): a file
    // written whole at the end keeps its old contents, so nothing counts as moved.
    records_moved_ = 0;
    return ReportStop(0);
  }
  return outcome;
}

TRunOutcome TTrundle::NotOpened(const char* otherwise) {
  failure_ = last_adaptor_message_.empty() ? std::string(otherwise) : last_adaptor_message_;
  return TRunOutcome::kNotOpened;
}

TRunOutcome TTrundle::ReportStop(int64_t undone) {
  if (OnMessage)
    OnMessage("Stopped on request: " + std::to_string(records_moved_) + " records moved" +
              (undone > 0
                   ? "; the open batch of " + std::to_string(undone) + " records was rolled back"
                   : ""));
  return TRunOutcome::kStopped;
}

TRunOutcome TTrundle::ReportTooManyRejects(int64_t undone) {
  if (OnMessage)
    OnMessage("Stopped: more than " + std::to_string(MaxRejects) + " records were set aside; " +
              std::to_string(records_moved_) + " records moved" +
              (undone > 0
                   ? "; the open batch of " + std::to_string(undone) + " records was rolled back"
                   : ""));
  return TRunOutcome::kTooManyRejects;
}

void TTrundle::ReportRejects() const {
  if (!OnMessage || !rejects_) return;
  OnMessage(records_rejected_ == 1 ? "1 record was set aside in " + rejects_->path()
                                   : std::to_string(records_rejected_) +
                                         " records were set aside in " + rejects_->path());
}

void TTrundle::SetAside(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                        const std::string& reason) {
  // The log names the first few; a table with thousands of bad records would bury the
  // rest of the log under them.
  constexpr int64_t kRejectsLogged = 20;
  // A job given no path still keeps what it sets aside.
  if (!rejects_)
    rejects_ =
        std::make_unique<RejectFile>(RejectFilePath.empty() ? "rejects.csv" : RejectFilePath);
  rejects_->Add(number, names, values, reason);
  ++records_rejected_;
  if (!OnMessage) return;
  if (records_rejected_ <= kRejectsLogged)
    OnMessage(ShortenedLogLine("Record " + std::to_string(number) + " set aside: " + reason));
  else if (records_rejected_ == kRejectsLogged + 1)
    OnMessage("Further records set aside are listed only in " + rejects_->path());
}

template <typename Step>
void TTrundle::Retrying(const Step& step, bool replay_first) {
  for (int retry = 0;; ++retry) {
    try {
      if (retry > 0 || replay_first) ReplayBatch();
      step();
      return;
    } catch (const BatchUndoneError& e) {
      if (!destination_->MayUndoBatch()) throw;
      if (retry >= BatchRetries) {
        if (OnMessage && BatchRetries > 0)
          OnMessage("Batch " + std::to_string(batch_number_) + " undone by the server " +
                    std::to_string(retry + 1) + " times; the run gives up");
        throw;
      }
      if (OnMessage)
        OnMessage(ShortenedLogLine("Batch " + std::to_string(batch_number_) +
                                   " undone by the server (" + e.reason() +
                                   "); sending it again, try " + std::to_string(retry + 1) +
                                   " of " + std::to_string(BatchRetries)));
      PauseBeforeRetry(retry);
    }
  }
}

void TTrundle::PauseBeforeRetry(int retry) {
  // Waits in short steps so that a stop is taken and a window repaints meanwhile.
  const auto until = std::chrono::steady_clock::now() + FirstRetryPause * (1 << std::min(retry, 16));
  constexpr auto kStep = std::chrono::milliseconds(10);
  while (std::chrono::steady_clock::now() < until) {
    if (Tick()) throw StopRequestedError();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        kStep, until - std::chrono::steady_clock::now()));
  }
}

void TTrundle::Hold(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                    int filled) {
  if (held_count_ == held_.size()) held_.emplace_back();
  HeldRecord& record = held_[held_count_++];
  record.number = number;
  // Only the fields the record has are kept, not the job's whole buffers: a batch of
  // 50,000 records would otherwise hold 25 million values, most of them Unassigned.
  size_t count = filled >= 0 ? std::min(names.size(), static_cast<size_t>(filled)) : names.size();
  while (count > 0 && names[count - 1].IsUnassigned() &&
         (count > values.size() || values[count - 1].IsUnassigned()))
    --count;
  const auto end = static_cast<std::ptrdiff_t>(count);
  record.names.assign(names.begin(), names.begin() + end);
  record.values.assign(values.begin(), values.begin() + std::min(end, static_cast<std::ptrdiff_t>(values.size())));
  // Every name past the kept ones is Unassigned, as a destination told `filled` expects.
  record.filled = static_cast<int>(count);
}

void TTrundle::SetAsideHeld(size_t at, const std::string& reason) {
  SetAside(held_[at].number, held_[at].names, held_[at].values, reason);
  std::rotate(held_.begin() + static_cast<std::ptrdiff_t>(at),
              held_.begin() + static_cast<std::ptrdiff_t>(at) + 1,
              held_.begin() + static_cast<std::ptrdiff_t>(held_count_));
  --held_count_;
}

bool TTrundle::WriteOne(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                        int filled, uint64_t layout) {
  // The open batch is kept where a refusal to be set aside undoes it, and where the
  // server may undo it whole and want it again.
  const bool held = (OnError == TOnError::kSkip && destination_->RollsBackOpenBatch()) ||
                    destination_->MayUndoBatch();
  try {
    Retrying([&] {
      destination_->SetNamesFilled(filled, layout);
      destination_->WriteRecord(names, values);
    });
  } catch (const RecordRefusedError& e) {
    if (OnError == TOnError::kStop) throw;
    const int64_t at = e.batch_position();
    if (held && at >= 0 && static_cast<size_t>(at) < held_count_) {
      // An earlier record of the batch, found out only now: this one was taken into the
      // batch with the others, and is written again with them.
      Hold(number, names, values, filled);
      SetAsideHeld(static_cast<size_t>(at), e.cause());
      ResendBatch();
      return true;
    }
    SetAside(number, names, values, e.cause());
    if (held) ResendBatch();
    return false;
  }
  tally_.Add(names, values, filled);
  if (held) Hold(number, names, values, filled);
  return true;
}

void TTrundle::ReplayBatch() {
  // Each pass writes the batch again without the records refused so far; a record
  // refused only now (a key that an earlier record of the batch holds) starts another.
  for (;;) {
    RollbackBatch();
    destination_->StartTransaction();
    size_t i = 0;
    try {
      for (; i < held_count_; ++i) {
        destination_->SetNamesFilled(held_[i].filled);
        destination_->WriteRecord(held_[i].names, held_[i].values);
        tally_.Add(held_[i].names, held_[i].values, held_[i].filled);
      }
      return;
    } catch (const RecordRefusedError& e) {
      // A record the server took before and refuses when sent again (a key another
      // transaction took meanwhile) ends a run that does not set records aside.
      if (OnError == TOnError::kStop) throw;
      const int64_t at = e.batch_position();
      SetAsideHeld(at >= 0 && static_cast<size_t>(at) <= i ? static_cast<size_t>(at) : i,
                   e.cause());
    }
  }
}

void TTrundle::ResendBatch() {
  Retrying([] {}, true);
}

void TTrundle::CommitBatch() {
  bool replay = false;  // the held records go in again before the commit
  for (;;) {
    try {
      Retrying([this] { CountedCommit(); }, replay);
      return;
    } catch (const RecordRefusedError& e) {
      // A refusal the destination learnt of only at the end of the batch (a server's
      // COPY) names the held record; one it cannot place ends the run.
      const int64_t at = e.batch_position();
      if (OnError == TOnError::kStop || !destination_->RollsBackOpenBatch() || at < 0 ||
          static_cast<size_t>(at) >= held_count_)
        throw;
      if (Replay != TReplay::kWithoutRefused) return CommitPieces(0, held_count_, true);
      SetAsideHeld(static_cast<size_t>(at), e.cause());
      replay = true;
    }
  }
}

void TTrundle::CommitPieces(size_t first, size_t last, bool refused) {
  if (!refused) {
    RollbackBatch();
    destination_->StartTransaction();
    try {
      for (size_t i = first; i < last; ++i) {
        destination_->SetNamesFilled(held_[i].filled);
        destination_->WriteRecord(held_[i].names, held_[i].values);
        tally_.Add(held_[i].names, held_[i].values, held_[i].filled);
      }
      CountedCommit();
      return;
    } catch (const RecordRefusedError& e) {
      if (last - first == 1) {
        SetAside(held_[first].number, held_[first].names, held_[first].values, e.cause());
        RollbackBatch();
        return;
      }
    }
  }
  if (Replay == TReplay::kHalving) {
    const size_t middle = first + (last - first) / 2;
    CommitPieces(first, middle, false);
    CommitPieces(middle, last, false);
  } else {
    for (size_t i = first; i < last; ++i) CommitPieces(i, i + 1, false);
  }
  RollbackBatch();
  destination_->StartTransaction();
}

void TTrundle::CountedCommit() {
  destination_->Commit();
  // The closing Commit after a last full batch commits nothing.
  if (tally_.open_records() > 0) ++batches_committed_;
  tally_.Commit();
}

void TTrundle::RollbackBatch() {
  destination_->Rollback();
  // A file kind keeps what it wrote.
  if (destination_->RollsBackOpenBatch())
    tally_.Undo();
  else
    tally_.Commit();
}

TRunOutcome TTrundle::MoveRecords() {
  TRecordBuffer names(kRecordBufferSize);
  TRecordBuffer values(kRecordBufferSize);
  // With a field map the destination gets these instead, filled from the record read.
  TRecordBuffer mapped_names(renamer_ ? kRecordBufferSize : 0);
  TRecordBuffer mapped_values(renamer_ ? kRecordBufferSize : 0);
  if (OnMessage) OnMessage("Moving data");
  int64_t count = 0;  // records read
  // A stop request is honoured between records, so that every record is either
  // written whole or not begun.
  int64_t committed = 0;  // records written up to the last Commit
  bool stopped = false;
  bool too_many = false;  // more records set aside than MaxRejects
  held_count_ = 0;
  batch_number_ = 1;
  const int64_t batch_size = std::max(BatchSize, 1);
  tally_.Start(HashValues, HashClasses, HashTextForm);
  try {
    destination_->StartTransaction();
    while (!(stopped = StopRequested()) && source_->ReadRecord(names, values)) {
      records_read_ = ++count;
      // The renamed names follow from the source's alone, so they keep its layout.
      const uint64_t layout = source_->NamesLayout(names, values);
      if (renamer_) {
        const int filled = renamer_->Apply(names, values, mapped_names, mapped_values);
        WriteOne(count, mapped_names, mapped_values, filled, layout);
      } else {
        WriteOne(count, names, values, source_->FilledNames(names, values), layout);
      }
      records_moved_ = count - records_rejected_;
      if (MaxRejects >= 0 && records_rejected_ > MaxRejects) {
        too_many = true;
        break;
      }
      if (count % batch_size == 0) {
        CommitBatch();
        records_moved_ = count - records_rejected_;
        committed = records_moved_;
        held_count_ = 0;
        ++batch_number_;
        destination_->StartTransaction();
      }
      // 64-bit so that a long run cannot overflow; a source that does not know its size
      // (RecordCount 0) reports no share until the final 100, only the ticks.
      if (OnProgress && source_->RecordCount > 0)
        Progress(
            static_cast<int32_t>(std::min<int64_t>(count * 100 / source_->RecordCount, INT32_MAX)));
      else
        Tick();
    }
    // A run stopped on request keeps the batches committed and undoes the open one
    // where the destination can, as a failed run does.
    if (stopped || too_many) {
      RollbackBatch();
    } else {
      CommitBatch();
      records_moved_ = count - records_rejected_;
      // Records set aside at the last batch's commit count against the limit as well; the
      // batch itself is committed.
      if (MaxRejects >= 0 && records_rejected_ > MaxRejects) {
        too_many = true;
        committed = records_moved_;
      }
    }
  } catch (const StopRequestedError&) {
    // A stop that ended a wait inside a read or a write (a pipe nobody feeds or empties):
    // the record under way is not written, and the run ends as any stopped run.
    RollbackBatch();
    stopped = true;
  } catch (...) {
    // What was committed stays; the open batch is undone where the destination can.
    RollbackBatch();
    throw;
  }
  if (stopped || too_many) {
    const int64_t undone = destination_->RollsBackOpenBatch() ? records_moved_ - committed : 0;
    records_moved_ -= undone;
    return too_many ? ReportTooManyRejects(undone) : ReportStop(undone);
  }
  // A source that logged an error and stopped reading has not delivered everything: the
  // destination is not finished as if it had (a file destination keeps its old contents).
  if (!source_->ReadError().empty()) {
    if (OnMessage)
      OnMessage("Stopped by an error reading the source: " + std::to_string(records_moved_) +
                " records moved");
    return TRunOutcome::kReadFailed;
  }
  Progress(100);
  if (OnMessage) OnMessage(std::to_string(records_moved_) + " records moved");
  return TRunOutcome::kMoved;
}

}  // namespace trundle

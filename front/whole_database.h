// A whole database in one run: every user table of a source database (Access, SQLite,
// a server) or every table file of a source folder, each copied by a run of its own into
// a destination database or a folder of files of one kind.
//
//   WholeDatabaseOptions o;
//   o.source.kind = dkAccess;
//   o.source.database = "old.mdb";
//   o.destination.kind = dkSqlite;
//   o.destination.database = "new.sqlite";
//   WholeDatabaseRun run(o);
//   run.OnMessage = [](const std::string& table, const std::string& line) { ... };
//   if (std::string e = run.Plan(); !e.empty()) Refuse(e);
//   const int failed = run.Run();  // the tables that failed; 0 when all arrived
//
// Each table has its own TTrundle and adaptors, so its own batches, its own records set
// aside (a reject file named by the table) and its own result. A table that fails does
// not stop the others; Stop ends the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/trundle.h"
#include "front/job_description.h"

namespace trundle {

struct WholeDatabaseOptions {
  // The source: a database kind with `database` (and user, password) filled, or a file
  // kind with `file` naming the folder that holds its table files. dkUnknown with a
  // folder: every table file of a kind known by its extension.
  EndDescription source;
  // The destination: a database kind with `database` filled (create_database makes a
  // missing Access one), or a file kind with `file` naming the folder each table becomes
  // a file in (made when missing).
  EndDescription destination;
  std::vector<std::string> tables;          // only these (empty: every table)
  std::vector<std::string> exclude_tables;  // never these
  IfExists if_exists = IfExists::kAppend;   // per table, as for one run
  TOnError on_error = TOnError::kStop;
  // kSkip: the folder each table's records set aside go in, as TABLE.rejects.csv (made
  // when missing); empty: the current folder.
  std::string reject_folder;
  int64_t max_rejects = -1;  // per table
  int batch_size = kRecordsPerBatch;
  bool verify = false;  // each table read back and compared once it is in
  int jobs = 1;         // tables at once, 1..16
};

// How one table's run ended.
enum class TableOutcome : uint8_t {
  kMoved,     // every record is in (some may be set aside)
  kFailed,    // it did not open, or an error ended it; `error` says why
  kDiffers,   // verify found the destination differing
  kStopped,   // Stop ended it, or it never started because of Stop
};

struct TableResult {
  std::string table;        // the source's table name
  std::string destination;  // the destination table, or the file it became
  TableOutcome outcome = TableOutcome::kFailed;
  std::string error;        // kFailed, kDiffers: the reason in a sentence
  int64_t records_read = 0;
  int64_t records_moved = 0;
  int64_t records_rejected = 0;
  std::string reject_file;  // where records were set aside; empty when none were
  bool created = false;     // the destination table was made by this run
  double seconds = 0;
  std::string report_json;  // the table's run report (front/run_report), one object
};

// The order that loads parents before children: indexes into `tables`, each table after
// every table it refers to (a relationship's RefTable) that `tables` holds. The tables of
// a cycle keep their order in `tables`, after all the others; a table that refers to
// itself waits for nothing. Names are matched exactly, else ignoring letter case.
std::vector<size_t> ParentsFirst(const std::vector<std::string>& tables,
                                 const TRelationDefs& relations);

class WholeDatabaseRun {
 public:
  explicit WholeDatabaseRun(WholeDatabaseOptions options);
  ~WholeDatabaseRun();
  WholeDatabaseRun(const WholeDatabaseRun&) = delete;
  WholeDatabaseRun& operator=(const WholeDatabaseRun&) = delete;

  // Lists the source's tables, picks those the options ask for and works out where
  // each goes. Empty on success, else a sentence for the user (a --tables name the
  // source lacks, a source that cannot be read). Run calls it when it was not called.
  std::string Plan();
  // The tables Plan chose, in the order they are loaded (parents before children when
  // jobs is 1 and the source keeps relationships), and where each goes.
  const std::vector<std::string>& Tables() const { return tables_; }
  std::string DestinationOf(const std::string& table) const;

  // Copies every planned table, then carries the relationships among the tables this
  // run created. Returns how many tables did not arrive whole (kFailed, kDiffers,
  // kStopped); a Plan error counts as -1. Call from any one thread (the window's worker
  // thread); the callbacks below come from that thread or, with jobs above 1, from the
  // run's own worker threads, one at a time (the run holds one mutex around them), never
  // from two threads at once.
  int Run();
  // Ends the run at the next record boundary of every running table; tables not begun
  // are not begun. Safe from any thread and from a signal handler.
  void Stop() noexcept;

  // A log line of one table (`table` names it), or of the whole run (`table` empty).
  std::function<void(const std::string& table, const std::string& line)> OnMessage;
  // A table's progress: its share of records read in percent, and records read so far.
  std::function<void(const std::string& table, int percent, int64_t records)> OnProgress;
  // A table has ended, with its outcome.
  std::function<void(const TableResult& result)> OnTableFinished;

  // After Run: every table's result, in the order of Tables().
  const std::vector<TableResult>& Results() const { return results_; }
  // After Run: the summary the log ends with, one line per table, and the totals.
  std::string Summary() const;
  // After Run: a JSON object with one entry per table and the totals.
  std::string ReportJson() const;

 private:
  bool SourceIsFolder() const;
  bool DestinationIsFolder() const;
  // The source's tables (a folder's files, with their paths and kinds); an error or empty.
  std::string ListSource(std::vector<std::string>& names);
  // One table's run, described as a single run would be.
  JobDescription DescribeTable(size_t index) const;
  void RunTable(size_t index);
  void CarryRelationships();
  void Say(const std::string& table, const std::string& line);
  void OrderByRelationships();

  WholeDatabaseOptions options_;
  bool planned_ = false;
  std::vector<std::string> tables_;
  std::vector<std::string> destinations_;       // by table, as tables_
  std::vector<std::string> existing_before_;    // destination tables before the run
  std::vector<std::string> source_files_;       // a folder source: by table, as tables_
  std::vector<TDataKind> source_kinds_;         // a folder source: each file's kind
  TRelationDefs relations_;                     // the source's, when it keeps them
  std::string relation_note_;                   // why they could not be read
  std::vector<TableResult> results_;
  std::mutex output_;                           // one caller of the callbacks at a time
  std::mutex writer_;                           // one writer of a one-file destination
  std::atomic<bool> stop_{false};
  std::mutex jobs_mutex_;
  std::vector<TTrundle*> running_;              // the jobs Stop reaches
};

}  // namespace trundle

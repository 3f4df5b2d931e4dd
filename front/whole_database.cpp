#include "front/whole_database.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/json_writer.h"
#include "front/kinds.h"
#include "front/register_adaptors.h"
#include "front/run_report.h"
#include "front/verify.h"

namespace trundle {
namespace {

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string JsonString(const std::string& text) {
  JsonWriter json;
  json.String(text);
  return json.text();
}

bool IsSystemTable(const std::string& name) {
  const std::string lower = AsciiLower(name);
  return lower.rfind("msys", 0) == 0 || lower.rfind("sqlite_", 0) == 0;
}

// The index of name in names: an exact match first, else one that ignores letter case.
int FindName(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  for (size_t i = 0; i < names.size(); ++i)
    if (EqualsIgnoringAsciiCase(names[i], name)) return static_cast<int>(i);
  return -1;
}

std::string Extension(const std::string& file) {
  const size_t dot = file.rfind('.');
  return dot == std::string::npos || dot == 0 ? "" : AsciiLower(file.substr(dot));
}

std::string Stem(const std::string& file) {
  const size_t dot = file.rfind('.');
  return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

// A table's name as a file name: '/', control characters and the characters other
// systems refuse become '_'; a name of dots only, or none, becomes "table".
std::string FileNameFor(const std::string& table) {
  std::string name;
  for (unsigned char c : table)
    name += (c < 0x20 || c == 0x7f || std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) !=
                                          std::string_view::npos)
                ? '_'
                : static_cast<char>(c);
  if (name.find_first_not_of('.') == std::string::npos) name = "table";
  return name;
}

bool MakeFolder(const std::string& path, std::string& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    error = "The destination " + path + " is a file, not a folder";
    return false;
  }
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolder(path.substr(0, slash), error))
    return false;
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    error = "The folder " + path + " could not be created: " + std::strerror(errno);
    return false;
  }
  return true;
}

const char* OutcomeWord(TableOutcome outcome) {
  switch (outcome) {
    case TableOutcome::kMoved: return "moved";
    case TableOutcome::kFailed: return "failed";
    case TableOutcome::kDiffers: return "differs";
    case TableOutcome::kStopped: return "stopped";
  }
  return "failed";
}

// A finished table's counts and its run report, from its job.
void TakeCounts(const TTrundle& job, const JobDescription& d,
                const std::vector<std::string>& reported, const Verification* verification,
                TableResult& result) {
  result.records_read = job.records_read();
  result.records_moved = job.records_moved();
  result.records_rejected = job.records_rejected();
  if (result.records_rejected > 0) result.reject_file = job.RejectFilePath;
  result.created = job.destination_created();
  result.seconds = job.elapsed_seconds();
  RunReportFacts facts(d, job);
  facts.exit_status = result.outcome == TableOutcome::kMoved ? (result.records_rejected ? 4 : 0)
                      : result.outcome == TableOutcome::kDiffers ? 5
                                                                 : 3;
  facts.messages = reported;
  facts.reject_file = result.reject_file;
  facts.verification = verification;
  try {
    result.report_json = RunReportJson(facts);
  } catch (const std::exception&) {
    result.report_json = "{}";
  }
}

}  // namespace

WholeDatabaseRun::WholeDatabaseRun(WholeDatabaseOptions options) : options_(std::move(options)) {
  options_.jobs = std::clamp(options_.jobs, 1, 16);
}

WholeDatabaseRun::~WholeDatabaseRun() = default;

bool WholeDatabaseRun::SourceIsFolder() const {
  return options_.source.kind == dkUnknown || IsFileKind(options_.source.kind);
}

bool WholeDatabaseRun::DestinationIsFolder() const { return IsFileKind(options_.destination.kind); }

std::string WholeDatabaseRun::ListSource(std::vector<std::string>& names) {
  const EndDescription& source = options_.source;
  if (!SourceIsFolder()) {
    try {
      names = DatabaseTables(source.kind, source.database, source.user, source.password,
                             source.dao_version.empty() ? "dao36" : source.dao_version);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
  DIR* dir = opendir(source.file.c_str());
  if (!dir) return "The source folder " + source.file + " cannot be read: " + std::strerror(errno);
  std::vector<std::string> files;
  while (const dirent* entry = readdir(dir)) files.emplace_back(entry->d_name);
  closedir(dir);
  std::sort(files.begin(), files.end());
  const KindDeclaration* wanted = FindKind(source.kind);
  for (const std::string& file : files) {
    const std::string path = source.file + "/" + file;
    struct stat st {};
    if (file[0] == '.' || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::optional<TDataKind> kind;
    if (wanted) {
      for (const std::string& ext : wanted->extensions)
        if (Extension(file) == ext) kind = wanted->kind;
    } else {
      kind = KindOfLocation(path);
    }
    const KindDeclaration* declared = kind ? FindKind(*kind) : nullptr;
    if (!declared || !declared->Can(kaRead | kaOneFile)) continue;
    // Two files of one name (a.csv beside a.dbf) stay two tables, by their whole names.
    std::string name = FindName(names, Stem(file)) >= 0 ? file : Stem(file);
    names.push_back(name);
    source_files_.push_back(path);
    source_kinds_.push_back(*kind);
  }
  return "";
}

std::string WholeDatabaseRun::Plan() {
  planned_ = false;
  tables_.clear();
  destinations_.clear();
  source_files_.clear();
  source_kinds_.clear();
  std::vector<std::string> names;
  if (std::string e = ListSource(names); !e.empty()) return e;
  const std::string where = SourceIsFolder() ? options_.source.file : options_.source.database;
  for (const std::string& asked : options_.tables)
    if (FindName(names, asked) < 0)
      return "The table " + asked + " is not in " + where;
  for (const std::string& asked : options_.exclude_tables)
    if (FindName(names, asked) < 0)
      return "The table " + asked + " (--exclude-tables) is not in " + where;
  std::vector<std::string> files;
  std::vector<TDataKind> kinds;
  for (size_t i = 0; i < names.size(); ++i) {
    if (IsSystemTable(names[i])) continue;
    if (!options_.tables.empty() && FindName(options_.tables, names[i]) < 0) continue;
    if (FindName(options_.exclude_tables, names[i]) >= 0) continue;
    tables_.push_back(names[i]);
    if (SourceIsFolder()) {
      files.push_back(source_files_[i]);
      kinds.push_back(source_kinds_[i]);
    }
  }
  source_files_ = std::move(files);
  source_kinds_ = std::move(kinds);
  if (tables_.empty()) return where + " holds no tables to copy";

  const KindDeclaration* source_kind = FindKind(options_.source.kind);
  relations_.clear();
  if (source_kind && source_kind->list_relationships) {
    try {
      relations_ = source_kind->list_relationships({options_.source.database, options_.source.user,
                                                    options_.source.password,
                                                    options_.source.dao_version});
    } catch (const std::exception& e) {
      relation_note_ = std::string("The relationships of ") + where + " cannot be read: " + e.what();
    }
  }
  if (options_.jobs == 1) OrderByRelationships();

  // Where each table goes: a file of the destination kind named by it, never two on one
  // file (names are compared ignoring letter case, as some file systems do).
  std::set<std::string> taken;
  const KindDeclaration* dest_kind = FindKind(options_.destination.kind);
  const std::string ext =
      dest_kind && !dest_kind->extensions.empty() ? dest_kind->extensions.front() : "";
  for (const std::string& table : tables_) {
    if (!DestinationIsFolder()) {
      destinations_.push_back(table);
      continue;
    }
    const std::string base = FileNameFor(table);
    std::string name = base + ext;
    for (int n = 2; taken.count(AsciiLower(name)); ++n) name = base + "_" + std::to_string(n) + ext;
    taken.insert(AsciiLower(name));
    destinations_.push_back(options_.destination.file + "/" + name);
  }
  existing_before_.clear();
  if (!DestinationIsFolder()) {
    // A database not there yet holds nothing; one that cannot be read is found out by
    // the first table's run, which names the cause.
    try {
      const EndDescription& d = options_.destination;
      existing_before_ = DatabaseTables(d.kind, d.database, d.user, d.password,
                                        d.dao_version.empty() ? "dao36" : d.dao_version);
    } catch (const std::exception&) {
    }
  }
  planned_ = true;
  return "";
}

std::vector<size_t> ParentsFirst(const std::vector<std::string>& tables,
                                 const TRelationDefs& relations) {
  std::vector<size_t> order;
  std::vector<bool> placed(tables.size(), false);
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < tables.size(); ++i) {
      if (placed[i]) continue;
      bool ready = true;
      for (const TRelationDef& r : relations) {
        // A table that refers to itself waits for no one.
        if (!EqualsIgnoringAsciiCase(r.Table, tables[i]) ||
            EqualsIgnoringAsciiCase(r.RefTable, tables[i]))
          continue;
        const int parent = FindName(tables, r.RefTable);
        if (parent >= 0 && !placed[parent]) ready = false;
      }
      if (!ready) continue;
      placed[i] = progress = true;
      order.push_back(i);
    }
  }
  // What a cycle holds stays in the source's order, after the rest.
  for (size_t i = 0; i < tables.size(); ++i)
    if (!placed[i]) order.push_back(i);
  return order;
}

void WholeDatabaseRun::OrderByRelationships() {
  if (relations_.empty()) return;
  std::vector<std::string> ordered;
  std::vector<std::string> files;
  std::vector<TDataKind> kinds;
  for (size_t at : ParentsFirst(tables_, relations_)) {
    ordered.push_back(tables_[at]);
    if (!source_files_.empty()) {
      files.push_back(source_files_[at]);
      kinds.push_back(source_kinds_[at]);
    }
  }
  tables_ = std::move(ordered);
  source_files_ = std::move(files);
  source_kinds_ = std::move(kinds);
}

std::string WholeDatabaseRun::DestinationOf(const std::string& table) const {
  const int at = FindName(tables_, table);
  return at < 0 ? "" : destinations_[at];
}

void WholeDatabaseRun::Say(const std::string& table, const std::string& line) {
  const std::lock_guard<std::mutex> lock(output_);
  if (OnMessage) OnMessage(table, line);
}

void WholeDatabaseRun::Stop() noexcept {
  stop_.store(true);
  // A signal handler may not take a mutex; the jobs see stop_ at their next record
  // through their own stop request, set below when it can be reached safely.
  if (jobs_mutex_.try_lock()) {
    for (TTrundle* job : running_) job->RequestStop();
    jobs_mutex_.unlock();
  }
}

JobDescription WholeDatabaseRun::DescribeTable(size_t index) const {
  JobDescription d;
  d.source = options_.source;
  if (SourceIsFolder()) {
    d.source.kind = source_kinds_[index];
    d.source.file = source_files_[index];
    d.source.sql = WholeTableSql(d.source.kind, d.source.file);
  } else {
    d.source.table = tables_[index];
    d.source.sql = d.source.kind == dkOracle || d.source.kind == dkPostgres
                       ? ""
                       : WholeTableSql(d.source.kind, tables_[index]);
  }
  d.destination = options_.destination;
  if (DestinationIsFolder()) {
    d.destination.file = destinations_[index];
  } else {
    d.destination.table = destinations_[index];
    // Every table of a database is made when missing, a server's too.
    d.destination.create_table = true;
  }
  d.if_exists = options_.if_exists;
  d.html_title = tables_[index];
  d.on_error = options_.on_error;
  d.max_rejects = options_.max_rejects;
  d.batch_size = options_.batch_size;
  const std::string folder = options_.reject_folder.empty() ? "." : options_.reject_folder;
  d.reject_file = folder + "/" + FileNameFor(tables_[index]) + ".rejects.csv";
  return d;
}

void WholeDatabaseRun::RunTable(size_t index) {
  const std::string& table = tables_[index];
  TableResult& result = results_[index];
  result.table = table;
  result.destination = destinations_[index];
  if (stop_.load()) {
    result.outcome = TableOutcome::kStopped;
    result.error = "the run was stopped before it began";
    return;
  }
  const JobDescription d = DescribeTable(index);
  std::vector<std::string> reported;
  // A destination that is one file takes one writer at a time. The lock is held until
  // the job and its adaptors are gone: a SQLite adaptor marks the file it reads while it
  // lives, and the next writer would take that mark for a reader of its own run.
  std::unique_lock<std::mutex> writing(writer_, std::defer_lock);
  if (!DestinationIsFolder() && options_.destination.kind != dkOracle &&
      options_.destination.kind != dkPostgres)
    writing.lock();
  TTrundle job;
  BuildJob(d, job);
  job.OnMessage = [&](const std::string& line) {
    if (ReportedMessage(line)) reported.push_back(line);
    Say(table, line);
  };
  job.OnProgress = [&](int32_t percent) {
    // A Stop from a signal handler reaches the job here when it could not take the list.
    if (stop_.load()) job.RequestStop();
    const std::lock_guard<std::mutex> lock(output_);
    if (OnProgress) OnProgress(table, percent, job.records_read());
  };
  std::optional<Verifier> verifier;
  if (options_.verify && VerifyRefusal(d).empty()) verifier.emplace(d).Attach(job);
  {
    const std::lock_guard<std::mutex> lock(jobs_mutex_);
    running_.push_back(&job);
    if (stop_.load()) job.RequestStop();
  }
  std::optional<Verification> verification;
  try {
    if (d.if_exists == IfExists::kFail && DestinationExists(d, true))
      throw TrundleError(ExistingDestinationNote(d, true) + " (--if-exists fail)");
    if (std::string e = SameAsSourceMessage(d); !e.empty()) throw TrundleError(e);
    job.Execute();
    switch (job.outcome()) {
      case TRunOutcome::kMoved: result.outcome = TableOutcome::kMoved; break;
      case TRunOutcome::kStopped: result.outcome = TableOutcome::kStopped; break;
      case TRunOutcome::kReadFailed: result.error = job.Source().ReadError(); break;
      case TRunOutcome::kTooManyRejects:
        result.error = "more than " + std::to_string(d.max_rejects) +
                       " records were set aside; the table was stopped";
        break;
      default: result.error = job.failure().empty() ? "it did not open" : job.failure();
    }
    if (result.outcome == TableOutcome::kMoved && verifier) {
      verification = verifier->Check(job);
      Say(table, verification->Text());
      if (!verification->sound()) {
        result.outcome = TableOutcome::kDiffers;
        result.error = "the destination differs from the source";
      }
    }
  } catch (const std::exception& e) {
    result.outcome = stop_.load() ? TableOutcome::kStopped : TableOutcome::kFailed;
    result.error = e.what();
  }
  {
    const std::lock_guard<std::mutex> lock(jobs_mutex_);
    running_.erase(std::find(running_.begin(), running_.end(), &job));
  }
  if (!result.error.empty()) reported.push_back(result.error);
  TakeCounts(job, d, reported, verification ? &*verification : nullptr, result);
  char line[200];
  std::snprintf(line, sizeof line, "%s: %lld records moved, %lld set aside, %.1f s",
                OutcomeWord(result.outcome), static_cast<long long>(result.records_moved),
                static_cast<long long>(result.records_rejected), result.seconds);
  Say(table, line + (result.error.empty() ? "" : "; " + result.error));
  const std::lock_guard<std::mutex> lock(output_);
  if (OnTableFinished) OnTableFinished(result);
}

int WholeDatabaseRun::Run() {
  if (!planned_)
    if (std::string e = Plan(); !e.empty()) {
      Say("", e);
      return -1;
    }
  results_.assign(tables_.size(), TableResult{});
  if (DestinationIsFolder()) {
    std::string error;
    if (!MakeFolder(options_.destination.file, error)) {
      Say("", error);
      return -1;
    }
  }
  if (options_.on_error == TOnError::kSkip && !options_.reject_folder.empty()) {
    std::string error;
    if (!MakeFolder(options_.reject_folder, error)) {
      Say("", error);
      return -1;
    }
  }
  CreatedDatabase created;
  try {
    created = CreateMissingDatabase(options_.destination);
    if (!created.message.empty()) Say("", created.message);
  } catch (const std::exception& e) {
    Say("", e.what());
    return -1;
  }
  const bool one_file = options_.destination.kind == dkAccess || options_.destination.kind == dkSqlite;
  const size_t workers = std::min<size_t>(options_.jobs, tables_.size());
  if (one_file && workers > 1)
    Say("", "The destination " + options_.destination.database +
                " is one file, which takes one writer at a time: its tables are written one "
                "after another");
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < tables_.size();) RunTable(i);
  };
  std::vector<std::thread> threads;
  for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  if (!stop_.load()) CarryRelationships();
  const std::string removed = RemoveUnusedDatabase(created);
  if (!removed.empty()) Say("", removed);
  int failed = 0;
  for (const TableResult& r : results_)
    if (r.outcome != TableOutcome::kMoved) ++failed;
  Say("", Summary());
  return failed;
}

// The relationships among the tables this run created (a table that was there before
// keeps its own structure), given to the destination once every table is in. What cannot
// be carried is said once for the run, never per table or record.
void WholeDatabaseRun::CarryRelationships() {
  if (!relation_note_.empty()) Say("", relation_note_);
  const std::string where = SourceIsFolder() ? options_.source.file : options_.source.database;
  const KindDeclaration* source_kind = FindKind(options_.source.kind);
  const KindDeclaration* dest_kind = FindKind(options_.destination.kind);
  const bool dest_holds = !DestinationIsFolder() && dest_kind && dest_kind->add_relationships;
  if (!source_kind || !source_kind->list_relationships) {
    if (dest_holds && SourceIsFolder())
      Say("", "No relationships are carried: a folder of table files keeps none");
    else if (dest_holds)
      Say("", std::string("No relationships are carried: this build reads none from a ") +
                  KindTitle(options_.source.kind) + " source");
    return;
  }
  if (relations_.empty()) return;
  TRelationDefs carried;
  for (const TRelationDef& r : relations_) {
    const int child = FindName(tables_, r.Table), parent = FindName(tables_, r.RefTable);
    if (child < 0 || parent < 0) continue;
    const auto made = [this](int at) {
      return results_[at].created && results_[at].outcome == TableOutcome::kMoved &&
             FindName(existing_before_, destinations_[at]) < 0;
    };
    if (made(child) && made(parent)) carried.push_back(r);
  }
  const auto count = [](size_t n) {
    return std::to_string(n) + (n == 1 ? " relationship of " : " relationships of ");
  };
  if (!dest_holds) {
    const std::string holder =
        DestinationIsFolder()
            ? std::string("a folder of ") + KindTitle(options_.destination.kind) +
                  " files cannot hold them"
            : std::string("this build gives a ") + KindTitle(options_.destination.kind) +
                  " destination none";
    Say("", "The " + count(relations_.size()) + where + " are not carried: " + holder);
    return;
  }
  if (carried.size() < relations_.size())
    Say("", "The " + count(relations_.size() - carried.size()) + where +
                " among tables this run did not create, or that did not arrive, are not carried");
  if (carried.empty()) return;
  try {
    const EndDescription& d = options_.destination;
    for (const std::string& line : dest_kind->add_relationships(
             {d.database, d.user, d.password, d.dao_version}, carried))
      Say("", line);
  } catch (const std::exception& e) {
    Say("", "The " + count(carried.size()) + where + " are not carried: " + e.what());
  }
}

std::string WholeDatabaseRun::Summary() const {
  std::string text;
  int64_t moved = 0, rejected = 0;
  int failed = 0;
  size_t width = 5;
  for (const TableResult& r : results_) width = std::max(width, r.table.size());
  for (const TableResult& r : results_) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-8s %12lld moved %10lld set aside %8.1f s",
                  OutcomeWord(r.outcome), static_cast<long long>(r.records_moved),
                  static_cast<long long>(r.records_rejected), r.seconds);
    text += r.table + std::string(width - r.table.size(), ' ') + line + "\n";
    moved += r.records_moved;
    rejected += r.records_rejected;
    if (r.outcome != TableOutcome::kMoved) ++failed;
  }
  text += std::to_string(results_.size()) + " tables, " + std::to_string(moved) +
          " records moved, " + std::to_string(rejected) + " set aside";
  if (failed > 0) {
    text += "; did not arrive whole:";
    for (const TableResult& r : results_)
      if (r.outcome != TableOutcome::kMoved) text += " " + r.table;
  }
  return text;
}

std::string WholeDatabaseRun::ReportJson() const {
  std::string json = "{\"tables\": [";
  int64_t moved = 0, rejected = 0, read = 0;
  int failed = 0;
  for (size_t i = 0; i < results_.size(); ++i) {
    const TableResult& r = results_[i];
    json += (i ? ",\n" : "\n");
    json += "{\"table\": " + JsonString(r.table) + ", \"outcome\": \"" + OutcomeWord(r.outcome) +
            "\", \"error\": " + JsonString(r.error) + ", \"run\": " +
            (r.report_json.empty() ? "null" : r.report_json) + "}";
    moved += r.records_moved;
    rejected += r.records_rejected;
    read += r.records_read;
    if (r.outcome != TableOutcome::kMoved) ++failed;
  }
  json += "],\n\"totals\": {\"tables\": " + std::to_string(results_.size()) +
          ", \"failed\": " + std::to_string(failed) + ", \"records_read\": " + std::to_string(read) +
          ", \"records_moved\": " + std::to_string(moved) +
          ", \"records_rejected\": " + std::to_string(rejected) + "}}\n";
  return json;
}

}  // namespace trundle

// trundle-cli: builds one transfer job from its arguments, runs it and prints the log.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/clipboard_tools.h"
#include "cli/options.h"
#include "cli/run_console.h"
#include "engine/adaptor_registry.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "engine/interrupt.h"
#include "engine/log_text.h"
#include "engine/trundle.h"
#include "front/job_file.h"
#include "front/kinds.h"
#include "front/register_adaptors.h"
#include "front/run_report.h"
#include "front/run_sequence.h"
#include "front/verify.h"
#include "front/whole_database.h"
#ifdef TRUNDLE_CHECK_ACCESS
#include "databases/access/jet/jet_verify.h"
#endif

namespace {

using trundle::TDataKind;

constexpr int kExitMoved = 0;
constexpr int kExitNotOpened = 1;
constexpr int kExitUsage = 2;
constexpr int kExitError = 3;
constexpr int kExitRejected = 4;  // the run ended and set records aside
constexpr int kExitDiffers = 5;   // --verify found the destination differing
// A run stopped by a signal exits as the shell reports a process killed by it.
constexpr int kExitSignalBase = 128;

// Where the log goes: standard output, unless the table itself goes there.
FILE* g_log = stdout;

// The job a SIGINT or SIGTERM asks to stop, and the signal that came.
std::atomic<trundle::TTrundle*> g_job{nullptr};
std::atomic<trundle::WholeDatabaseRun*> g_whole{nullptr};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnStopSignal(int signal) {
  g_signal = signal;
  if (trundle::TTrundle* job = g_job.load()) job->RequestStop();
  if (trundle::WholeDatabaseRun* run = g_whole.load()) run->Stop();
  // Ends a wait on a pipe or named pipe as well, which no record boundary would.
  trundle::RequestInterrupt();
}

// The first SIGINT or SIGTERM ends the run at a record boundary; the handler is then
// reset, so that a second one ends the program at once.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// True when the destination is the very file or device standard output writes to.
bool WritesToStandardOutput(const std::string& dest) {
  if (dest == "-") return true;
  struct stat out {
  }, file{};
  return fstat(STDOUT_FILENO, &out) == 0 && stat(dest.c_str(), &file) == 0 &&
         out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

// --if-exists fail: an existing destination stops the run before anything is opened;
// the status, or -1 to go on.
int RefuseExistingDestination(const trundle::JobDescription& description) {
  const std::string refusal = trundle::ExistingDestinationRefusal(description);
  if (refusal.empty()) return -1;
  std::cerr << "trundle-cli: " << refusal << " (--if-exists fail)\n";
  return kExitNotOpened;
}

int Usage(const std::string& error) {
  std::cerr << "trundle-cli: " << error << "\n"
            << "Try 'trundle-cli --help'.\n";
  return kExitUsage;
}

// The user tables of the database an end names; on failure the message is printed and
// nullopt returned.
std::optional<std::vector<std::string>> TablesOf(const trundle::EndOptions& end, TDataKind kind,
                                                 const std::string& password) {
  try {
    const std::string& database = end.database.empty() ? end.location : end.database;
    return trundle::DatabaseTables(kind, database, end.user, password,
                                   end.dao.empty() ? "dao36" : end.dao);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return std::nullopt;
  }
}

// "csv, text, ..., oracle (odbc) and sqlite": the kinds this build has adaptors for.
std::string BuiltKinds() {
  std::vector<std::string> names;
  for (const trundle::KindDeclaration& kind : trundle::Kinds()) {
    if (!trundle::IsAdaptorRegistered(kind.kind)) continue;
    names.push_back(kind.name);
    for (const std::string& alias : kind.aliases) names.back() += " (" + alias + ")";
  }
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return list;
}

// Prints a database's user tables, one per line.
int ListTables(const trundle::EndOptions& end, TDataKind kind) {
  std::string password;
  if (std::string e = trundle::PasswordOf(end, password); !e.empty()) return Usage(e);
  const auto tables = TablesOf(end, kind, password);
  if (!tables) return kExitNotOpened;
  for (const std::string& table : *tables) std::cout << table << "\n";
  return kExitMoved;
}

// A database source without --source-table or --source-sql reads its only table; with
// several (or none) that is a usage error naming them. Returns an exit status, or -1 to go on.
int ChooseSourceTable(trundle::EndOptions& end, TDataKind kind) {
  // A statement names the tables it reads.
  if (!end.table.empty() || !end.sql.empty()) return -1;
  std::string password;
  if (std::string e = trundle::PasswordOf(end, password); !e.empty()) return Usage(e);
  const auto tables = TablesOf(end, kind, password);
  if (!tables) return kExitNotOpened;
  if (tables->size() == 1) {
    end.table = tables->front();
    return -1;
  }
  if (tables->empty()) return Usage(end.location + " holds no tables");
  std::string names;
  for (const std::string& table : *tables) {
    if (!names.empty()) names += ", ";
    names += table;
  }
  return Usage(end.location + " holds " + std::to_string(tables->size()) +
               " tables; name one with --source-table: " + names);
}

// Checks an Access database and prints the findings: exit 0 when it is sound, 1 when it
// is not or cannot be read.
int CheckAccess(const std::string& path) {
#ifdef TRUNDLE_CHECK_ACCESS
  const trundle::jet::JetVerifyReport report = trundle::jet::VerifyJetDatabase(path);
  std::cout << report.Text();
  return report.sound() ? kExitMoved : kExitNotOpened;
#else
  (void)path;
  return Usage("--check-access is not in this build (built without the table files)");
#endif
}

// --all-tables: every table of SOURCE, each by a run of its own; the exit status.
int RunAllTables(const trundle::CliOptions& options) {
  trundle::WholeDatabaseOptions o;
  const bool source_folder = *options.source.kind == trundle::dkUnknown ||
                             trundle::IsFileKind(*options.source.kind);
  if (source_folder) {
    o.source.kind = *options.source.kind;
    o.source.file = options.source.location;
    o.source.encoding = options.source.encoding;
  } else if (std::string e = trundle::DescribeEnd(options.source, *options.source.kind, true, o.source);
             !e.empty()) {
    return Usage(e);
  }
  o.source.sql.clear();
  if (trundle::IsFileKind(*options.dest.kind)) {
    o.destination.kind = *options.dest.kind;
    o.destination.file = options.dest.location;
    o.destination.encoding = options.dest.encoding;
  } else if (std::string e = trundle::DescribeEnd(options.dest, *options.dest.kind, false, o.destination);
             !e.empty()) {
    return Usage(e);
  }
  o.destination.create_database = options.create_database;
  o.tables = options.tables;
  o.exclude_tables = options.exclude_tables;
  o.if_exists = options.if_exists;
  o.on_error = options.on_error;
  o.reject_folder = options.reject_file;
  o.max_rejects = options.max_rejects;
  o.batch_size = options.batch_size.value_or(trundle::kRecordsPerBatch);
  o.verify = options.verify;
  o.jobs = options.jobs;
  trundle::WholeDatabaseRun run(o);
  if (std::string e = run.Plan(); !e.empty()) return Usage(e);
  run.OnMessage = [&options](const std::string& table, const std::string& line) {
    if (options.quiet) return;
    const std::string prefix = table.empty() ? "" : "[" + table + "] ";
    for (size_t at = 0; at <= line.size();) {
      const size_t end = std::min(line.find('\n', at), line.size());
      std::fprintf(g_log, "%s%s\n", prefix.c_str(), line.substr(at, end - at).c_str());
      at = end + 1;
    }
    std::fflush(g_log);
  };
  g_whole = &run;
  CatchStopSignals();
  const int failed = run.Run();
  g_whole = nullptr;
  int status = kExitMoved;
  const trundle::TablesTally tally = trundle::TallyTables(run.Results());
  const bool rejected = tally.set_aside > 0, differs = tally.differs > 0;
  // Tables that did not arrive, differing ones aside; a run that began none lost them all.
  const int lost = tally.lost + (failed < 0 ? 1 : 0);
  if (g_signal) {
    status = kExitSignalBase + g_signal;
  } else if (failed != 0) {
    status = lost > 0 ? kExitError : kExitDiffers;
    for (const trundle::TableResult& r : run.Results())
      if (r.outcome != trundle::TableOutcome::kMoved && r.outcome != trundle::TableOutcome::kDiffers)
        std::cerr << "trundle-cli: the table " << r.table << " did not arrive: "
                  << trundle::ShortenedLogLine(r.error) << "\n";
      else if (r.outcome == trundle::TableOutcome::kDiffers)
        std::cerr << "trundle-cli: the table " << r.table << " differs from its source\n";
    if (failed < 0) std::cerr << "trundle-cli: nothing was copied\n";
  } else if (rejected) {
    status = kExitRejected;
  }
  if (differs && status == kExitMoved) status = kExitDiffers;
  if (options.report.empty()) return status;
  try {
    trundle::WriteFileWhole(options.report, run.ReportJson());
  } catch (const std::exception& e) {
    std::cerr << "trundle-cli: " << e.what() << "\n";
    return status == kExitMoved || status == kExitRejected ? kExitError : status;
  }
  return status;
}

// --job FILE: the description saved in the file, checked as the command line's is, with
// the passwords from their variables. Fills the options the run reads from it. Returns an
// exit status, or -1 to go on.
int DescribeFromJobFile(trundle::CliOptions& options, trundle::JobDescription& description) {
  try {
    description = trundle::LoadJobFile(options.job);
  } catch (const std::exception& e) {
    std::cerr << "trundle-cli: " << e.what() << "\n";
    return kExitUsage;
  }
  const std::string& path = options.job;
  for (const auto& [end, is_source] : {std::pair(&description.source, true),
                                       std::pair(&description.destination, false)}) {
    const char* role = is_source ? "source" : "destination";
    const trundle::KindDeclaration* declared = trundle::FindKind(end->kind);
    if (!declared) return Usage(path + " names no " + role + " kind");
    if (!declared->Can(is_source ? trundle::kaRead : trundle::kaWrite))
      return Usage(path + ": a " + declared->name + " end cannot be a " + role);
    if (!trundle::IsAdaptorRegistered(end->kind))
      return Usage(path + ": the kind " + declared->name + " is not built yet; this version moves " +
                   BuiltKinds());
  }
  if (trundle::IsDatabaseKind(description.destination.kind) &&
      description.destination.table.empty())
    return Usage(path + ": a destination database needs a table");
  if (trundle::IsDatabaseKind(description.source.kind) && description.source.table.empty() &&
      description.source.sql.empty())
    return Usage(path + ": a database source needs a table or a statement");
  try {
    if (!description.source.encoding.empty())
      trundle::TextCodec::ToUtf8From(description.source.encoding);
    if (!description.destination.encoding.empty())
      trundle::TextCodec::FromUtf8To(description.destination.encoding);
  } catch (const std::exception& e) {
    return Usage(path + ": " + e.what());
  }
  if (std::string e = trundle::PasswordsFromEnvironment(description); !e.empty())
    return Usage(path + ": " + e);
  const trundle::EndDescription& dest = description.destination;
  options.dest.location = trundle::IsFileKind(dest.kind) ? dest.file : dest.database;
  options.clipboard = description.clipboard;
  options.max_rejects = description.max_rejects;
  return -1;
}

// The part of main that describes the job from the command line's SOURCE and DEST.
// Returns an exit status, or -1 to go on.
int DescribeFromArguments(trundle::CliOptions& options, trundle::JobDescription& description) {
  const TDataKind source_kind = *options.source.kind;
  const TDataKind dest_kind = *options.dest.kind;
  for (TDataKind kind : {source_kind, dest_kind})
    if (!trundle::IsAdaptorRegistered(kind))
      return Usage(std::string("the kind ") + trundle::KindName(kind) +
                   " is not built yet; this version moves " + BuiltKinds());
  if (trundle::IsDatabaseKind(dest_kind) && options.dest.table.empty())
    return Usage(std::string("a destination database needs --dest-table"));
  if (trundle::IsDatabaseKind(source_kind))
    if (const int status = ChooseSourceTable(options.source, source_kind); status >= 0)
      return status;

  // A code page iconv does not know is a usage error, found before anything is read.
  try {
    if (!options.source.encoding.empty()) trundle::TextCodec::ToUtf8From(options.source.encoding);
    if (!options.dest.encoding.empty()) trundle::TextCodec::FromUtf8To(options.dest.encoding);
  } catch (const std::exception& e) {
    return Usage(e.what());
  }
  if (std::string e = trundle::DescribeJob(options, description); !e.empty()) return Usage(e);
  return -1;
}

}  // namespace

// Runs the job as the options say, with the log on g_log; the exit status.
int RunJob(const trundle::CliOptions& options, trundle::RunSequence& run) {
  trundle::TTrundle& job = run.job();
  // The bar only on a terminal; it shares the screen with the log, which closes its line.
  trundle::RunConsole console(g_log, !options.quiet && isatty(STDERR_FILENO) ? stderr : nullptr,
                              options.quiet);
  run.OnMessage = [&console](const std::string& message) { console.Message(message); };
  run.OnProgress = [&console, &job](int32_t percent) {
    console.Progress(percent, job.records_read(), job.Source().RecordCount,
                     trundle::RunSpeed::Clock::now());
  };
  run.OnNote = [&options](const std::string& line) {
    if (!options.quiet) std::fprintf(g_log, "%s\n", line.c_str());
  };
  run.OnEnded = [&console, &job](const trundle::RunResult& result) {
    g_job = nullptr;
    // The bar's last word: how many, how long, how fast (a run that opened nothing has none).
    if (!result.thrown && job.outcome() != trundle::TRunOutcome::kNotOpened)
      console.Totals(job.records_moved(), job.records_read(), job.elapsed_seconds());
    console.CloseBar();
  };
  g_job = &job;
  CatchStopSignals();
  const trundle::RunResult result = run.Run();
  g_job = nullptr;
  if (result.thrown) std::fflush(g_log);
  switch (result.end) {
    case trundle::RunEnd::kNotCreated:
      std::cerr << result.error << "\n";
      return kExitNotOpened;
    case trundle::RunEnd::kFieldMap:
      // Still a usage error, and nothing was written.
      return Usage(result.error);
    case trundle::RunEnd::kReadFailed:
    case trundle::RunEnd::kFailed:
      // A script reading only the status and standard error must not take a partial copy
      // for a whole one.
      std::cerr << trundle::AsLines(trundle::ShortenedLogLine(result.error));
      return kExitError;
    case trundle::RunEnd::kTooManyRejects:
      std::cerr << "trundle-cli: " << result.error << "\n";
      return kExitError;
    case trundle::RunEnd::kStopped:
      return kExitSignalBase + (g_signal ? g_signal : SIGINT);
    case trundle::RunEnd::kNotOpened:
      if (result.thrown) {
        std::cerr << trundle::AsLines(trundle::ShortenedLogLine(result.error));
        return kExitNotOpened;
      }
      [[fallthrough]];
    case trundle::RunEnd::kNothingMoved:
      // --quiet silences the log, not the reason a run moved nothing.
      if (options.quiet)
        std::cerr << "trundle-cli: nothing was moved\n" << console.WhyNothingMoved();
      return kExitNotOpened;
    case trundle::RunEnd::kMoved:
    case trundle::RunEnd::kDiffers:
      break;
  }
  if (run.verification()) {
    const std::string text = run.verification()->Text();
    if (!options.quiet) std::fprintf(g_log, "%s\n", text.c_str());
    // A difference is said on standard error too, where a script looks for failures.
    if (result.end == trundle::RunEnd::kDiffers) {
      if (options.quiet || g_log != stderr) std::cerr << "trundle-cli: " << trundle::AsLines(text);
      return kExitDiffers;
    }
  }
  return job.records_rejected() > 0 ? kExitRejected : kExitMoved;
}

int main(int argc, char** argv) {
  trundle::RegisterAllAdaptors();
  trundle::CliOptions options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::string error = trundle::ParseCliOptions(args, options); !error.empty())
    return Usage(error);
  if (options.help) {
    std::cout << trundle::UsageText();
    return kExitMoved;
  }
  if (options.version) {
    std::cout << "trundle-cli " << TRUNDLE_VERSION << "\n";
    return kExitMoved;
  }
  if (!options.check_access.empty()) return CheckAccess(options.check_access);
  if (options.list_tables) {
    const TDataKind kind = *options.source.kind;
    if (!trundle::IsAdaptorRegistered(kind))
      return Usage(std::string("the kind ") + trundle::KindName(kind) +
                   " is not built yet; this version moves " + BuiltKinds());
    return ListTables(options.source, kind);
  }
  if (options.all_tables) {
    // A folder source may leave its kind to its files' extensions.
    for (TDataKind kind : {*options.source.kind, *options.dest.kind})
      if (kind != trundle::dkUnknown && !trundle::IsAdaptorRegistered(kind))
        return Usage(std::string("the kind ") + trundle::KindName(kind) +
                     " is not built yet; this version moves " + BuiltKinds());
    return RunAllTables(options);
  }

  trundle::JobDescription description;
  if (const int status = options.job.empty() ? DescribeFromArguments(options, description)
                                             : DescribeFromJobFile(options, description);
      status >= 0)
    return status;
  if (!options.save_job.empty()) {
    try {
      trundle::SaveJobFile(description, options.save_job);
    } catch (const std::exception& e) {
      std::cerr << "trundle-cli: " << e.what() << "\n";
      return kExitNotOpened;
    }
    if (!options.quiet) std::printf("Saved the transfer to %s\n", options.save_job.c_str());
    return kExitMoved;
  }
  if (std::string e = trundle::SameAsSourceMessage(description); !e.empty()) return Usage(e);
  if (const int status = RefuseExistingDestination(description); status >= 0) return status;
  if (options.verify)
    if (std::string e = trundle::VerifyRefusal(description); !e.empty()) return Usage(e);
  trundle::RunSequence run(description);
  trundle::TTrundle& job = run.job();
  // Only for bench/postgres/reject_bench.sh, which measures the ways of replaying a batch
  // against each other; no option names them.
  if (const char* replay = std::getenv("TRUNDLE_BENCH_REPLAY")) {
    if (std::strcmp(replay, "halving") == 0) job.Replay = trundle::TReplay::kHalving;
    if (std::strcmp(replay, "one-by-one") == 0) job.Replay = trundle::TReplay::kOneByOne;
  }
  if (std::string e = trundle::RejectFileMessage(description, job.RejectFilePath); !e.empty())
    return Usage(e);
  if (options.clipboard) trundle::SetSystemClipboard(trundle::FindCommandClipboard());

  if (WritesToStandardOutput(options.dest.location)) g_log = stderr;
  if (options.verify) run.Verify();
  const int status = RunJob(options, run);
  if (options.report.empty()) return status;
  try {
    trundle::WriteFileWhole(options.report, run.ReportJson(status));
  } catch (const std::exception& e) {
    std::cerr << "trundle-cli: " << e.what() << "\n";
    // A run whose report was asked for and not written has not done all it was told.
    return status == kExitMoved || status == kExitRejected ? kExitError : status;
  }
  return status;
}

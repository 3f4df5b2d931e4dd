// Moves a CSV file into a table of a SQLite database through the job, as trundle-cli
// will once the kind registry gives SQLite its kind: for bench/sqlite/sqlite_bench.sh.
//   sqlite_import IN.csv OUT.sqlite TABLE
// Exits 1 with the run's last log line when the run does not end with every record moved.
#include <cstdio>
#include <exception>
#include <string>

#include "databases/sqlite/trundle_sqlite.h"
#include "engine/adaptor_registry.h"
#include "engine/trundle.h"
#include "textfiles/trundle_text.h"

int main(int argc, char** argv) {
  using namespace trundle;
  if (argc != 4) {
    std::fprintf(stderr, "usage: sqlite_import IN.csv OUT.sqlite TABLE\n");
    return 2;
  }
  RegisterTextAdaptors();
  // The server kind's slot until SQLite has a kind of its own.
  RegisterAdaptor(dkSqlite, [] { return std::make_unique<TTrundleSqlite>(); });
  TTrundle job;
  job.SetSourceKind(dkCsv);
  job.Source().TableName = argv[1];
  job.SetDestinationKind(dkSqlite);
  job.Destination().Database = argv[2];
  job.Destination().TableName = argv[3];
  std::string last;
  job.OnMessage = [&last](const std::string& line) {
    if (!line.empty() && line.rfind("\r\n", 0) != 0 && line.rfind("Elapsed", 0) != 0) last = line;
  };
  try {
    job.Execute();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (job.outcome() != TRunOutcome::kMoved) {
    std::fprintf(stderr, "%s\n", last.c_str());
    return 1;
  }
  std::printf("%lld records moved\n", static_cast<long long>(job.records_moved()));
  return 0;
}

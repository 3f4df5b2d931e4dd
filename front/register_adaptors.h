// Every adaptor class this build has, registered for its kind, and the table lists of
// the database kinds: what the window and the command line ask of the kinds beyond a job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/trundle_unknown.h"
#include "front/job_description.h"

namespace trundle {

void RegisterAllAdaptors();

// The user tables of a database (ListTables of databases/table_list.h). Throws
// TrundleError with the engine's message when it cannot be opened.
std::vector<std::string> DatabaseTables(TDataKind kind, const std::string& database,
                                        const std::string& user, const std::string& password,
                                        const std::string& dao_version);

// A database CreateMissingDatabase made for a run.
struct CreatedDatabase {
  std::string message;  // the log line that says so; empty when nothing was made
  std::string path;
  uint64_t device = 0;  // the file made, told from any other file given its name later
  uint64_t inode = 0;
};

// An Access destination that asks for it (create_database) and whose database file does
// not exist gets an empty Access 2000 database first. Throws TrundleError naming the file
// and the cause when it cannot be made, and for DAO 3.5, which opens no Access 2000
// database.
CreatedDatabase CreateMissingDatabase(const EndDescription& end);

// After the run: removes the database made for it when the run created no table in it
// (it failed or was stopped first), so that no empty database is left for a later run to
// take for the user's. Returns the log line that says so; empty when nothing was made or
// the database stays (a table was created, the file was replaced, it cannot be read).
// Never throws.
std::string RemoveUnusedDatabase(const CreatedDatabase& made);

}  // namespace trundle

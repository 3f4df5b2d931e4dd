// Every adaptor class this build has, registered for its kind, and the table lists of
// the database kinds: what the window and the command line ask of the kinds beyond a job.
#pragma once

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

// An Access destination that asks for it (create_database) and whose database file does
// not exist gets an empty Access 2000 database first. Returns the log line that says so,
// empty when nothing was made. Throws TrundleError naming the file and the cause when it
// cannot be made, and for DAO 3.5, which opens no Access 2000 database.
std::string CreateMissingDatabase(const EndDescription& end);

}  // namespace trundle

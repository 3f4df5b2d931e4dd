// Every adaptor class the program has, registered for its kind, and what the command
// line asks of the database kinds beyond the job.
#pragma once

#include <string>
#include <vector>

#include "engine/trundle_unknown.h"

namespace trundle {

void RegisterAllAdaptors();

// The user tables of a database (ListTables of databases/table_list.h). Throws
// TrundleError with the engine's message when it cannot be opened.
std::vector<std::string> DatabaseTables(TDataKind kind, const std::string& database,
                                        const std::string& user, const std::string& password,
                                        const std::string& dao_version);

}  // namespace trundle

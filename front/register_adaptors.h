// Every adaptor class this build has, registered for its kind, and the table lists of
// the database kinds: what the window and the command line ask of the kinds beyond a job.
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

// New, empty Access databases: an empty Jet 4 (Access 2000) database that the program
// carries (written by Access itself; resources/SOURCE.txt says where it comes from),
// written where no file is yet.
//
//   CreateAccessDatabase("/data/new.mdb");   // then tables are created in it as usual
#pragma once

#include <string>
#include <string_view>

namespace trundle {

// The bytes of the empty Jet 4 database.
std::string_view EmptyAccessDatabase();

// Writes an empty Jet 4 database at path, whole or not at all: the bytes go to a
// temporary file in the same folder, reach the disk, and then take the name only if
// nothing has it (an existing file is never replaced, not even one made meanwhile).
// Throws TrundleError naming the path and the cause ("... exists already", a missing
// folder, no space); nothing is left behind then.
void CreateAccessDatabase(const std::string& path);

}  // namespace trundle

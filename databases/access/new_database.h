// New, empty Access databases: an empty Jet 4 (Access 2000) database that the program
// carries (written by Access itself; resources/SOURCE.txt says where it comes from),
// written where no file is yet.
//
//   const NewDatabaseFile made = CreateAccessDatabase("/data/new.mdb");
//   ...                          // tables are created in it as usual; if the run fails first:
//   RemoveIfNoTables(made);      // the empty database goes again
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trundle {

// The bytes of the empty Jet 4 database.
std::string_view EmptyAccessDatabase();

// A database file CreateAccessDatabase wrote: its name, and the file itself (device and
// inode), so that another file given that name later is never taken for it.
struct NewDatabaseFile {
  std::string path;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Writes an empty Jet 4 database at path, whole or not at all: the bytes go to a
// temporary file in the same folder, reach the disk, and then take the name only if
// nothing has it (an existing file is never replaced, not even one made meanwhile).
// Throws TrundleError naming the path and the cause ("... exists already", a missing
// folder, no space); nothing is left behind then.
NewDatabaseFile CreateAccessDatabase(const std::string& path);

// Removes a database CreateAccessDatabase wrote when nothing was put in it: true when
// made.path is still that file, it has no user table and no journal beside it, and it
// was removed. Otherwise false, and nothing is touched: a table was created in it (its
// rows, if any, stay), the name is gone or another file's, a batch's journal waits to
// be put back, or the database cannot be read. Never throws.
bool RemoveIfNoTables(const NewDatabaseFile& made);

}  // namespace trundle

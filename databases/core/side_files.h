// Side files of a table file (dBase .dbt, .fpt and .cpg, Paradox .mb) are found by the
// table's name ignoring letter case, as they are on the systems the files come from.
#pragma once

#include <dirent.h>

#include <string>

#include "engine/ascii.h"

namespace trundle {

// True when path's folder holds a file other than path whose name equals path's name
// ignoring letter case ("T.DBF" beside "t.dbf"): a side file found ignoring case may then
// be that other table's.
inline bool HasNamesakeFile(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name != name && EqualsIgnoringAsciiCase(entry->d_name, name)) {
      found = true;
      break;
    }
  closedir(dir);
  return found;
}

}  // namespace trundle

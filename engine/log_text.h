// Values, names and lines as the run log shows them. A table can hold a name or a value
// of many megabytes; echoing it whole buries the rest of the log, so what a log line
// quotes from the data is cut to a readable length with a note of its real size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/variant.h"

namespace trundle {

// The most characters of one value or name that a log line shows.
inline constexpr size_t kLogValueLimit = 200;
// The most characters of a whole log line (paths and messages from libraries included).
inline constexpr size_t kLogLineLimit = 1000;

// The text itself when it has at most kLogValueLimit characters; otherwise its first
// kLogValueLimit characters followed by "... (N characters)". Characters are UTF-8 code
// points: a cut never splits one.
std::string ShownInLog(std::string_view text);

// A value as a log line shows it beside its field: text between single quotes
// (ShownInLog), a number or date as text, "Null", a blob as its size ("12 bytes").
std::string ValueInLog(const Variant& value);

// A line of the log: the line itself up to kLogLineLimit characters; a longer one keeps
// its beginning and its end, the middle replaced by "... (N characters left out) ...".
std::string ShortenedLogLine(std::string_view line);

// The line that follows "Table doesn't exist or is empty": the path and why no table is
// there ("t.csv: no such file", "t.csv is a folder, not a file"). Empty when a file (or
// anything else that is not a folder) is at the path.
std::string NoTableCause(const std::string& path);
// The line a destination logs in place of NoTableCause: for a file that is not there
// yet, that it will be made (no failure: a first run to a new file is the usual case);
// otherwise NoTableCause's reason.
std::string NewDestinationNote(const std::string& path);

}  // namespace trundle

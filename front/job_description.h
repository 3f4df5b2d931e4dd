// One transfer described in plain fields, as the window's pages and trundle-cli's
// arguments give it, and the one place that turns such a description into a job.
//
//   JobDescription d;
//   d.source.kind = dkCsv;
//   d.source.file = "in.csv";
//   d.destination.kind = dkHtml;
//   d.destination.file = "out.html";
//   d.html_title = "out";
//   TTrundle job;
//   BuildJob(d, job);
//   job.Execute();
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/trundle.h"

namespace trundle {

// One end of a transfer. Which fields a kind reads is the adaptor's affair; they are
// copied to it unchanged (no trimming, no defaults).
struct EndDescription {
  TDataKind kind = dkUnknown;
  std::string file;         // file kinds (text, HTML, dBase, Paradox): the file's path
  std::string database;     // Access: the .mdb path; server: the data source
  std::string user;         // server: the user to log on as
  std::string password;     // Access and server
  std::string dao_version;  // Access: "dao35", "dao36" or empty
  std::string table;        // Access and server: the table's name
  std::string sql;          // a database source's statement
  std::string encoding;     // code page of a file's text; empty: the kind's default
  bool create_database = false;  // Access destination: a missing database is made empty
  bool create_table = false;     // server destination: a missing table is made
  // The environment variable the password is read from (a saved transfer names it; the
  // password itself is never saved). Empty: none. Last, so that the fields above keep
  // their places in a brace-initialised description.
  std::string password_env{};
};

// What a run does with a destination table that is there already.
enum class IfExists : uint8_t {
  kAppend,   // the records go after its own
  kReplace,  // a text file is made anew (written whole before the old one goes)
  kFail,     // nothing is run
};

struct JobDescription {
  EndDescription source;
  EndDescription destination;
  IfExists if_exists = IfExists::kAppend;
  // Read by the destination only.
  std::string html_title;
  std::string html_banner;
  bool clipboard = false;
  // A record the destination refuses: the run stops, or the record is set aside in
  // reject_file (empty: DefaultRejectFile) and the run goes on; more than max_rejects
  // set aside (negative: no limit) stops it.
  TOnError on_error = TOnError::kStop;
  std::string reject_file;
  int64_t max_rejects = -1;
  // Records per transaction, for the destinations that commit in batches.
  int batch_size = kRecordsPerBatch;
  // Source fields renamed or left out on their way (TTrundle::FieldMap).
  std::vector<FieldRename> field_map;
};

// Where a run that sets records aside puts them by default: the destination table's
// name, or its file's name without the folder, followed by ".rejects.csv", in the
// current folder.
std::string DefaultRejectFile(const JobDescription& description);

// Where the window puts the records a run sets aside: DefaultRejectFile's name beside
// the destination, in the folder of its file (a table file, or the database file that
// holds the table), or in `folder` for a destination without one (a server, the
// clipboard). A name that is a file of either end (a mended reject file loaded again
// into its table) gives way to ".rejects.2.csv", ".rejects.3.csv" and so on. Relative
// paths are taken in the current folder; the path returned is absolute unless that
// folder cannot be read. Nothing is created or removed.
std::string RejectFileBesideDestination(const JobDescription& description,
                                        const std::string& folder);

// Empty unless a run that sets records aside would write them over its own source (a
// mended reject file loaded again): then a sentence for the user naming both.
std::string RejectFileMessage(const JobDescription& description, const std::string& path);

// True for the kinds whose end is one file named by EndDescription::file.
bool IsFileKind(TDataKind kind);

// Sets the job's two kinds, then fills each adaptor from its end (a kind replaces its
// adaptor, so the kind comes first). The job's events are left as they are.
void BuildJob(const JobDescription& description, TTrundle& job);

// The statement that reads a whole table: "select * from" followed by the table file's
// path between double quotes (inner double quotes doubled) for dBase and Paradox, by the
// table's name in double quotes for SQLite, in brackets for Access (in double quotes when
// it holds a ']'), or as given for server tables. Empty for other kinds and for an empty
// table.
std::string WholeTableSql(TDataKind kind, const std::string& table);

// What the source page proposes while the user types a table: WholeTableSql, except
// that a dBase or Paradox table is proposed only once a file of that exact name exists.
std::string ProposedSql(TDataKind kind, const std::string& table);

// The HTML title a destination file name gives: the part after the last '/', cut
// before its first '.'.
std::string HtmlTitleForFile(const std::string& path);

// An empty string when both kinds have adaptors in this build; otherwise a sentence
// naming the first kind that has none, for the user.
std::string MissingKindMessage(const JobDescription& description);

// An empty string unless the destination is the source itself, which a run would read
// and write at once (a file appended to itself, a table copied into itself): then a
// sentence for the user naming it. Files are the same when their device and inode are,
// whatever path or link names them; a destination that does not exist yet is none.
std::string SameAsSourceMessage(const JobDescription& description);

// True for the destination kinds that IfExists::kReplace makes anew: comma- and
// tab-delimited text. An HTML page is always written anew; dBase, Paradox, Access and
// server tables keep their records.
bool CanReplace(TDataKind kind);

// Whether the destination table is there already: a file kind's file (an HTML page
// included), or with `ask_databases` the table in an Access or server database (an
// answer the database cannot give counts as no). The clipboard and standard output
// hold nothing.
bool DestinationExists(const JobDescription& description, bool ask_databases);

// A sentence for the user about an existing destination: that the records will be
// appended to it, that it will be replaced, or that the run will not start. Empty when
// DestinationExists (with `ask_databases`) is false.
std::string ExistingDestinationNote(const JobDescription& description, bool ask_databases);

// The DAO version that opens the Access database at `path`, read from its header:
// "dao35" for Jet 3 (Access 97), "dao36" for Jet 4 (Access 2000 to 2003) and the later
// ACE formats (.accdb), which DAO 3.6 opens too. Empty when the file cannot be read or
// is no Access database. `found` gets what the header says ("Access 97", "Access
// 2000", "Access 2007 or later"), or empty.
std::string DaoVersionOfFile(const std::string& path, std::string& found);

// The name a person reads for a kind: "comma-delimited text", "Access", ...
const char* KindTitle(TDataKind kind);

}  // namespace trundle

// The command line of trundle-cli: one transfer job described by its arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/field_map.h"
#include "engine/trundle_unknown.h"
#include "front/job_description.h"

namespace trundle {

struct EndOptions {
  std::string location;  // the positional argument: a file, or a database
  std::optional<TDataKind> kind;
  std::string table;
  std::string sql;
  std::string database;
  std::string user;
  std::string password_env;
  std::string dao;
  std::string encoding;
};

struct CliOptions {
  EndOptions source;
  EndOptions dest;
  std::optional<std::string> html_title;
  std::optional<std::string> html_banner;  // unset: Banner.html
  bool clipboard = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool list_tables = false;      // --list-tables DATABASE: source.location is the database
  std::string check_access;      // --check-access FILE: the Access database to check
  bool create_database = false;  // --create-database: a missing Access DEST is made empty
  IfExists if_exists = IfExists::kAppend;  // --if-exists append|replace|fail
  TOnError on_error = TOnError::kStop;     // --on-error stop|skip
  std::string reject_file;                 // --reject-file PATH
  int64_t max_rejects = -1;                // --max-rejects N
  std::optional<int> batch_size;           // --batch-size N
  bool create_table = false;               // --create-table
  std::string report;                      // --report PATH: the run report (JSON)
  bool verify = false;                     // --verify: read the destination back
  bool all_tables = false;                 // --all-tables: every table of SOURCE
  std::vector<std::string> tables;         // --tables "A,B": only these
  std::vector<std::string> exclude_tables; // --exclude-tables "C": never these
  int jobs = 1;                            // --jobs N: tables at once
  std::string job;       // --job FILE: the transfer saved in FILE; only the run options go with it
  std::string save_job;  // --save-job FILE: write the transfer to FILE instead of running it
  std::vector<FieldRename> field_map;      // --map SRC=NAME,SRC=-
};

// Parses argv[1..]. Returns an error sentence for the user, or empty on success.
std::string ParseCliOptions(const std::vector<std::string>& args, CliOptions& options);

// The kind a file's extension names (.csv, .txt, .tsv, .tab, .htm, .html, .dbf, .db,
// .mdb, .accdb), letter case ignored; nullopt for any other.
std::optional<TDataKind> KindForPath(const std::string& path);
// "csv", "text", ... and back; nullopt for an unknown name.
std::optional<TDataKind> KindForName(const std::string& name);
const char* KindName(TDataKind kind);

// True for the kinds whose location is a database holding tables by name.
bool IsDatabaseKind(TDataKind kind);

// The password of an end, from the environment variable it names (empty when it names
// none). Returns an error sentence for the user, or empty.
std::string PasswordOf(const EndOptions& end, std::string& password);

// Describes one end of the job from its options: the positional argument is the file of
// a file kind, else the database; a database source without --source-sql reads its whole
// table. Returns an error sentence for the user, or empty.
std::string DescribeEnd(const EndOptions& end, TDataKind kind, bool is_source, EndDescription& out);

// The whole job: both ends, the HTML title (by default DEST's name without its last
// extension), the banner and the clipboard. Returns an error sentence, or empty.
std::string DescribeJob(const CliOptions& options, JobDescription& out);

// The database file of an Access destination: --dest-database, else DEST.
std::string DestDatabase(const CliOptions& options);

std::string UsageText();

}  // namespace trundle

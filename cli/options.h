// The command line of trundle-cli: one transfer job described by its arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/trundle_unknown.h"

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
  std::string html_banner = "Banner.html";
  bool clipboard = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool list_tables = false;  // --list-tables DATABASE: source.location is the database
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

// Fills a job's adaptor from the options of its end. Returns an error sentence for the
// user, or empty. `is_source` tells the defaults apart (a dBase source's SQL).
std::string FillAdaptor(const EndOptions& end, TDataKind kind, bool is_source,
                        TTrundleUnknown& adaptor);

std::string UsageText();

}  // namespace trundle

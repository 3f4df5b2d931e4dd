#include "cli/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <tuple>

#include "engine/ascii.h"
#include "front/kinds.h"

namespace trundle {
namespace {

// A whole number from low to high written in full (no sign of trouble left over).
bool ParseCount(const std::string& text, long long low, long long high, long long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno != ERANGE && out >= low && out <= high;
}

// Whether a kind reads one of the options given per end ("table" for --source-table and
// --dest-table, ...). An option that the chosen kind does not read is a usage error: left
// unread, it would let the user believe it took effect.
bool KindReads(TDataKind kind, bool is_source, const std::string& what) {
  static const std::pair<const char*, KindOption> kOptions[] = {{"table", koTable},
                                                                {"sql", koSql},
                                                                {"database", koDatabase},
                                                                {"user", koUser},
                                                                {"password-env", koPasswordEnv},
                                                                {"dao", koDao},
                                                                {"encoding", koEncoding}};
  const KindDeclaration* declared = FindKind(kind);
  for (const auto& [name, option] : kOptions)
    if (what == name) return declared && declared->Reads(is_source, option);
  return false;
}

// The first option of `given` that the chosen kinds do not read, as a usage error.
std::string UnreadOption(const std::vector<std::string>& given, const CliOptions& o) {
  for (const std::string& option : given) {
    if (option == "--reject-file" || option == "--max-rejects") {
      if (o.on_error != TOnError::kSkip)
        return "option " + option + " applies with --on-error skip";
      continue;
    }
    if (option == "--batch-size") continue;  // checked against the destination's kind
    if (option == "--map") continue;         // every kind's records pass the map
    if (option == "--html-title" || option == "--html-banner") {
      if (*o.dest.kind != dkHtml)
        return "option " + option + " applies to an HTML destination, not to a " +
               KindName(*o.dest.kind) + " one";
      continue;
    }
    const bool is_source = option.rfind("--source-", 0) == 0;
    const std::string what = option.substr(is_source ? 9 : 7);
    const TDataKind kind = is_source ? *o.source.kind : *o.dest.kind;
    if (!KindReads(kind, is_source, what))
      return "option " + option + " does not apply to a " + KindName(kind) +
             (is_source ? " source" : " destination");
  }
  return "";
}

constexpr char kPasswordInConnectionString[] =
    "a password in the connection string shows in the process list; leave PWD out and put "
    "the password in an environment variable named by ";

// Whether an ODBC connection string gives a password (PWD=, or PASSWORD= as some drivers
// take it). Values may be braced, a "}}" inside standing for one brace.
bool ConnectionStringHasPassword(const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t equals = text.find('=', at);
    const size_t semicolon = text.find(';', at);
    if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
      if (semicolon == std::string::npos) return false;
      at = semicolon + 1;
      continue;
    }
    std::string key = text.substr(at, equals - at);
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (EqualsIgnoringAsciiCase(key, "PWD") || EqualsIgnoringAsciiCase(key, "PASSWORD"))
      return true;
    at = equals + 1;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at < text.size() && text[at] == '{') {
      for (++at; at < text.size(); ++at)
        if (text[at] == '}') {
          if (at + 1 < text.size() && text[at + 1] == '}')
            ++at;
          else
            break;
        }
    }
    const size_t end = text.find(';', at);
    if (end == std::string::npos) return false;
    at = end + 1;
  }
  return false;
}

// The sentence refusing a password inside an end's location, or empty.
std::string PasswordInLocation(TDataKind kind, const EndOptions& end, const char* option) {
  if (kind == dkOracle) {
    if (ConnectionStringHasPassword(end.location) || ConnectionStringHasPassword(end.database))
      return kPasswordInConnectionString + std::string(option);
    return "";
  }
  const KindDeclaration* declared = FindKind(kind);
  if (!declared || !declared->gives_password) return "";
  for (const std::string* place : {&end.location, &end.database})
    if (!place->empty() && declared->gives_password(*place))
      return "a password in the connection shows in the process list; leave it out and put the "
             "password in an environment variable named by " +
             std::string(option);
  return "";
}

// --if-exists WHAT; an error sentence, or empty.
std::string ParseIfExists(const std::string& what, IfExists& out) {
  if (what == "append") out = IfExists::kAppend;
  else if (what == "replace") out = IfExists::kReplace;
  else if (what == "fail") out = IfExists::kFail;
  else return "unknown --if-exists '" + what + "' (append, replace or fail)";
  return "";
}

// "A,B" as its names, each trimmed of spaces; empty names left out.
std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(at, end - at);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty()) names.push_back(name);
    at = end + 1;
  }
  return names;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --all-tables: SOURCE is a database or a folder of table files, DEST a database or a
// folder that each table becomes a file of --dest-kind in.
std::string CheckAllTables(CliOptions& o) {
  if (o.clipboard) return "--all-tables cannot write to the clipboard";
  if (o.dest.location == "-") return "--all-tables cannot write to standard output";
  if (!o.source.sql.empty() || !o.source.table.empty() || !o.dest.table.empty())
    return "--all-tables names the tables itself; use --tables instead of --source-table, "
           "--dest-table or --source-sql";
  const bool source_folder = IsFolder(o.source.location);
  if (!o.source.kind && !source_folder) o.source.kind = KindForPath(o.source.location);
  if (!source_folder && (!o.source.kind || !IsDatabaseKind(*o.source.kind)))
    return "--all-tables needs a database or a folder of table files as SOURCE, not " +
           o.source.location;
  if (source_folder && o.source.kind && IsDatabaseKind(*o.source.kind))
    return "--all-tables reads a folder of table files; " + o.source.location +
           " is a folder, not a " + KindName(*o.source.kind) + " database";
  if (o.source.kind && !FindKind(*o.source.kind)->Can(kaRead))
    return std::string("a ") + KindName(*o.source.kind) + " end cannot be a source";
  if (!o.source.kind) o.source.kind = dkUnknown;
  if (!o.dest.kind && !IsFolder(o.dest.location)) o.dest.kind = KindForPath(o.dest.location);
  if (!o.dest.kind)
    return "a folder destination needs --dest-kind to say what its tables become";
  const KindDeclaration* dest = FindKind(*o.dest.kind);
  if (!dest->Can(kaWrite) || *o.dest.kind == dkHtml)
    return std::string("a ") + KindName(*o.dest.kind) + " end cannot take a whole database";
  if (o.create_database && *o.dest.kind != dkAccess)
    return "--create-database needs an Access destination";
  if (o.batch_size && !dest->Can(kaTransactions))
    return std::string("--batch-size applies to a destination that commits in batches, not ") +
           "to a " + KindName(*o.dest.kind) + " one";
  if (o.if_exists == IfExists::kReplace && !CanReplace(*o.dest.kind))
    return std::string("--if-exists replace makes csv and text files anew; a ") +
           KindName(*o.dest.kind) + " table keeps its records";
  if (o.reject_file.size() && o.on_error != TOnError::kSkip)
    return "option --reject-file applies with --on-error skip";
  for (const auto& [end, kind, option] :
       {std::tuple(&o.source, *o.source.kind, "--source-password-env"),
        std::tuple(&o.dest, *o.dest.kind, "--dest-password-env")})
    if (std::string e = PasswordInLocation(kind, *end, option); !e.empty()) return e;
  return "";
}

}  // namespace

std::optional<TDataKind> KindForPath(const std::string& path) { return KindOfLocation(path); }

std::optional<TDataKind> KindForName(const std::string& name) { return KindOfName(name); }

const char* KindName(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared ? declared->name.c_str() : "unknown";
}

bool IsDatabaseKind(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared && declared->Can(kaHoldsTables);
}

std::string UsageText() {
  std::string kinds = "  --source-kind KIND, --dest-kind KIND    ";
  size_t line = kinds.size();
  const std::string names = KindNameList();
  for (size_t at = 0; at < names.size();) {
    size_t end = names.find(' ', at);
    if (end == std::string::npos) end = names.size();
    if (line + (end - at) > 82) {
      kinds += "\n" + std::string(42, ' ');
      line = 42;
    }
    kinds += names.substr(at, end - at) + " ";
    line += end - at + 1;
    at = end + 1;
  }
  kinds.back() = '\n';
  return "Usage: trundle-cli [options] SOURCE DEST\n"
         "       trundle-cli --job FILE [--quiet] [--report PATH] [--verify]\n"
         "       trundle-cli [options] --list-tables DATABASE\n"
         "       trundle-cli [options] --all-tables SOURCE DEST\n"
         "       trundle-cli --check-access DATABASE\n"
         "Copies one table from SOURCE to DEST. The kinds follow the file extensions:\n"
         "  .csv comma-delimited, .txt .tsv .tab tab-delimited, .htm .html an HTML page\n"
         "  (destination only), .dbf dBase, .db Paradox, .mdb .accdb an Access database\n"
         "  (as DEST a table, created when missing), .sqlite .sqlite3 .db3 (and a .db file\n"
         "  that is one) a SQLite database (as DEST a table; the file and the table are\n"
         "  created when missing). DEST - is the standard output\n"
         "  (csv unless --dest-kind says otherwise; the log then goes to standard error).\n"
         "A server (kind oracle, alias odbc) is reached through ODBC: SOURCE or DEST is then\n"
         "  an ODBC connection string (\"Driver=...;Server=...;Database=...\"), the name of a\n"
         "  configured data source, or an Oracle connect identifier; the destination table\n"
         "  must exist unless --create-table is given. Give the password through an\n"
         "  environment variable, never as an argument.\n"
         "PostgreSQL (kind postgresql, alias pg) is reached through libpq: SOURCE or DEST is a\n"
         "  URI (postgresql://user@host:port/db) or a keyword string (host=... dbname=...);\n"
         "  a missing destination table is created with --create-table. The password comes\n"
         "  from the variable --*-password-env names, PGPASSWORD or ~/.pgpass, never from\n"
         "  the location.\n"
         "\n"
         "Options:\n" +
         kinds +
         "  --source-table NAME, --dest-table NAME  the table within a database (a source\n"
         "                                          database with one table uses it)\n"
         "  --source-sql SQL                        the statement a database source runs\n"
         "                                          (default: select * from \"SOURCE\",\n"
         "                                          for Access select * from [TABLE], for\n"
         "                                          a server select * from TABLE)\n"
         "  --list-tables DATABASE                  print the database's tables and exit\n"
         "                                          (--source-password-env, --source-dao)\n"
         "  --check-access DATABASE                 check an Access database's pages, rows\n"
         "                                          and indexes; print what is wrong; exit 0\n"
         "                                          when sound, 1 when not or unreadable\n"
         "  --source-database DB, --dest-database DB\n"
         "  --source-user USER, --dest-user USER    the user a server is logged on as\n"
         "  --source-password-env VAR, --dest-password-env VAR\n"
         "                                          read the password from variable VAR\n"
         "  --source-dao VERSION, --dest-dao VERSION  dao35 (Access 97 only) or dao36\n"
         "                                          (default)\n"
         "  --source-encoding NAME                  code page of the source's text\n"
         "  --dest-encoding NAME                    code page of what is written (UTF-8)\n"
         "  --html-title TITLE                      default: DEST's file name up to its first dot\n"
         "  --html-banner FILE                      default: Banner.html\n"
         "  --create-database                       when the Access database DEST does not\n"
         "                                          exist, create it empty (Access 2000,\n"
         "                                          .mdb) first; removed again when the\n"
         "                                          run creates no table in it\n"
         "  --create-table                          a server DEST's missing table is created\n"
         "                                          from the source's fields (the statement\n"
         "                                          is logged); an existing one is appended to\n"
         "  --map SRC=NAME,SRC=-                    rename source fields (SRC reaches DEST as\n"
         "                                          NAME) and leave fields out (=-); a created\n"
         "                                          table gets the new names\n"
         "  --batch-size N                          records per transaction (1 to 1000000,\n"
         "                                          default 1000) for Access, SQLite and\n"
         "                                          server destinations; a batch a server\n"
         "                                          undoes (a serialization failure or\n"
         "                                          deadlock) is sent again up to 5 times\n"
         "  --if-exists append|replace|fail         an existing DEST gets the records after\n"
         "                                          its own (append, the default), is made\n"
         "                                          anew (replace: csv and text files; an\n"
         "                                          HTML page always is), or stops the run\n"
         "                                          before it starts (fail, exit status 1)\n"
         "  --on-error stop|skip                    a record the destination refuses stops\n"
         "                                          the run (stop, the default), or is set\n"
         "                                          aside in the reject file (skip)\n"
         "  --reject-file PATH                      where skip sets records aside (default:\n"
         "                                          DEST's table or file name followed by\n"
         "                                          .rejects.csv, in the current folder)\n"
         "  --max-rejects N                         stop the run (exit status 3) once more\n"
         "                                          than N records are set aside\n"
         "  --report PATH                           write a report of the run to PATH (JSON),\n"
         "                                          whatever its end; see README.md\n"
         "  --verify                                read the destination back after the run\n"
         "                                          and compare it with what was written\n"
         "                                          (exit status 5 when it differs)\n"
         "  --all-tables                            copy every table of the database or\n"
         "                                          folder SOURCE, each by a run of its own,\n"
         "                                          into the database or folder DEST (a\n"
         "                                          folder's files are of --dest-kind, named\n"
         "                                          by their tables); missing tables are\n"
         "                                          created, servers' too; exit status 3\n"
         "                                          names the tables that failed\n"
         "  --tables NAMES                          with --all-tables: only these (A,B)\n"
         "  --exclude-tables NAMES                  with --all-tables: never these\n"
         "  --jobs N                                with --all-tables: up to N tables at\n"
         "                                          once (1 to 16, default 1); --reject-file\n"
         "                                          then names a folder\n"
         "  --save-job FILE                         write the transfer the other arguments\n"
         "                                          describe to the job file FILE (JSON, no\n"
         "                                          passwords: only --*-password-env names)\n"
         "                                          instead of running it\n"
         "  --job FILE                              run the transfer saved in FILE; every\n"
         "                                          other option but --quiet, --report and\n"
         "                                          --verify is a usage error with it\n"
         "  --clipboard                             put tab-delimited text on the clipboard\n"
         "                                          instead of writing DEST\n"
         "  --quiet                                 print no log\n"
         "  --help, --version\n"
         "\n"
         "Exit status: 0 records moved; 1 the source or destination could not be opened\n"
         "or created; 2 a usage error; 3 an error stopped the run; 4 the run ended and set\n"
         "records aside; 5 --verify found the destination differing from what was written;\n"
         "130 or 143 SIGINT or SIGTERM stopped it at a record boundary (a text destination\n"
         "is left as it was).\n";
}

std::string ParseCliOptions(const std::vector<std::string>& args, CliOptions& o) {
  std::vector<std::string> positional;
  std::vector<std::string> given;  // options given with a value, kinds left out
  std::string transfer_option;     // the first option that describes the transfer
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // What a job file holds comes from the file alone: one source of truth, rather than
    // rules for which of two values wins.
    if (transfer_option.empty() && a.size() > 1 && a[0] == '-' && a != "--job" &&
        a != "--quiet" && a != "-q" && a != "--report" && a != "--verify")
      transfer_option = a;
    auto value = [&](std::string& out) -> std::string {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      out = args[++i];
      if (a != "--source-kind" && a != "--dest-kind" && a != "--list-tables" &&
          a != "--check-access")
        given.push_back(a);
      return "";
    };
    auto kind = [&](std::optional<TDataKind>& out) -> std::string {
      std::string name;
      if (std::string e = value(name); !e.empty()) return e;
      out = KindForName(name);
      if (!out) return "unknown kind '" + name + "' (" + KindNameList() + ")";
      return "";
    };
    std::string error;
    if (a == "--help" || a == "-h")
      o.help = true;
    else if (a == "--version")
      o.version = true;
    else if (a == "--quiet" || a == "-q")
      o.quiet = true;
    else if (a == "--clipboard")
      o.clipboard = true;
    else if (a == "--create-database")
      o.create_database = true;
    else if (a == "--create-table")
      o.create_table = true;
    else if (a == "--verify")
      o.verify = true;
    else if (a == "--all-tables")
      o.all_tables = true;
    else if (a == "--tables" || a == "--exclude-tables") {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      (a == "--tables" ? o.tables : o.exclude_tables) = SplitNames(args[++i]);
      if ((a == "--tables" ? o.tables : o.exclude_tables).empty())
        return "option " + a + " needs the names of tables, separated by commas";
    } else if (a == "--jobs") {
      long long parsed = 0;
      if (i + 1 >= args.size()) return "option --jobs needs a value";
      if (!ParseCount(args[++i], 1, 16, parsed))
        return "--jobs takes a count of tables at once from 1 to 16, not '" + args[i] + "'";
      o.jobs = static_cast<int>(parsed);
    }
    else if (a == "--job" || a == "--save-job") {
      std::string& path = a == "--job" ? o.job : o.save_job;
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      path = args[++i];
      if (path.empty()) return a + " needs the path of a job file";
    } else if (a == "--report") {
      if (i + 1 >= args.size()) return "option --report needs a value";
      o.report = args[++i];
      if (o.report.empty()) return "--report needs the path of the file to write";
    }
    else if (a == "--if-exists") {
      std::string what;
      error = i + 1 < args.size() ? ParseIfExists(what = args[++i], o.if_exists)
                                  : "option --if-exists needs a value";
    } else if (a == "--on-error") {
      const std::string what = i + 1 < args.size() ? args[++i] : "";
      if (what == "stop")
        o.on_error = TOnError::kStop;
      else if (what == "skip")
        o.on_error = TOnError::kSkip;
      else
        error = what.empty() ? "option --on-error needs a value"
                             : "unknown --on-error '" + what + "' (stop or skip)";
    } else if (a == "--reject-file")
      error = value(o.reject_file);
    else if (a == "--max-rejects") {
      std::string n;
      error = value(n);
      long long parsed = 0;
      if (error.empty() && !ParseCount(n, 0, LLONG_MAX, parsed))
        error = "--max-rejects takes a count of records, not '" + n + "'";
      else if (error.empty())
        o.max_rejects = parsed;
    } else if (a == "--map") {
      std::string text;
      error = value(text);
      if (error.empty()) error = ParseFieldMap(text, o.field_map);
    } else if (a == "--batch-size") {
      std::string n;
      error = value(n);
      long long parsed = 0;
      if (error.empty() && !ParseCount(n, 1, kMostRecordsPerBatch, parsed))
        error = "--batch-size takes a count of records from 1 to " +
                std::to_string(kMostRecordsPerBatch) + ", not '" + n + "'";
      else if (error.empty())
        o.batch_size = static_cast<int>(parsed);
    } else if (a == "--source-kind")
      error = kind(o.source.kind);
    else if (a == "--dest-kind")
      error = kind(o.dest.kind);
    else if (a == "--source-table")
      error = value(o.source.table);
    else if (a == "--dest-table")
      error = value(o.dest.table);
    else if (a == "--source-sql")
      error = value(o.source.sql);
    else if (a == "--source-database")
      error = value(o.source.database);
    else if (a == "--dest-database")
      error = value(o.dest.database);
    else if (a == "--source-user")
      error = value(o.source.user);
    else if (a == "--dest-user")
      error = value(o.dest.user);
    else if (a == "--source-password-env")
      error = value(o.source.password_env);
    else if (a == "--dest-password-env")
      error = value(o.dest.password_env);
    else if (a == "--source-dao")
      error = value(o.source.dao);
    else if (a == "--dest-dao")
      error = value(o.dest.dao);
    else if (a == "--source-encoding")
      error = value(o.source.encoding);
    else if (a == "--dest-encoding")
      error = value(o.dest.encoding);
    else if (a == "--html-title")
      error = value(o.html_title.emplace());
    else if (a == "--html-banner")
      error = value(o.html_banner.emplace());
    else if (a == "--list-tables") {
      o.list_tables = true;
      error = value(o.source.location);
    } else if (a == "--check-access") {
      error = value(o.check_access);
    } else if (a == "--")
      positional.insert(positional.end(), args.begin() + i + 1, args.end()), i = args.size();
    else if (a.size() > 1 && a[0] == '-')
      error = "unknown option " + a;
    else
      positional.push_back(a);
    if (!error.empty()) return error;
  }
  if (o.help || o.version) return "";
  if (!o.job.empty()) {
    if (!transfer_option.empty() || !positional.empty())
      return "--job takes the transfer from its file; only --quiet, --report and --verify go "
             "with it, not " +
             (transfer_option.empty() ? positional.front() : transfer_option);
    return "";
  }
  if (!o.save_job.empty() && (o.verify || !o.report.empty()))
    return "--save-job saves the transfer without running it; give --report and --verify "
           "with --job when it runs";
  if (!o.save_job.empty() && (o.list_tables || !o.check_access.empty()))
    return "--save-job saves a transfer from SOURCE to DEST";
  if (!o.save_job.empty() && o.all_tables)
    return "--save-job saves a transfer of one table; a job file cannot hold --all-tables yet";
  for (const std::string* dao : {&o.source.dao, &o.dest.dao})
    if (!dao->empty() && LowerAscii(*dao) != "dao35" && LowerAscii(*dao) != "dao36")
      return "unknown DAO version '" + *dao + "' (dao35, dao36)";
  if (!o.check_access.empty()) {
    if (!positional.empty() || !given.empty() || o.list_tables)
      return "--check-access takes the database and nothing else";
    return "";
  }
  if (o.list_tables) {
    if (!positional.empty()) return "--list-tables takes the database and nothing else";
    if (!o.source.kind) o.source.kind = KindForPath(o.source.location);
    if (!o.source.kind || !IsDatabaseKind(*o.source.kind))
      return "--list-tables needs a database (.mdb, .accdb, .sqlite, postgresql://), not " +
             o.source.location;
    return PasswordInLocation(*o.source.kind, o.source, "--source-password-env");
  }
  if (o.clipboard && positional.size() == 1) {
    positional.emplace_back();
    if (!o.dest.kind) o.dest.kind = dkText;
  }
  if (positional.size() != 2) return "expected SOURCE and DEST";
  o.source.location = positional[0];
  o.dest.location = positional[1];
  if ((!o.tables.empty() || !o.exclude_tables.empty() || o.jobs != 1) && !o.all_tables)
    return "--tables, --exclude-tables and --jobs apply with --all-tables";
  // Field names differ from table to table.
  if (o.all_tables && !o.field_map.empty())
    return "--map renames the fields of one table; it does not go with --all-tables";
  if (o.all_tables) return CheckAllTables(o);
  if (!o.source.kind) o.source.kind = KindForPath(o.source.location);
  if (!o.dest.kind)
    o.dest.kind = o.clipboard              ? std::optional(dkText)
                  : o.dest.location == "-" ? std::optional(dkCsv)  // standard output
                                           : KindForPath(o.dest.location);
  if (!o.source.kind)
    return "cannot tell the kind of " + o.source.location + " (use --source-kind)";
  if (!o.dest.kind) return "cannot tell the kind of " + o.dest.location + " (use --dest-kind)";
  if (*o.source.kind == dkHtml) return "an HTML page cannot be a source";
  if (!FindKind(*o.source.kind)->Can(kaRead))
    return std::string("a ") + KindName(*o.source.kind) + " end cannot be a source";
  if (!FindKind(*o.dest.kind)->Can(kaWrite))
    return std::string("a ") + KindName(*o.dest.kind) + " end cannot be a destination";
  if (!o.source.sql.empty() && !FindKind(*o.source.kind)->Reads(true, koSql))
    return std::string("--source-sql needs a source that runs SQL; a ") + KindName(*o.source.kind) +
           " file is read whole";
  if (o.clipboard && *o.dest.kind != dkText) return "--clipboard needs a tab-delimited destination";
  if (o.create_database) {
    if (*o.dest.kind != dkAccess) return "--create-database needs an Access destination";
    if (EndsWithIgnoringAsciiCase(DestDatabase(o), ".accdb"))
      return "--create-database makes an Access 2000 database (.mdb), not an .accdb";
    if (LowerAscii(o.dest.dao) == "dao35")
      return "--create-database makes an Access 2000 database, which DAO 3.5 cannot open";
  }
  // Only a destination that commits in batches has a batch size to set; a text file or
  // the clipboard is written as one.
  if (o.batch_size && !FindKind(*o.dest.kind)->Can(kaTransactions))
    return std::string("--batch-size applies to a destination that commits in batches (") +
           KindNamesWith(kaWrite | kaTransactions) + "), not to " +
           (o.clipboard ? std::string("the clipboard") : std::string("a ") + KindName(*o.dest.kind) + " one");
  if (o.create_table && !FindKind(*o.dest.kind)->Can(kaCreateTable | kaCreateOnRequest))
    return "--create-table applies to a server destination (" +
           KindNamesWith(kaCreateTable | kaCreateOnRequest) + "); a " + KindName(*o.dest.kind) +
           " destination's missing table is created without it";
  if (o.if_exists == IfExists::kReplace && !CanReplace(*o.dest.kind) && *o.dest.kind != dkHtml)
    return std::string("--if-exists replace makes csv and text files anew; a ") +
           KindName(*o.dest.kind) + " table keeps its records";
  if (o.dest.location == "-" && !FindKind(*o.dest.kind)->Can(kaStandardOutput))
    return "standard output (-) takes csv, text or html, not " +
           std::string(KindName(*o.dest.kind));
  // A password on the command line shows in the process list to every user.
  for (const auto& [end, kind, option] :
       {std::tuple(&o.source, *o.source.kind, "--source-password-env"),
        std::tuple(&o.dest, *o.dest.kind, "--dest-password-env")})
    if (std::string e = PasswordInLocation(kind, *end, option); !e.empty()) return e;
  return UnreadOption(given, o);
}

std::string DestDatabase(const CliOptions& options) {
  return options.dest.database.empty() ? options.dest.location : options.dest.database;
}

std::string PasswordOf(const EndOptions& end, std::string& password) {
  password.clear();
  if (end.password_env.empty()) return "";
  const char* value = std::getenv(end.password_env.c_str());
  if (!value) return "the environment variable " + end.password_env + " is not set";
  password = value;
  return "";
}

std::string DescribeEnd(const EndOptions& end, TDataKind kind, bool is_source,
                        EndDescription& out) {
  out = EndDescription{};
  out.kind = kind;
  if (IsFileKind(kind)) {
    out.file = end.location;
    out.database = end.database;
  } else {
    out.database = end.database.empty() ? end.location : end.database;
    out.table = end.table;
  }
  out.user = end.user;
  out.password_env = end.password_env;
  // A command line names today's databases: DAO 3.6 reads every Access version.
  out.dao_version = end.dao.empty() && kind == dkAccess ? "dao36" : end.dao;
  out.encoding = end.encoding;
  if (std::string e = PasswordOf(end, out.password); !e.empty()) return e;
  out.sql = end.sql;
  // A server's table is named in the statement by the adaptor, which finds the name in
  // the server's catalogue and quotes it: pasted in here it would run as SQL.
  if (is_source && out.sql.empty() && kind != dkOracle && kind != dkPostgres)
    out.sql = WholeTableSql(kind, IsFileKind(kind) ? end.location : end.table);
  return "";
}

std::string DescribeJob(const CliOptions& options, JobDescription& out) {
  if (std::string e = DescribeEnd(options.source, *options.source.kind, true, out.source);
      !e.empty())
    return e;
  if (std::string e = DescribeEnd(options.dest, *options.dest.kind, false, out.destination);
      !e.empty())
    return e;
  out.destination.create_database = options.create_database;
  out.if_exists = options.if_exists;
  out.clipboard = options.clipboard;
  out.html_title =
      options.html_title ? *options.html_title : HtmlTitleForFile(options.dest.location);
  out.html_banner = options.html_banner.value_or("Banner.html");
  out.on_error = options.on_error;
  out.reject_file = options.reject_file;
  out.max_rejects = options.max_rejects;
  out.batch_size = options.batch_size.value_or(kRecordsPerBatch);
  out.field_map = options.field_map;
  out.destination.create_table = options.create_table;
  return "";
}

}  // namespace trundle

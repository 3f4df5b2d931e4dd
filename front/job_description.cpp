#include "front/job_description.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/adaptor_registry.h"
#include "front/kinds.h"
#include "front/register_adaptors.h"

namespace trundle {
namespace {

void FillAdaptor(const EndDescription& end, TTrundleUnknown& adaptor) {
  // A text tab without a file type still names its file: the log says which file the
  // run could not read rather than an empty name.
  const bool file = IsFileKind(end.kind) || (end.kind == dkUnknown && !end.file.empty());
  adaptor.TableName = file ? end.file : end.table;
  adaptor.Database = end.database;
  adaptor.UserName = end.user;
  adaptor.Password = end.password;
  adaptor.DaoVersion = end.dao_version;
  adaptor.Sql = end.sql;
  adaptor.Encoding = end.encoding;
  adaptor.CreateMissingTable = end.create_table;
}

// True when both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second{};
  if (a.empty() || b.empty() || stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0)
    return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Access table names are compared as Access compares them: ASCII letters in any case.
bool SameTableName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsFileKind(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared && declared->Can(kaOneFile);
}

void BuildJob(const JobDescription& description, TTrundle& job) {
  job.SetSourceKind(description.source.kind);
  job.SetDestinationKind(description.destination.kind);
  FillAdaptor(description.source, job.Source());
  FillAdaptor(description.destination, job.Destination());
  TTrundleUnknown& destination = job.Destination();
  destination.HtmlTitle = description.html_title;
  destination.HtmlBanner = description.html_banner;
  destination.Clipboard = description.clipboard;
  destination.ReplaceExisting =
      description.if_exists == IfExists::kReplace && CanReplace(description.destination.kind);
  job.OnError = description.on_error;
  // A record set aside is kept whole in the reject file: a value that the destination
  // would cut or leave empty refuses its record instead.
  destination.RefuseLossyValues = description.on_error == TOnError::kSkip;
  job.RejectFilePath =
      description.reject_file.empty() ? DefaultRejectFile(description) : description.reject_file;
  job.MaxRejects = description.max_rejects;
  job.BatchSize = description.batch_size;
  job.FieldMap = description.field_map;
}

std::string RejectFileMessage(const JobDescription& description, const std::string& path) {
  if (description.on_error != TOnError::kSkip || !IsFileKind(description.source.kind) ||
      !SameFile(description.source.file, path))
    return "";
  return "The reject file " + path + " is the source file " + description.source.file +
         ": name another with --reject-file";
}

std::string DefaultRejectFile(const JobDescription& description) {
  const EndDescription& dest = description.destination;
  std::string name = IsFileKind(dest.kind) ? dest.file : dest.table;
  if (const size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (name.empty() || name == "-") name = "records";
  return name + ".rejects.csv";
}

std::string RejectFileBesideDestination(const JobDescription& description,
                                        const std::string& folder) {
  namespace fs = std::filesystem;
  const EndDescription& dest = description.destination;
  const KindDeclaration* declared = FindKind(dest.kind);
  // A database that is a file here claims extensions; a server's data source does not.
  const bool database_file = declared && declared->Can(kaHoldsTables) &&
                             !declared->extensions.empty() && !dest.database.empty();
  const std::string beside = IsFileKind(dest.kind) && !dest.file.empty() && dest.file != "-"
                                 ? dest.file
                             : database_file ? dest.database
                                             : "";
  // Relative paths are the current folder's, as the adaptors open them.
  const auto full = [](const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path.lexically_normal() : absolute.lexically_normal();
  };
  fs::path at = beside.empty() ? fs::path(folder) : fs::path(beside).parent_path();
  at = full(at.empty() ? fs::path(".") : at);
  const std::string name = DefaultRejectFile(description);
  const std::string stem = name.substr(0, name.size() - std::string(".csv").size());
  const EndDescription& source = description.source;
  // Compared by name too: a destination file that is not made yet has no inode.
  const auto taken = [&](const fs::path& path) {
    for (const std::string* end : {&source.file, &source.database, &dest.file, &dest.database})
      if (!end->empty() && (SameFile(*end, path.string()) || full(*end) == path)) return true;
    return false;
  };
  fs::path path = at / name;
  for (int n = 2; taken(path); ++n) path = at / (stem + "." + std::to_string(n) + ".csv");
  return path.string();
}

bool CanReplace(TDataKind kind) { return kind == dkCsv || kind == dkText; }

bool DestinationExists(const JobDescription& description, bool ask_databases) {
  const EndDescription& dest = description.destination;
  if (IsFileKind(dest.kind)) {
    if (dest.kind == dkText && description.clipboard) return false;
    struct stat st {};
    return !dest.file.empty() && dest.file != "-" && stat(dest.file.c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
  }
  const KindDeclaration* declared = FindKind(dest.kind);
  if (!ask_databases || !declared || !declared->Can(kaHoldsTables) || dest.database.empty())
    return false;
  const bool server = dest.kind == dkOracle || dest.kind == dkPostgres;
  if (!server && !std::filesystem::exists(dest.database)) return false;
  try {
    for (const std::string& table :
         DatabaseTables(dest.kind, dest.database, dest.user, dest.password, dest.dao_version))
      if (SameTableName(table, dest.table)) return true;
  } catch (const std::exception&) {
  }
  return false;
}

std::string ExistingDestinationNote(const JobDescription& description, bool ask_databases) {
  if (!DestinationExists(description, ask_databases)) return "";
  const EndDescription& dest = description.destination;
  const std::string name =
      IsFileKind(dest.kind) ? dest.file : "The table " + dest.table + " of " + dest.database;
  if (description.if_exists == IfExists::kFail)
    return name + " exists: the run will not start";
  if (dest.kind == dkHtml) return name + " exists: the page will be written anew";
  if (description.if_exists == IfExists::kReplace && CanReplace(dest.kind))
    return name + " exists: it will be replaced by the source's table";
  return name + " exists: the records will be appended to it";
}

std::string WholeTableSql(TDataKind kind, const std::string& table) {
  if (table.empty()) return "";
  // Doubling inner quotes lets any path or name stand between the quotes.
  const auto quoted = [&table] {
    std::string sql = "select * from \"";
    for (char c : table) {
      sql += c;
      if (c == '"') sql += '"';
    }
    return sql + "\"";
  };
  if (kind == dkDBase || kind == dkParadox || kind == dkSqlite) return quoted();
  // An Access name in brackets, so that a name with spaces is one name; brackets cannot
  // hold a ']', double quotes can.
  if (kind == dkAccess && table.find(']') == std::string::npos)
    return "select * from [" + table + "]";
  if (kind == dkAccess) return quoted();
  if (kind == dkOracle) {
    // Names the server folds as it likes (SCOTT.EMP) go as they are; any other name is
    // quoted in the standard's double quotes, so that the statement shown reads one table.
    bool plain = table.front() != '.' && table.back() != '.';
    for (char c : table)
      plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#' || c == '.');
    return plain ? "select * from " + table : quoted();
  }
  return "";
}

std::string ProposedSql(TDataKind kind, const std::string& table) {
  if (kind == dkDBase || kind == dkParadox) {
    std::error_code error;
    if (table.empty() || !std::filesystem::is_regular_file(table, error)) return "";
  }
  return WholeTableSql(kind, table);
}

std::string HtmlTitleForFile(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string MissingKindMessage(const JobDescription& description) {
  for (const EndDescription* end : {&description.source, &description.destination}) {
    if (end->kind == dkUnknown || IsAdaptorRegistered(end->kind)) continue;
    return std::string(KindTitle(end->kind)) + (end == &description.source ? " sources" : " destinations") +
           " are not available in this version of Trundle";
  }
  return "";
}

std::string SameAsSourceMessage(const JobDescription& description) {
  const EndDescription& source = description.source;
  const EndDescription& dest = description.destination;
  // Tab-delimited text for the clipboard writes no file.
  const bool writes_file = !(dest.kind == dkText && description.clipboard);
  if (IsFileKind(source.kind) && IsFileKind(dest.kind) && writes_file &&
      SameFile(source.file, dest.file))
    return "The destination " + dest.file + " is the source file " + source.file +
           ": choose another destination";
  if ((source.kind == dkAccess || source.kind == dkSqlite) && dest.kind == source.kind &&
      SameFile(source.database, dest.database) && SameTableName(source.table, dest.table))
    return "The destination table " + dest.table + " of " + dest.database +
           " is the source table: choose another destination table";
  return "";
}

std::string DaoVersionOfFile(const std::string& path, std::string& found) {
  found.clear();
  // The first page: 00 01 00 00, "Standard Jet DB" or "Standard ACE DB", and at 0x14 the
  // format's version, 0 for Jet 3, 1 for Jet 4, 2 and up for the ACE formats.
  char head[0x18] = {};
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "";
  const size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  const std::string_view bytes(head, got);
  if (got < sizeof head || bytes.substr(0, 4) != std::string_view("\0\1\0\0", 4) ||
      (bytes.substr(4, 15) != "Standard Jet DB" && bytes.substr(4, 15) != "Standard ACE DB"))
    return "";
  const auto version = static_cast<unsigned char>(head[0x14]);
  found = version == 0 ? "Access 97" : version == 1 ? "Access 2000" : "Access 2007 or later";
  return version == 0 ? "dao35" : "dao36";
}

const char* KindTitle(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared ? declared->title.c_str() : "Unknown";
}

}  // namespace trundle

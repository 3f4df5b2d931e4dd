#include "front/job_description.h"

#include <filesystem>
#include <system_error>

#include "engine/adaptor_registry.h"
#include "front/kinds.h"

namespace trundle {
namespace {

void FillAdaptor(const EndDescription& end, TTrundleUnknown& adaptor) {
  adaptor.TableName = IsFileKind(end.kind) ? end.file : end.table;
  adaptor.Database = end.database;
  adaptor.UserName = end.user;
  adaptor.Password = end.password;
  adaptor.DaoVersion = end.dao_version;
  adaptor.Sql = end.sql;
  adaptor.Encoding = end.encoding;
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
}

std::string WholeTableSql(TDataKind kind, const std::string& table) {
  if (table.empty()) return "";
  if (kind == dkDBase || kind == dkParadox) {
    // Doubling inner quotes lets any path stand between the quotes.
    std::string quoted = "\"";
    for (char c : table) {
      quoted += c;
      if (c == '"') quoted += '"';
    }
    return "select * from " + quoted + "\"";
  }
  // An Access name in brackets, so that a name with spaces is one name; brackets cannot
  // hold a ']', double quotes can.
  if (kind == dkAccess && table.find(']') == std::string::npos)
    return "select * from [" + table + "]";
  if (kind == dkAccess) return WholeTableSql(dkDBase, table);
  if (kind == dkOracle) {
    // Names the server folds as it likes (SCOTT.EMP) go as they are; any other name is
    // quoted in the standard's double quotes, so that the statement shown reads one table.
    bool plain = table.front() != '.' && table.back() != '.';
    for (char c : table)
      plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#' || c == '.');
    if (plain) return "select * from " + table;
    std::string quoted = "\"";
    for (char c : table) {
      quoted += c;
      if (c == '"') quoted += '"';
    }
    return "select * from " + quoted + "\"";
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

const char* KindTitle(TDataKind kind) {
  const KindDeclaration* declared = FindKind(kind);
  return declared ? declared->title.c_str() : "Unknown";
}

}  // namespace trundle

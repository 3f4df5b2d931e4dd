#include "front/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/json_writer.h"
#include "front/kinds.h"

namespace trundle {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "123 records read": a count and the words after it.
bool IsCountLine(const std::string& line, const char* words) {
  size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
  return digits > 0 && line.compare(digits, std::string::npos, words) == 0;
}

// Removes the parts of a list of key=value parts whose key is one of keys. With braces,
// a value may be braced as ODBC allows ({a;b}, "}}" standing for one brace inside).
std::string WithoutKeys(const std::string& text, char separator,
                        std::initializer_list<const char*> keys, bool braces) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = at;
    while (end < text.size() && text[end] != separator) {
      if (braces && text[end] == '{' && end > at && text.find('=', at) < end) {
        for (++end; end < text.size(); ++end)
          if (text[end] == '}') {
            if (end + 1 < text.size() && text[end + 1] == '}')
              ++end;
            else
              break;
          }
        if (end < text.size()) ++end;
        continue;
      }
      ++end;
    }
    const std::string part = text.substr(at, end - at);
    std::string key = part.substr(0, part.find('='));
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    bool secret = false;
    for (const char* k : keys) secret = secret || EqualsIgnoringAsciiCase(key, k);
    if (!secret && !part.empty()) {
      if (!out.empty()) out += separator;
      out += part;
    }
    at = end + 1;
  }
  return out;
}

void WriteEnd(JsonWriter& json, const EndDescription& end) {
  json.BeginObject();
  json.Key("kind").String(FindKind(end.kind) ? FindKind(end.kind)->name : "unknown");
  if (IsFileKind(end.kind)) {
    json.Key("file").String(end.file);
  } else {
    // A database file's path is shown as it is; only a server's connection holds a
    // password of its own.
    const bool server = end.kind == dkOracle || end.kind == dkPostgres;
    json.Key("connection").String(server ? WithoutPassword(end.database) : end.database);
  }
  json.Key("table");
  if (IsFileKind(end.kind))
    json.Null();
  else
    json.String(end.table);
  json.EndObject();
}

// Whether the destination kind's writers count the values they store changed; where
// they do not, the report says null rather than a 0 it cannot vouch for.
bool CountsChanges(TDataKind kind) {
  // SQLite stores every value whole (text and numbers as given, dates to the
  // millisecond), so nothing is ever changed there.
  return kind == dkDBase || kind == dkParadox || kind == dkAccess || kind == dkSqlite;
}

// The destination's fields as it now holds them, read through its own kind's reader;
// empty when it cannot be read (HTML, the clipboard, a run that made nothing).
TFieldDefs DestinationFields(const JobDescription& description) {
  if (!VerifyRefusal(description).empty()) return {};
  JobDescription reading;
  reading.source = description.destination;
  reading.source.sql = WholeTableSql(
      reading.source.kind, IsFileKind(reading.source.kind) ? reading.source.file : reading.source.table);
  TTrundle job;
  BuildJob(reading, job);
  try {
    if (!job.Source().OpenTable()) return {};
    return job.Source().SourceFieldDefs(nullptr);
  } catch (const std::exception&) {
    return {};
  }
}

void WriteFields(JsonWriter& json, const RunReportFacts& facts) {
  const TTrundle& job = facts.job;
  const std::vector<RunTally::Field>& written = job.tally().fields();
  const TFieldDefs dest = DestinationFields(facts.description);
  std::vector<std::string> source_names;
  for (const RunTally::Field& field : written) source_names.push_back(field.name);
  const std::vector<int> map = MapFields(source_names, dest, job.destination_created());
  const bool counts = CountsChanges(facts.description.destination.kind);
  json.Key("fields").BeginArray();
  for (size_t j = 0; j < dest.size(); ++j) {
    const RunTally::Field* from = nullptr;
    for (size_t i = 0; i < map.size(); ++i)
      if (map[i] == static_cast<int>(j)) from = &written[i];
    json.BeginObject();
    json.Key("source");
    if (from)
      json.String(from->name);
    else
      json.Null();
    json.Key("destination").String(dest[j].Name);
    json.Key("type").String(FieldTypeName(dest[j].DataType) + 2);  // "ftString": "String"
    // A field no source field fills holds nothing in every record written.
    json.Key("nulls").Int(from ? from->nulls : job.tally().records());
    json.Key("changed");
    if (counts)
      json.Int(job.value_changes().Count(dest[j].Name));
    else
      json.Null();
    json.EndObject();
  }
  json.EndArray();
}

void WriteVerification(JsonWriter& json, const Verification* verification) {
  json.Key("verification");
  if (!verification) {
    json.Null();
    return;
  }
  json.BeginObject();
  json.Key("result").String(!verification->done ? "not verified"
                            : verification->sound() ? "match"
                                                    : "differs");
  if (!verification->done) json.Key("reason").String(verification->reason);
  json.Key("records_written").Int(verification->records_written);
  json.Key("records_found").Int(verification->records_found);
  json.Key("fields_differing").BeginArray();
  for (const FieldCheck& field : verification->fields)
    if (!field.match) json.String(field.destination);
  json.EndArray();
  json.EndObject();
}

std::string Outcome(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::kMoved: return "moved";
    case TRunOutcome::kNotOpened: return "not opened";
    case TRunOutcome::kStopped: return "stopped";
    case TRunOutcome::kReadFailed: return "source read failed";
    case TRunOutcome::kTooManyRejects: return "too many rejects";
    default: return "failed";
  }
}

}  // namespace

bool ReportedMessage(const std::string& line) {
  static const char* const kRoutinePrefixes[] = {"Commenced: ", "Moving data from ",
                                                 "\r\nCompleted: ", "Elapsed time: "};
  for (const char* prefix : kRoutinePrefixes)
    if (StartsWith(line, prefix)) return false;
  // A missing destination table is made: the lines that say so are no warning.
  static const char* const kRoutineLines[] = {"Moving data",   "Reading from table",
                                              "Reading table", "Table doesn't exist",
                                              "Creating table", "Table created",
                                              "Writing table",
                                              ""};
  for (const std::string made : {" doesn't exist yet; it is created", " does not exist yet: it is created"})
    if (line.size() > made.size() && line.compare(line.size() - made.size(), made.size(), made) == 0)
      return false;
  for (const char* routine : kRoutineLines)
    if (line == routine) return false;
  return !IsCountLine(line, " records read") && !IsCountLine(line, " records moved") &&
         !IsCountLine(line, " records written") && !IsCountLine(line, " record read") &&
         !IsCountLine(line, " record moved") && !IsCountLine(line, " record written");
}

std::string WithoutPassword(const std::string& connection) {
  const std::string lower = LowerAscii(connection);
  if (StartsWith(lower, "postgresql://") || StartsWith(lower, "postgres://")) {
    std::string uri = connection;
    const size_t scheme = uri.find("://") + 3;
    const size_t slash = uri.find('/', scheme);
    const size_t at = uri.rfind('@', slash == std::string::npos ? std::string::npos : slash);
    if (at != std::string::npos && at >= scheme) {
      const size_t colon = uri.find(':', scheme);
      if (colon != std::string::npos && colon < at) uri.erase(colon, at - colon);
    }
    const size_t query = uri.find('?');
    if (query == std::string::npos) return uri;
    const std::string kept = WithoutKeys(uri.substr(query + 1), '&', {"password"}, false);
    return uri.substr(0, query) + (kept.empty() ? "" : "?" + kept);
  }
  if (connection.find(';') != std::string::npos || lower.find("pwd=") != std::string::npos)
    return WithoutKeys(connection, ';', {"PWD", "PASSWORD"}, true);
  if (lower.find("password") != std::string::npos) {
    // A libpq keyword string: key=value pairs separated by spaces, values perhaps quoted.
    std::string out;
    size_t at = 0;
    while (at < connection.size()) {
      while (at < connection.size() && connection[at] == ' ') ++at;
      size_t end = at;
      bool quoted = false;
      for (; end < connection.size(); ++end) {
        if (connection[end] == '\\' && quoted) {
          ++end;
          continue;
        }
        if (connection[end] == '\'') quoted = !quoted;
        if (connection[end] == ' ' && !quoted) break;
      }
      const std::string pair = connection.substr(at, end - at);
      std::string key = pair.substr(0, pair.find('='));
      while (!key.empty() && key.back() == ' ') key.pop_back();
      if (!pair.empty() && !EqualsIgnoringAsciiCase(key, "password"))
        out += (out.empty() ? "" : " ") + pair;
      at = end;
    }
    return out;
  }
  return connection;
}

std::string IsoUtc(std::chrono::system_clock::time_point moment) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string RunReportJson(const RunReportFacts& facts) {
  const TTrundle& job = facts.job;
  JsonWriter json;
  json.BeginObject();
  json.Key("source");
  WriteEnd(json, facts.description.source);
  json.Key("destination");
  WriteEnd(json, facts.description.destination);
  json.Key("started").String(IsoUtc(job.started()));
  json.Key("finished").String(IsoUtc(job.finished()));
  json.Key("elapsed_seconds").Double(job.elapsed_seconds());
  json.Key("records").BeginObject();
  json.Key("read").Int(job.records_read());
  json.Key("written").Int(job.records_moved());
  json.Key("rejected").Int(job.records_rejected());
  json.EndObject();
  json.Key("batches_committed").Int(job.batches_committed());
  WriteFields(json, facts);
  json.Key("reject_file");
  if (facts.reject_file.empty())
    json.Null();
  else
    json.String(facts.reject_file);
  json.Key("outcome").String(Outcome(job.outcome()));
  json.Key("exit_status").Int(facts.exit_status);
  WriteVerification(json, facts.verification);
  json.Key("messages").BeginArray();
  for (const std::string& message : facts.messages) json.String(message);
  json.EndArray();
  json.EndObject();
  return json.text() + "\n";
}

void WriteFileWhole(const std::string& path, const std::string& text, const std::string& what) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  const auto fail = [&path, &what](const char* cause) {
    return TrundleError("Cannot write " + what + " " + path + ": " + cause + ": " +
                        std::strerror(errno));
  };
  if (fd < 0) throw fail("cannot create a file beside it");
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const TrundleError error = fail("writing failed");
      ::close(fd);
      ::unlink(temp.c_str());
      throw error;
    }
    done += static_cast<size_t>(n);
  }
  // mkstemp makes the file for its owner alone; a report is as readable as any file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const TrundleError error = fail("writing failed");
    ::unlink(temp.c_str());
    throw error;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const TrundleError error = fail("cannot put it in place");
    ::unlink(temp.c_str());
    throw error;
  }
}

}  // namespace trundle

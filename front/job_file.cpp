#include "front/job_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine/ascii.h"
#include "engine/json_reader.h"
#include "engine/json_writer.h"
#include "front/kinds.h"
#include "front/run_report.h"

namespace trundle {
namespace {

using Type = JsonValue::Type;

std::string Quoted(const std::string& name) {
  std::string quoted(1, '"');
  quoted.append(name);
  quoted.push_back('"');
  return quoted;
}

// A job file larger than this is no job file; it is refused before it is read whole.
constexpr std::streamoff kMostJobFileBytes = 1 << 20;

const char* IfExistsName(IfExists choice) {
  switch (choice) {
    case IfExists::kAppend: return "append";
    case IfExists::kReplace: return "replace";
    case IfExists::kFail: return "fail";
  }
  return "append";
}

std::string KindNameOf(TDataKind kind) {
  if (kind == dkUnknown) return "";  // a window's page with no file type chosen yet
  const KindDeclaration* declared = FindKind(kind);
  if (!declared)
    throw TrundleError("A job file cannot name a kind this build does not have (kind " +
                       std::to_string(static_cast<int>(kind)) + ").");
  return declared->name;
}

void WriteEnd(JsonWriter& json, const EndDescription& end) {
  json.BeginObject();
  json.Key("kind").String(KindNameOf(end.kind));
  json.Key("file").String(end.file);
  json.Key("database").String(end.database);
  json.Key("user").String(end.user);
  json.Key("password_env").String(end.password_env);
  json.Key("table").String(end.table);
  json.Key("sql").String(end.sql);
  json.Key("encoding").String(end.encoding);
  json.Key("dao_version").String(end.dao_version);
  json.Key("create_database").Bool(end.create_database);
  json.Key("create_table").Bool(end.create_table);
  json.EndObject();
}

// Reads one object's members into their fields, refusing what does not belong.
class ObjectReader {
 public:
  ObjectReader(const std::string& path, const JsonValue& object, std::string where)
      : path_(path), object_(object), where_(std::move(where)) {}

  [[noreturn]] void Fail(const JsonValue& at, const std::string& what) const {
    throw TrundleError(path_ + ", line " + std::to_string(at.line) + ": " + what);
  }

  // The member `key`, checked to be of `type`; nullptr when it is left out.
  const JsonValue* Get(const char* key, Type type) {
    known_.push_back(key);
    const JsonValue* value = object_.Find(key);
    if (value && value->type != type)
      Fail(*value, "\"" + Name(key) + "\" must be " + JsonTypeName(type) + ", not " +
                       JsonTypeName(value->type) + ".");
    return value;
  }
  void Text(const char* key, std::string& out) {
    if (const JsonValue* v = Get(key, Type::kString)) out = v->text;
  }
  void Flag(const char* key, bool& out) {
    if (const JsonValue* v = Get(key, Type::kBool)) out = v->boolean;
  }
  // A whole number from low to high.
  void Count(const char* key, int64_t low, int64_t high, int64_t& out) {
    const JsonValue* v = Get(key, Type::kNumber);
    if (!v) return;
    if (!v->integral || v->integer < low || v->integer > high)
      Fail(*v, "\"" + Name(key) + "\" must be a whole number from " + std::to_string(low) +
                   " to " + std::to_string(high) + ".");
    out = v->integer;
  }

  // Refuses the first member none of the getters asked for.
  void RefuseUnknownKeys() const {
    for (const auto& [key, value] : object_.members) {
      bool known = false;
      for (const std::string& k : known_) known = known || k == key;
      std::string message = Quoted(Name(key));
      if (key == "password")
        Fail(value, message.append(": a job file never holds a password; put it in an "
                                   "environment variable and name the variable with "
                                   "\"password_env\"."));
      if (!known) Fail(value, "unknown key " + message.append("."));
    }
  }

  std::string Name(const std::string& key) const { return where_.empty() ? key : where_ + "." + key; }

 private:
  const std::string& path_;
  const JsonValue& object_;
  std::string where_;  // "source", "destination", or empty at the top
  std::vector<std::string> known_;
};

void ReadEnd(const std::string& path, const JsonValue& object, const char* where,
             EndDescription& end) {
  ObjectReader r(path, object, where);
  if (const JsonValue* kind = r.Get("kind", Type::kString); kind && !kind->text.empty()) {
    const std::optional<TDataKind> named = KindOfName(kind->text);
    if (!named)
      r.Fail(*kind, "unknown kind \"" + kind->text + "\" in \"" + r.Name("kind") + "\" (" +
                        KindNameList() + ").");
    end.kind = *named;
  }
  r.Text("file", end.file);
  r.Text("database", end.database);
  r.Text("user", end.user);
  r.Text("password_env", end.password_env);
  r.Text("table", end.table);
  r.Text("sql", end.sql);
  r.Text("encoding", end.encoding);
  r.Text("dao_version", end.dao_version);
  r.Flag("create_database", end.create_database);
  r.Flag("create_table", end.create_table);
  r.RefuseUnknownKeys();
  // A connection that carries its own password would put it in the file after all.
  const KindDeclaration* declared = FindKind(end.kind);
  for (const std::string* place : {&end.file, &end.database})
    if (declared && declared->gives_password && !place->empty() && declared->gives_password(*place))
      r.Fail(object, "the connection in \"" + std::string(where) +
                         "\" holds a password; leave it out and name the environment variable "
                         "that holds it with \"password_env\".");
}

// "field_map": [{"source": "a", "destination": "b"}, {"source": "c", "leave_out": true}].
void WriteFieldMap(JsonWriter& json, const std::vector<FieldRename>& map) {
  json.BeginArray();
  for (const FieldRename& rename : map) {
    json.BeginObject();
    json.Key("source").String(rename.source);
    if (rename.destination.empty())
      json.Key("leave_out").Bool(true);
    else
      json.Key("destination").String(rename.destination);
    json.EndObject();
  }
  json.EndArray();
}

// Each item names a source field and either its new name or that it is left out; a field
// named twice is refused as --map refuses it.
void ReadFieldMap(const std::string& path, const JsonValue& array,
                  std::vector<FieldRename>& out) {
  out.clear();
  for (size_t i = 0; i < array.items.size(); ++i) {
    const JsonValue& item = array.items[i];
    std::string where = "field_map[";
    where.append(std::to_string(i)).append(1, ']');
    ObjectReader r(path, item, where);
    if (item.type != Type::kObject)
      r.Fail(item, Quoted(where) + " must be an object, not " + JsonTypeName(item.type) + ".");
    FieldRename rename;
    bool leave_out = false;
    r.Text("source", rename.source);
    r.Text("destination", rename.destination);
    r.Flag("leave_out", leave_out);
    r.RefuseUnknownKeys();
    if (rename.source.empty())
      r.Fail(item, Quoted(r.Name("source")) + " must name a source field.");
    if (leave_out == !rename.destination.empty())
      r.Fail(item, Quoted(where) + " needs either a \"destination\" name or \"leave_out\": true.");
    for (const FieldRename& earlier : out)
      if (EqualsIgnoringAsciiCase(earlier.source, rename.source))
        r.Fail(item, "\"field_map\" names the field " + rename.source + " twice.");
    out.push_back(std::move(rename));
  }
}

// A choice among names: `names[i]` gives `values[i]`.
template <typename T, size_t N>
void ReadChoice(ObjectReader& r, const char* key, const char* const (&names)[N],
                const T (&values)[N], T& out) {
  const JsonValue* v = r.Get(key, Type::kString);
  if (!v) return;
  std::string listed;
  for (size_t i = 0; i < N; ++i) {
    if (v->text == names[i]) {
      out = values[i];
      return;
    }
    listed += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(names[i]);
  }
  r.Fail(*v, "unknown \"" + std::string(key) + "\" \"" + v->text + "\" (" + listed + ").");
}

}  // namespace

std::string JobFileText(const JobDescription& d) {
  JsonWriter json;
  json.BeginObject();
  json.Key("trundle_job").Int(kJobFileVersion);
  json.Key("source");
  WriteEnd(json, d.source);
  json.Key("destination");
  WriteEnd(json, d.destination);
  json.Key("if_exists").String(IfExistsName(d.if_exists));
  json.Key("on_error").String(d.on_error == TOnError::kSkip ? "skip" : "stop");
  json.Key("reject_file").String(d.reject_file);
  json.Key("max_rejects").Int(d.max_rejects);
  json.Key("batch_size").Int(d.batch_size);
  json.Key("html_title").String(d.html_title);
  json.Key("html_banner").String(d.html_banner);
  json.Key("clipboard").Bool(d.clipboard);
  json.Key("field_map");
  WriteFieldMap(json, d.field_map);
  json.EndObject();
  return json.text() + "\n";
}

JobDescription JobFromText(const std::string& text, const std::string& path) {
  JsonValue root;
  try {
    root = ReadJson(text, path);
  } catch (const JsonError& e) {
    throw TrundleError(std::string(e.what()) + " (the job file is not valid JSON).");
  }
  if (root.type != Type::kObject)
    throw TrundleError(path + " is no Trundle job file: it holds " + JsonTypeName(root.type) +
                       ", not an object.");
  const JsonValue* marker = root.Find("trundle_job");
  if (!marker)
    throw TrundleError(path + " is no Trundle job file: it has no \"trundle_job\" key.");
  ObjectReader r(path, root, "");
  int64_t version = 0;
  r.Count("trundle_job", 1, INT64_MAX, version);
  if (version > kJobFileVersion)
    r.Fail(*marker, "the job file is of version " + std::to_string(version) +
                        ", made by a later Trundle; this one reads version " +
                        std::to_string(kJobFileVersion) + ".");
  JobDescription d;
  for (const auto& [key, end] : {std::pair("source", &d.source),
                                 std::pair("destination", &d.destination)})
    if (const JsonValue* object = r.Get(key, Type::kObject)) ReadEnd(path, *object, key, *end);
  static const char* const kIfExists[] = {"append", "replace", "fail"};
  static const IfExists kIfExistsValues[] = {IfExists::kAppend, IfExists::kReplace,
                                             IfExists::kFail};
  ReadChoice(r, "if_exists", kIfExists, kIfExistsValues, d.if_exists);
  static const char* const kOnError[] = {"stop", "skip"};
  static const TOnError kOnErrorValues[] = {TOnError::kStop, TOnError::kSkip};
  ReadChoice(r, "on_error", kOnError, kOnErrorValues, d.on_error);
  r.Text("reject_file", d.reject_file);
  r.Count("max_rejects", -1, INT64_MAX, d.max_rejects);
  int64_t batch = d.batch_size;
  r.Count("batch_size", 1, kMostRecordsPerBatch, batch);
  d.batch_size = static_cast<int>(batch);
  r.Text("html_title", d.html_title);
  r.Text("html_banner", d.html_banner);
  r.Flag("clipboard", d.clipboard);
  if (const JsonValue* map = r.Get("field_map", Type::kArray)) ReadFieldMap(path, *map, d.field_map);
  r.RefuseUnknownKeys();
  return d;
}

void SaveJobFile(const JobDescription& description, const std::string& path) {
  WriteFileWhole(path, JobFileText(description), "the job file");
}

JobDescription LoadJobFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw TrundleError("Cannot read the job file " + path + ": it is a folder.");
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw TrundleError("Cannot read the job file " + path + ": " + std::strerror(errno) + ".");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size > kMostJobFileBytes)
    throw TrundleError(path + " is no Trundle job file: it is larger than a job file can be.");
  in.seekg(0);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw TrundleError("Cannot read the job file " + path + ".");
  return JobFromText(text.str(), path);
}

std::string PasswordsFromEnvironment(JobDescription& description) {
  for (EndDescription* end : {&description.source, &description.destination}) {
    end->password.clear();
    if (end->password_env.empty()) continue;
    const char* value = std::getenv(end->password_env.c_str());
    if (!value) return "the environment variable " + end->password_env + " is not set";
    end->password = value;
  }
  return "";
}

}  // namespace trundle

#include "databases/postgres/pg_reader.h"

#include "databases/postgres/pg_structure.h"

#include <cctype>
#include <cstdlib>

#include "engine/errors.h"

namespace trundle {
namespace {

constexpr char kCursor[] = "trundle_source";
constexpr char kFetch[] = "fetch 1000 from trundle_source";

// One field of a COPY text line as the server wrote it, its backslash escapes undone
// into out. COPY TO writes \b \f \n \r \t \v and \\; the octal and \x forms COPY
// FROM accepts are read as well.
std::string_view Unescaped(std::string_view field, std::string& out) {
  if (field.find('\\') == std::string_view::npos) return field;
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c != '\\' || i + 1 == field.size()) {
      out += c;
      continue;
    }
    c = field[++i];
    switch (c) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'v': out += '\v'; break;
      case 'x': {
        int value = 0, digits = 0;
        for (; digits < 2 && i + 1 < field.size() && std::isxdigit(static_cast<unsigned char>(field[i + 1])); ++digits) {
          const char h = field[++i];
          value = value * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
        }
        if (digits == 0) out += 'x';
        else out += static_cast<char>(value);
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          int value = c - '0';
          for (int digits = 1; digits < 3 && i + 1 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '7'; ++digits)
            value = value * 8 + (field[++i] - '0');
          out += static_cast<char>(value);
        } else {
          out += c;  // \\ and any other character stand for themselves
        }
    }
  }
  return out;
}

std::string WithoutTrailingSemicolons(std::string sql) {
  while (!sql.empty() && (sql.back() == ';' || sql.back() == ' ' || sql.back() == '\n' ||
                          sql.back() == '\t' || sql.back() == '\r'))
    sql.pop_back();
  return sql;
}

}  // namespace

PgReader::PgReader(const std::string& location, const std::string& user,
                   const std::string& password, const std::string& table, const std::string& sql)
    : db_(location, user, password) {
  // Repeatable read: the count and the rows see one snapshot.
  db_.Exec("begin transaction isolation level repeatable read read only",
           "Could not start reading");
  if (sql.empty()) {
    table_ = ChooseTable(table);
    sql_ = "select * from " + db_.Quote(table_);
  } else {
    sql_ = WithoutTrailingSemicolons(sql);
  }
  db_.Exec(std::string("declare ") + kCursor + " no scroll cursor for " + sql_,
           "The statement was refused by");
  const PgResult described(PQdescribePortal(db_.get(), kCursor));
  if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK)
    throw TrundleError(db_.Failed("Could not read the statement's fields from", described.get()));
  for (int i = 0; i < PQnfields(described.get()); ++i) {
    const uint32_t oid = PQftype(described.get(), i);
    names_.emplace_back(PQfname(described.get(), i));
    kinds_.push_back(PgColumnKindOf(oid));
    TFieldDef def = PgFieldDefOf(oid, PQfmod(described.get(), i));
    def.Name = names_.back();
    defs_.push_back(std::move(def));
  }
  if (table_.oid == 0) return;
  const PgResult required = db_.ExecParams(
      "select attname from pg_catalog.pg_attribute where attrelid = $1::oid and attnum > 0 "
      "and attnotnull and not attisdropped",
      {std::to_string(table_.oid)}, "Could not read the fields of " + table_.name + " in");
  for (int row = 0; row < PQntuples(required.get()); ++row) {
    const int field = FindFieldIndex(defs_, PQgetvalue(required.get(), row, 0));
    if (field >= 0) defs_[static_cast<size_t>(field)].Required = true;
  }
  // Identity and serial columns count: an integer one is an auto-increment field (a
  // bigint one stays a bigint, which an auto-increment field of another kind could not
  // hold).
  for (const std::string& name : PgCountedColumns(db_, table_)) {
    const int field = FindFieldIndex(defs_, name);
    if (field >= 0 && defs_[static_cast<size_t>(field)].DataType == ftInteger)
      defs_[static_cast<size_t>(field)].DataType = ftAutoInc;
  }
}

TIndexDefs PgReader::Keys() {
  if (table_.oid == 0) return {};
  return PgIndexes(db_, table_);
}

PgReader::~PgReader() {
  rows_.reset();
  if (copying_) {
    // A COPY cut short: the connection is closed with it, its rows left unread.
    copying_ = false;
    PQfreemem(line_);
  }
  PQclear(PQexec(db_.get(), "rollback"));
}

PgTable PgReader::ChooseTable(const std::string& wanted) {
  const std::vector<PgTable> tables = db_.Tables();
  if (wanted.empty()) {
    if (tables.size() == 1) return tables.front();
    if (tables.empty()) throw TrundleError(db_.location() + " holds no tables");
    std::string list;
    for (size_t i = 0; i < tables.size() && i < 10; ++i) list += (i ? ", " : "") + tables[i].name;
    if (tables.size() > 10) list += ", ...";
    throw TrundleError(db_.location() + " holds " + std::to_string(tables.size()) + " tables (" +
                       list + "); name the one to read");
  }
  const PgTable* found = PgConnection::Find(tables, wanted);
  if (!found) throw TrundleError("Table " + wanted + " doesn't exist in " + db_.location());
  return *found;
}

int64_t PgReader::Count() {
  // A statement that is no query (SHOW ...) cannot be counted: its progress is unknown.
  db_.Exec("savepoint trundle_count", "Could not count the records of");
  PgResult result(PQexec(db_.get(), ("select count(*) from (" + sql_ + ") as counted").c_str()));
  if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK)
    return std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
  db_.Exec("rollback to savepoint trundle_count", "Could not count the records of");
  return 0;
}

TFieldDefs PgReader::FieldDefs() const { return defs_; }

void PgReader::Fetch() {
  rows_.reset(PQexec(db_.get(), kFetch));
  if (!rows_ || PQresultStatus(rows_.get()) != PGRES_TUPLES_OK) {
    const std::string text = db_.Failed("Could not read from", rows_.get());
    rows_.reset();
    done_ = true;
    throw TrundleError(text);
  }
  row_ = 0;
  if (PQntuples(rows_.get()) == 0) done_ = true;
}

// The rows come through COPY TO STDOUT where the statement allows it: the server then
// streams them, where each cursor fetch waits a round trip for its thousand. Should the
// server refuse the COPY of a statement its cursor took, the cursor reads it.
void PgReader::StartCopy() {
  tried_copy_ = true;
  db_.Exec("savepoint trundle_copy", "Could not read from");
  const PgResult started(PQexec(db_.get(), ("copy (" + sql_ + ") to stdout").c_str()));
  if (started && PQresultStatus(started.get()) == PGRES_COPY_OUT) {
    copying_ = true;
    return;
  }
  db_.Exec("rollback to savepoint trundle_copy", "Could not read from");
}

bool PgReader::NextCopied(TRecordBuffer& names, TRecordBuffer& values) {
  PQfreemem(line_);
  line_ = nullptr;
  const int length = PQgetCopyData(db_.get(), &line_, 0);
  if (length < 0) {
    copying_ = false;
    done_ = true;
    line_ = nullptr;
    const PgResult ended(PQgetResult(db_.get()));
    while (PGresult* more = PQgetResult(db_.get())) PQclear(more);
    if (length == -2 || !ended || PQresultStatus(ended.get()) != PGRES_COMMAND_OK)
      throw TrundleError(db_.Failed("Could not read from", ended.get()));
    return false;
  }
  std::string_view line(line_, static_cast<size_t>(length));
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  const int count = columns();
  for (int i = 0; i < count; ++i) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos && i + 1 < count)
      throw TrundleError(db_.location() + " sent a row of " + std::to_string(i + 1) +
                         " fields where the statement has " + std::to_string(count));
    const std::string_view field = line.substr(0, tab);
    line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    names[i].SetString(names_[i]);
    if (field == "\\N") {
      values[i].SetNull();
      continue;
    }
    ReadPgValue(kinds_[static_cast<size_t>(i)], Unescaped(field, unescaped_), values[i]);
  }
  return true;
}

bool PgReader::Next(TRecordBuffer& names, TRecordBuffer& values) {
  if (done_) return false;
  // An empty result has nothing to cut, however wide.
  const int count = columns();
  if (count > static_cast<int>(names.size()) || count > static_cast<int>(values.size()))
    throw RangeCheckError(db_.location() + ": the result has " + std::to_string(count) +
                          " columns, and a record holds at most " + std::to_string(names.size()));
  if (!tried_copy_ && count > 0) StartCopy();
  if (copying_) return NextCopied(names, values);
  if (!rows_ || row_ >= PQntuples(rows_.get())) Fetch();
  if (done_) return false;
  for (int i = 0; i < count; ++i) {
    names[i].SetString(names_[i]);
    if (PQgetisnull(rows_.get(), row_, i)) {
      values[i].SetNull();
      continue;
    }
    ReadPgValue(kinds_[static_cast<size_t>(i)],
                std::string_view(PQgetvalue(rows_.get(), row_, i),
                                 static_cast<size_t>(PQgetlength(rows_.get(), row_, i))),
                values[i]);
  }
  ++row_;
  return true;
}

}  // namespace trundle

#include "databases/postgres/pg_reader.h"

#include "databases/postgres/pg_structure.h"

#include <cstdlib>

#include "engine/errors.h"

namespace trundle {
namespace {

constexpr char kCursor[] = "trundle_source";
constexpr char kFetch[] = "fetch 1000 from trundle_source";

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

bool PgReader::Next(TRecordBuffer& names, TRecordBuffer& values) {
  if (done_) return false;
  if (!rows_ || row_ >= PQntuples(rows_.get())) Fetch();
  if (done_) return false;
  // An empty result has nothing to cut, however wide.
  const int count = columns();
  if (count > static_cast<int>(names.size()) || count > static_cast<int>(values.size()))
    throw RangeCheckError(db_.location() + ": the result has " + std::to_string(count) +
                          " columns, and a record holds at most " + std::to_string(names.size()));
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

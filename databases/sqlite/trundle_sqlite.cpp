#include "databases/sqlite/trundle_sqlite.h"

#include <filesystem>

#include "databases/sqlite/sqlite_reader.h"
#include "databases/sqlite/sqlite_writer.h"
#include "engine/errors.h"

namespace trundle {

TTrundleSqlite::TTrundleSqlite() = default;

TTrundleSqlite::~TTrundleSqlite() {
  reader_.reset();
  writer_.reset();
}

bool TTrundleSqlite::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  return IsDestination() ? OpenDestination() : OpenSource();
}

bool TTrundleSqlite::OpenSource() {
  SendMessage("Reading from table");
  reader_.reset();
  RecordCount = 0;
  try {
    // The statement proposed for a table is read as the table, so that its count and its
    // required fields come from the table itself.
    const bool whole_table =
        Sql.empty() || (!TableName.empty() && Sql == SqliteTableSql(TableName));
    reader_ = std::make_unique<SqliteReader>(Database, TableName, whole_table ? "" : Sql, OnTick,
                                             BusyWaitMs);
    CountRecordsRead(
        reader_->Count(), reader_->columns(),
        (whole_table ? "The table " + reader_->table() : "The statement " + Sql) + " of " + Database);
    return true;
  } catch (const StopRequestedError&) {
    // The job reports the stop.
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  reader_.reset();
  return false;
}

std::string TTrundleSqlite::DestinationSql() const { return SqliteTableSql(TableName); }

bool TTrundleSqlite::OpenDestination() {
  SetRefused(false);
  RecordCount = 0;
  if (!writer_) {
    writer_ = std::make_unique<SqliteWriter>(Database, BusyWaitMs);
    if (writer_->created_file()) SendMessage(Database + " doesn't exist yet; it is created");
  }
  return OpenAppendTable(*writer_);
}

bool TTrundleSqlite::CreateTable(TTrundleUnknown& source) {
  if (Refused()) return false;  // OpenTable said why the table takes no records
  if (!writer_) {
    SendMessage("The table " + TableName + " cannot be created: the database " + Database +
                " is not open");
    return false;
  }
  SendMessage("Creating table");
  try {
    const TFieldDefs fields = source.SourceFieldDefs(nullptr);
    SendLines(writer_->CreateTable(TableName, fields, source.SourceIndexDefs()));
    SendMessage("Table created");
    return true;
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  RemoveCreatedFile();
  return false;
}

bool TTrundleSqlite::DescribeNewTable(TTrundleUnknown& source, TNewTable& out) {
  SqliteNewTable made =
      SqliteCreateTableSql(TableName, source.SourceFieldDefs(nullptr), source.SourceIndexDefs());
  out.names = std::move(made.names);
  out.types = std::move(made.types);
  out.text = std::move(made.sql);
  out.notes = std::move(made.notes);
  return true;
}

// A database file made for a table that could not be created holds nothing: it goes.
void TTrundleSqlite::RemoveCreatedFile() {
  if (!writer_ || !writer_->created_file()) return;
  writer_.reset();
  std::error_code ignored;
  std::filesystem::remove(Database, ignored);
  std::filesystem::remove(Database + "-journal", ignored);
}

bool TTrundleSqlite::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  ClearFilledBuffers(names, values);
  if (!reader_) return false;
  try {
    FilledUpTo(reader_->columns());
    return reader_->Next(names, values);
  } catch (const StopRequestedError&) {
    throw;
  } catch (const std::exception& e) {
    ReportReadError(e.what());
    return false;
  }
}

bool TTrundleSqlite::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!writer_) throw TrundleError("The table " + TableName + " of " + Database + " is not open");
  writer_->Write(names, values, NamesLayoutPassed());
  return true;
}

void TTrundleSqlite::StartTransaction() {
  if (writer_) writer_->Begin();
}

void TTrundleSqlite::Commit() {
  if (writer_) writer_->Commit();
}

void TTrundleSqlite::Rollback() {
  if (writer_) writer_->Rollback();
}

void TTrundleSqlite::SaveTable() {
  if (!writer_) return;
  SendLines(writer_->TakeNotes());
  writer_->Finish();
}

TFieldDefs TTrundleSqlite::SourceFieldDefs(const TextLength& measure_widths) {
  if (!reader_) return {};
  return reader_->FieldDefs(measure_widths);
}

TIndexDefs TTrundleSqlite::SourceIndexDefs() {
  if (IsDestination() || !reader_) return {};
  try {
    return reader_->Keys();
  } catch (const TrundleError& e) {
    SendMessage(e.what());
  }
  return {};
}

}  // namespace trundle

#include "databases/postgres/trundle_postgres.h"

#include "databases/postgres/pg_reader.h"
#include "databases/postgres/pg_writer.h"
#include "engine/errors.h"

namespace trundle {

TTrundlePostgres::TTrundlePostgres() = default;

TTrundlePostgres::~TTrundlePostgres() = default;

bool TTrundlePostgres::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  return IsDestination() ? OpenDestination() : OpenSource();
}

bool TTrundlePostgres::OpenSource() {
  SendMessage("Reading from table");
  reader_.reset();
  RecordCount = 0;
  try {
    reader_ = std::make_unique<PgReader>(Database, UserName, Password, TableName, Sql);
    CountRecordsRead(reader_->Count(), reader_->columns(),
                     TableName.empty() ? "The statement" : "The table " + TableName);
    return true;
  } catch (const NotOpenedError&) {
    throw;
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  reader_.reset();
  return false;
}

bool TTrundlePostgres::OpenDestination() {
  SetRefused(false);
  RecordCount = 0;
  if (!writer_) writer_ = std::make_unique<PgWriter>(Database, UserName, Password);
  return OpenAppendTable(*writer_);
}

bool TTrundlePostgres::DescribeNewTable(TTrundleUnknown& source, TNewTable& out) {
  PgNewTable made = PgCreateTableSql(TableName, source.SourceFieldDefs(nullptr),
                                     source.SourceIndexDefs(), PgQuotedName);
  out.names = std::move(made.names);
  out.types = std::move(made.types);
  out.text = std::move(made.sql);
  return true;
}

bool TTrundlePostgres::CreateTable(TTrundleUnknown& source) {
  if (Refused() || !writer_) return false;
  // A server's tables belong to its owners: one is made only when the run asks for it.
  if (!CreateMissingTable) {
    SendMessage("Can't create a PostgreSQL table unless asked to (--create-table)");
    return false;
  }
  SendMessage("Creating table");
  try {
    writer_->CreateTable(TableName, source.SourceFieldDefs(nullptr), source.SourceIndexDefs(),
                         [this](const std::string& sql) { SendMessage(sql); });
    SendMessage("Table created");
    return true;
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  return false;
}

bool TTrundlePostgres::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  ClearFilledBuffers(names, values);
  if (!reader_) return false;
  try {
    FilledUpTo(reader_->columns());
    return reader_->Next(names, values);
  } catch (const std::exception& e) {
    ReportReadError(e.what());
    return false;
  }
}

bool TTrundlePostgres::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!writer_) throw TrundleError("The table " + TableName + " of " + Database + " is not open");
  writer_->Write(names, values, NamesLayoutPassed());
  return true;
}

void TTrundlePostgres::StartTransaction() {
  if (writer_) writer_->Begin();
}

void TTrundlePostgres::Commit() {
  if (writer_) writer_->Commit();
}

void TTrundlePostgres::Rollback() {
  if (writer_) writer_->Rollback();
}

void TTrundlePostgres::SaveTable() {
  if (!writer_) return;
  SendLines(writer_->TakeNotes());
  try {
    writer_->SetCounters();
  } catch (const TrundleError& e) {
    SendMessage(e.what());
  }
}

TIndexDefs TTrundlePostgres::SourceIndexDefs() {
  if (!reader_) return {};
  try {
    return reader_->Keys();
  } catch (const TrundleError& e) {
    SendMessage(e.what());
  }
  return {};
}

TFieldDefs TTrundlePostgres::SourceFieldDefs(const TextLength&) {
  if (!reader_) return {};
  return reader_->FieldDefs();
}

}  // namespace trundle

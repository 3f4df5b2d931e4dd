// The base of the database adaptors (dBase, Paradox, Access, server, SQLite, PostgreSQL):
// what each of them does the same way, once. A kind derives from it and fills in the
// contract's operations (trundle_unknown.h) over its own reader and writer, calling the
// helpers below for the parts they share; it overrides DestinationSql, and for field
// matching StoredFieldNames and FieldsMadeFrom, where the defaults do not fit it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/field_name_mapper.h"
#include "engine/trundle_unknown.h"

namespace trundle {

class TTrundleRecordSet : public TTrundleUnknown {
 public:
  // Sql := DestinationSql(); marks the adaptor as the destination.
  void PrepareDestination() override;

 protected:
  // The statement a destination's table is opened with. Here: Sql as it is.
  virtual std::string DestinationSql() const { return Sql; }
  // The fields of the opened destination table, in order, as MapFields matches names to
  // them. Here: none.
  virtual std::vector<std::string> StoredFieldNames() { return {}; }
  // For a table this run did not create: the source name each stored field would have
  // been made from by the kind's own create (empty where none), parallel to stored.
  // Here: none, so that names match only as they are or without regard to letter case.
  virtual std::vector<std::string> FieldsMadeFrom(const TRecordBuffer& names,
                                                  const std::vector<std::string>& stored) const;

  bool IsDestination() const { return destination_; }
  // Set when OpenTable found the destination table but it takes no records from this
  // run: CreateTable then fails without a word, OpenTable having said why.
  bool Refused() const { return refused_; }
  void SetRefused(bool refused) { refused_ = refused; }

  // The end of a successful open: a source (not a destination) that has records with
  // more fields than a record buffer carries throws TooManyFieldsError naming `what`;
  // else sends "<count> records read" and sets RecordCount (at most INT32_MAX).
  void CountRecordsRead(int64_t count, int fields, const std::string& what);
  static int32_t ClampedCount(int64_t count);
  // A destination's open over a writer that finds a table by name in any letter case
  // (FindTable), counts its rows (CountRows) and names it as stored (table()): says how
  // many records the table holds and sets RecordCount; false with "Table doesn't exist"
  // for a missing table (CreateTable may make it); false and Refused, having said why,
  // when the table cannot be looked at.
  template <typename Writer>
  bool OpenAppendTable(Writer& writer);
  // A source's ReadRecord over a dataset (Active, Eof, FieldCount, FieldDefs, Value,
  // Next): the current row's names and values into the job's buffers, then on to the
  // next row. False, the buffers cleared, when no dataset is open or its rows are all
  // read. A row with more fields than the buffers hold calls too_wide(fields), which
  // throws the kind's error.
  template <typename DataSet, typename TooWide>
  bool ReadDataSetRow(DataSet& data, TRecordBuffer& names, TRecordBuffer& values,
                      const TooWide& too_wide);
  // The fields of an open dataset; none when it is closed.
  template <typename DataSet>
  static TFieldDefs DataSetFields(const DataSet& data) {
    return data.Active() ? data.FieldDefs() : TFieldDefs();
  }
  // Sends each line as its own message, in order.
  void SendLines(const std::vector<std::string>& lines) const;

  // Field matching (field_name_mapper.h) for a destination's WriteRecord. The table made
  // by CreateTable was made from these source fields, each stored field from the one
  // at its place: their names reach their fields even when stored changed.
  void SetCreatedFrom(const TFieldDefs& fields);
  void ForgetCreatedFrom() { created_from_.clear(); }
  // The table opened again: the next MapFields reads StoredFieldNames anew.
  void ForgetFieldMap() { mapper_ready_ = false; }
  // The stored field of each of the record's names (-1: none). The first call after
  // ForgetFieldMap reads StoredFieldNames, with the names SetCreatedFrom recorded, else
  // (none recorded) FieldsMadeFrom's. The recorded names need not cover every stored
  // field: a server's table opens with its row id after them.
  const std::vector<int>& MapFields(const TRecordBuffer& names, const TRecordBuffer& values);
  // How many stored fields the last MapFields matched against.
  size_t StoredFieldCount() const { return stored_count_; }
  // Sends one line per source field that had no stored field (FieldNameMapper::TakeNotes).
  void SendFieldNotes();

  // The records of this run's appending, for a message naming a refused record: count
  // one written as it goes to the table; a Commit makes every written one committed, a
  // Rollback drops those written since.
  void ResetBatchCounts() { written_ = committed_ = 0; }
  void CountWritten() { ++written_; }
  void BatchCommitted() { committed_ = written_; }
  void BatchDropped() { written_ = committed_; }
  int64_t Written() const { return written_; }
  int64_t Committed() const { return committed_; }

 private:
  bool destination_ = false;  // PrepareDestination was called
  bool refused_ = false;
  std::vector<std::string> created_from_;  // the source names of a table made here
  FieldNameMapper mapper_;
  bool mapper_ready_ = false;
  size_t stored_count_ = 0;
  int64_t written_ = 0;    // records appended in this run
  int64_t committed_ = 0;  // of which the last Commit wrote
};

template <typename Writer>
bool TTrundleRecordSet::OpenAppendTable(Writer& writer) {
  SetRefused(false);
  RecordCount = 0;
  try {
    if (TableName.empty()) throw TrundleError("No table of " + Database + " was named to write to");
    if (!writer.FindTable(TableName)) {
      SendMessage("Table doesn't exist");
      return false;
    }
    const int64_t count = writer.CountRows();
    SendMessage("Table " + writer.table() + " holds " + std::to_string(count) +
                " records; the new ones are appended");
    RecordCount = ClampedCount(count);
    return true;
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  SetRefused(true);
  return false;
}

template <typename DataSet, typename TooWide>
bool TTrundleRecordSet::ReadDataSetRow(DataSet& data, TRecordBuffer& names, TRecordBuffer& values,
                                       const TooWide& too_wide) {
  ClearFilledBuffers(names, values);
  if (!data.Active() || data.Eof()) return false;
  const int fields = data.FieldCount();
  if (fields > static_cast<int>(names.size()) || fields > static_cast<int>(values.size()))
    too_wide(fields);
  FilledUpTo(fields);
  const TFieldDefs& defs = data.FieldDefs();
  for (int i = 0; i < fields; ++i) {
    names[i].SetString(defs[i].Name);
    values[i] = data.Value(i);
  }
  data.Next();
  return true;
}

}  // namespace trundle

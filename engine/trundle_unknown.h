// The adaptor contract: every place data comes from or goes to is one TTrundleUnknown
// subclass. The transfer job (trundle.h) drives a source and a destination adaptor
// through the virtual operations below and nothing else. A run (TTrundle::Execute) calls
// them in this order; "false" is what the operation returns on failure, having sent its
// reason through OnMessage first (the job takes the last such line as the run's failure):
//
//   source.OpenTable()              opens the table or statement, sets RecordCount and
//                                   logs "<n> records read". false: the run ends with
//                                   "Failed: nothing was moved" and nothing is touched
//   destination.PrepareDestination()  marks the adaptor as the destination, before
//                                   anything of it is opened; a kind may set Sql to the
//                                   statement it opens its table with. Cannot fail
//   destination.OpenTable()         true: the table is there and takes records (the job
//                                   logs that they are appended). false: the table is
//                                   missing, or refused (then with its reason), and:
//     destination.CreateTable(source) makes the table from source.SourceFieldDefs() and
//                                   source.SourceIndexDefs() (a FieldMap's renamed view
//                                   of the source when the job has one), then opens it.
//                                   false: "Failed: nothing was moved"; silent when
//                                   OpenTable refused the table, having said why. An
//                                   Access source's OpenTable is then called again
//   destination.StartTransaction()  opens the first batch
//   repeated until source.ReadRecord() returns false:
//     source.ReadRecord(names, values)  the next record. false at the end; false after
//                                   ReportReadError when reading fails (the job then
//                                   logs "Stopped by an error reading the source" and
//                                   never calls SaveTable); or a TrundleError
//     destination.WriteRecord(names, values)  after SetNamesFilled (source.FilledNames
//                                   and source.NamesLayout);
//                                   throws on failure: RecordRefusedError for a record
//                                   the job may set aside, BatchUndoneError (only where
//                                   MayUndoBatch) for a batch it may send again, any
//                                   other TrundleError ends the run
//     after every BatchSize records: destination.Commit(), then StartTransaction().
//                                   Commit throws as WriteRecord does
//   destination.Commit()            the last batch (it may hold no records)
//   destination.SaveTable()         finishes the table (a file written whole is written
//                                   here) and logs what did not arrive. Throws on
//                                   failure; a StopRequestedError from it counts the run
//                                   as stopped with nothing moved
//
// A record refused with the job's OnError set to skip, or a batch undone by a server,
// makes the job call destination.Rollback() and StartTransaction() and write the open
// batch's kept records again with WriteRecord. A run ended by an exception or a stop
// calls destination.Rollback() (must not throw), which undoes the open batch where
// RollsBackOpenBatch() is true; the job asks RollsBackOpenBatch() and MayUndoBatch()
// during the run to decide whether to keep the open batch's records and how many a
// Rollback undid. A stopped run's last line is destination.WhatAStopLeaves(). GetKind()
// may be asked at any time. DescribeNewTable(source) is not called by a run: the front
// end asks it of a destination, after the source's OpenTable, to show what CreateTable
// would make.
//
// TTrundleUnknown is also the adaptor of kind dkUnknown, the one a new job holds before
// a kind is chosen: every operation either does nothing or reports that no source or
// destination was chosen and fails.
//
// The database kinds derive from TTrundleRecordSet (trundle_record_set.h), which holds
// what they share once: the destination and refused flags, PrepareDestination over a
// DestinationSql, the "records read" count, field matching by name, and batch counts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/tick.h"
#include "engine/variant.h"

namespace trundle {

// Ordinals are fixed: the job's kind setters and the window use them as such.
enum TDataKind : uint8_t {
  dkUnknown = 0,
  dkCsv = 1,
  dkText = 2,  // tab-delimited, or the clipboard
  dkHtml = 3,  // destination only
  dkDBase = 4,
  dkParadox = 5,
  dkAccess = 6,
  dkOracle = 7,
  dkSqlite = 8,  // kinds added after the first eight take the ordinals after them
  dkPostgres = 9,
};
inline constexpr int kDataKindCount = 10;

using TTrundleMessageEvent = std::function<void(const std::string& message)>;
using TTrundleProgressEvent = std::function<void(int32_t percent)>;

// A record on its way from source to destination: element i of Names is field i's name
// (a string), element i of Values its value. The job makes both with kRecordBufferSize
// elements; elements past the last field are Unassigned.
using TRecordBuffer = std::vector<Variant>;
inline constexpr int kRecordBufferSize = 256;

// The job commits its destination after every kRecordsPerBatch records unless told
// another batch size (TTrundle::BatchSize, 1 to kMostRecordsPerBatch).
inline constexpr int kRecordsPerBatch = 1000;
inline constexpr int kMostRecordsPerBatch = 1000000;

// What DescribeNewTable tells of a table a run would create.
struct TNewTable {
  std::vector<std::string> names;  // each field's name in the new table, in order
  std::vector<std::string> types;  // its type and size as declared there, parallel
  std::string text;  // the CREATE TABLE statement, or one line per field for a file
  std::vector<std::string> notes;  // what the creation changes (a name made unique, ...)
};

class TTrundleUnknown {
 public:
  TTrundleUnknown() = default;
  virtual ~TTrundleUnknown() = default;
  TTrundleUnknown(const TTrundleUnknown&) = delete;
  TTrundleUnknown& operator=(const TTrundleUnknown&) = delete;

  // Filled by the front end before a run; which of them a kind reads is its own affair.
  std::string Database;    // Access: the .mdb path; server: the data source to log on to
  std::string DaoVersion;  // Access only: "dao35" or "dao36"
  std::string UserName;
  std::string Password;
  std::string TableName;  // file kinds: the file's path; Access and server: a table name
  std::string Sql;        // a database source's statement; a destination's, built
  std::string HtmlTitle;
  std::string HtmlBanner;
  bool Clipboard = false;  // only the tab-text destination acts on it
  // Code page of the file's text: reading, what the file holds (empty: as it says, or
  // UTF-8 passing through); writing, what to produce (empty: UTF-8).
  std::string Encoding;
  // Destination: an existing table is made anew from the source's fields instead of
  // getting the records after its own. Only the text kinds act on it, and they replace
  // the file only once the run has written the new one whole.
  bool ReplaceExisting = false;
  // Destination: a value the kind would store cut short or leave empty (too long for
  // its field, a number or date out of range) refuses its record with
  // RecordRefusedError instead, so that a job setting refused records aside keeps it
  // whole. Kinds that store every value whole, or refuse it anyway, ignore it.
  bool RefuseLossyValues = false;
  // Destination: a server kind creates a missing table from the source's fields only when
  // this is set (the file and desktop database kinds always do).
  bool CreateMissingTable = false;
  int32_t RecordCount = 0;  // set by a successful OpenTable
  TTrundleMessageEvent OnMessage;
  // Stepped through a TickCounter by every long phase (tick.h). A phase that can end early
  // without harm does so when it returns true: a source's OpenTable then returns false
  // without a message of its own, and the job reports the stop.
  TTrundleTickEvent OnTick;

  // For a source: false when there is nothing to read. For a destination: false when
  // the table does not exist yet (the job then calls CreateTable).
  virtual bool OpenTable();
  virtual void PrepareDestination();
  virtual void SaveTable();
  virtual TDataKind GetKind() const;
  // True when the destination can now take records.
  virtual bool CreateTable(TTrundleUnknown& source);
  // Clears both buffers, then fills them with the next record; false when none is left.
  virtual bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values);
  // Appends one record; names and values as the source filled them.
  virtual bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values);
  virtual void StartTransaction();
  virtual void Commit();
  // Undoes the open batch where the destination can (a server transaction); called by
  // the job when an exception or a stop request ends the run. Must not throw. The file
  // kinds do nothing.
  virtual void Rollback();
  // True when Rollback undoes the records written since the last Commit; false when
  // they stay (the file kinds).
  virtual bool RollsBackOpenBatch() const;
  // True when the destination may undo a whole batch for a reason that passes
  // (WriteRecord or Commit throwing BatchUndoneError): the job then keeps the open
  // batch's records to send them again. False here.
  virtual bool MayUndoBatch() const;
  // The last line of a stopped run's log: what the destination holds now, given how many
  // records the job counts as moved. Here: a table written record by record keeps them.
  virtual std::string WhatAStopLeaves(int64_t records_moved) const;

  // The fields a destination's CreateTable copies: names in order, with types and widths
  // where the kind knows them. A text table gives ftString and, when measure_widths is
  // not empty, each field's longest value as measure_widths counts it (a pass over every
  // record; at least 1), else Size 0. Valid after a successful OpenTable. The base class
  // has none.
  virtual TFieldDefs SourceFieldDefs(const TextLength& measure_widths);
  // The source table's primary key and unique indexes, for a destination's CreateTable
  // to give the new table: only when the records are the table's own rows whole (not a
  // statement's), and only keys over fields that SourceFieldDefs lists. The base class
  // has none.
  virtual TIndexDefs SourceIndexDefs();
  // The table CreateTable would make from `source` (an opened source), told without
  // making anything: the fields as the destination declares them and the text that
  // makes the table. Built by the same code CreateTable runs, so that what is shown is
  // what a run makes. Returns false when the kind cannot tell before a run (the base
  // class); throws as CreateTable's reading of the source does.
  virtual bool DescribeNewTable(TTrundleUnknown& source, TNewTable& out);

  // How many leading names the source's last ReadRecord into these buffers may have set:
  // every name past them is Unassigned. -1 when the source does not say (it clears and
  // fills the buffers its own way).
  int FilledNames(const TRecordBuffer& names, const TRecordBuffer& values) const;
  // A number that stays the same for every record whose names the source's ReadRecord
  // set alike in these buffers since its OpenTable, and that no other opening of any
  // source shares; 0 when the source does not say (it has not called NewNamesLayout, or
  // the buffers are not the ones it filled). A destination that has matched the names of
  // one layout need not look at them again.
  uint64_t NamesLayout(const TRecordBuffer& names, const TRecordBuffer& values) const;
  // Set by the job before each WriteRecord: the source's FilledNames for the record, so
  // that a destination need not look at the names past them (-1: look at every name),
  // and its NamesLayout (0: unknown, compare the names).
  void SetNamesFilled(int count, uint64_t layout = 0) {
    names_filled_ = count;
    names_layout_ = layout;
  }

  // The message of the error that ended a source's reading early, after ReadRecord
  // returned false because of it; empty when the source ran to its end.
  const std::string& ReadError() const { return read_error_; }

 protected:
  // Calls OnMessage when it is assigned; otherwise nothing.
  void SendMessage(const std::string& message) const;
  // The base ReadRecord: every element of both buffers Unassigned.
  static void ClearBuffers(TRecordBuffer& names, TRecordBuffer& values);
  // The same for a reader that says how far it filled (FilledUpTo): when the same
  // buffers come back, only that far needs clearing, the rest being still Unassigned.
  void ClearFilledBuffers(TRecordBuffer& names, TRecordBuffer& values);
  void FilledUpTo(int count) { filled_ = count; }
  // For a destination's WriteRecord: what the job last passed to SetNamesFilled.
  int NamesFilled() const { return names_filled_; }
  uint64_t NamesLayoutPassed() const { return names_layout_; }
  // For a source's OpenTable, when every record it reads until the next opening carries
  // the same names: the number NamesLayout gives from now on.
  void NewNamesLayout();
  // For a ReadRecord that logs an error and returns false: sends the message and keeps it,
  // so that the job does not take the end of reading for the end of the source.
  void ReportReadError(const std::string& message);

 private:
  std::string read_error_;
  int filled_ = -1;  // -1: the buffers were never cleared whole
  const Variant* filled_buffer_ = nullptr;
  const Variant* filled_names_ = nullptr;
  int names_filled_ = -1;
  uint64_t layout_ = 0;        // as a source
  uint64_t names_layout_ = 0;  // as a destination, from the job
};

}  // namespace trundle

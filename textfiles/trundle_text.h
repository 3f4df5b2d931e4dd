// The text-file adaptors: comma-delimited (TTrundleCsv), tab-delimited or the clipboard
// (TTrundleText), and the HTML page (TTrundleHtml, destination only). A source reads its
// whole file into memory in OpenTable and hands records out. A delimited destination
// writes each record to a temporary file as it arrives, after the records the file held
// already, and the file takes its new contents in one step in SaveTable; so does the HTML
// page. The clipboard's text is gathered in memory and set in SaveTable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_name_mapper.h"
#include "engine/trundle_unknown.h"
#include "textfiles/file_output.h"
#include "textfiles/qor_tables.h"

namespace trundle {

// What the three kinds share: a table in memory, and records read from and added to it.
class TTrundleTableBase : public TTrundleUnknown {
 public:
  TTableObject Table;
  int CurrentRecord = 0;  // the last data record handed out by ReadRecord

  // Appends the source's field names to Table.FieldNames, sends "Table created". False
  // when OpenTable found the file held by another run (HoldOutputFile).
  bool CreateTable(TTrundleUnknown& source) override;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Matches names as FieldNameMapper does; a name that matches no field is dropped.
  // Throws "Range check error" for a field beyond the kMaxRecordValues-th.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // A table written whole in SaveTable: a stop leaves the file (or the clipboard) as it was.
  std::string WhatAStopLeaves(int64_t records_moved) const override;

 protected:
  // The value for each field of Table from one incoming record (nullptr: none), names
  // matched as FieldNameMapper does. Valid until the next call. For a record to be held
  // in Table (`held`), throws "Range check error" naming the record (1 for the first of
  // the file) for a value beyond the kMaxRecordValues-th.
  const std::vector<const Variant*>& MapToFields(const TRecordBuffer& names,
                                                 const TRecordBuffer& values, int64_t record_number,
                                                 bool held = true);
  // The text of a value for a field of a text file (valid until the next call): a string
  // as it stands, any other value as Table formats it; empty (`empty` set) for no value,
  // Null or Unassigned.
  std::string_view CellText(const Variant* value, bool& empty);
  // Table.FieldNames will not change from now on (a header was written), or may again.
  void FixFieldNames(bool fixed);
  // Sends the count of data records followed by " records written", then a line for
  // each source field whose values found no field here.
  void SendWritten(int64_t records);
  // For a reader: puts Table's field names into names (once for the buffers the job keeps
  // passing), leaving everything past them Unassigned. Throws "Range check error" for
  // more names than a record holds.
  void FillNames(TRecordBuffer& names, TRecordBuffer& values);
  // For a reader at the end of its records: both buffers Unassigned; returns false.
  bool EndOfRecords(TRecordBuffer& names, TRecordBuffer& values);
  // The field definitions SourceFieldDefs gives for these widths (empty: unmeasured).
  TFieldDefs FieldDefsOfWidths(const std::vector<int>& widths) const;

  // Opens TableName's output file (file_output.h) ahead of writing, so that the file is
  // held against other runs until the run ends; a path that is no regular file is not
  // opened. False, with the refusal in the log, while another run writes it: CreateTable
  // then fails and the run takes no records. Other errors throw.
  bool HoldOutputFile();
  void ReleaseOutputFile();
  // The file HoldOutputFile opened for TableName, else one opened now.
  std::unique_ptr<FileSink> TakeOutputFile();
  // What a stop leaves of a destination written straight through (IsStreamOutput).
  std::string WhatAStopLeavesOfAStream(int64_t records_moved) const;

 private:
  std::unique_ptr<FileSink> held_file_;
  std::string held_for_;  // the TableName held_file_ was opened for
  bool output_refused_ = false;
  FieldNameMapper mapper_;
  std::vector<std::string> mapped_names_;  // the FieldNames mapper_ was given
  bool names_fixed_ = false;               // mapped_names_ is FieldNames for good
  std::vector<const Variant*> by_field_;
  std::string cell_;  // CellText's formatted value
  // The buffers ReadRecord last filled with the names; null when they must be set again.
  const Variant* names_filled_ = nullptr;
  const Variant* values_filled_ = nullptr;
};

class DelimitedReader;
class DelimitedWriter;

// A delimited text file. Used as a destination (after PrepareDestination), it never
// holds the table in memory:
// - OpenTable holds the file against other runs (HoldOutputFile: a second run is refused
//   and takes nothing), then reads the existing file through once for its header and its
//   count. A path that is not a regular file (IsStreamOutput: "-", /dev/null, a FIFO) is not read:
//   OpenTable returns false and the records are written straight to it. A file holding
//   bytes after a character 26 (which ends the text) is not appended to: OpenTable
//   throws and leaves it alone; so does any error reading an existing file, which a
//   rewrite would otherwise cut short.
// - The first WriteRecord (or SaveTable) writes the header and the file's old records to
//   the temporary file; each WriteRecord then adds its record.
// - SaveTable gives the file its new contents (a symbolic link's target is replaced).
//   Without SaveTable (a run stopped or failed) the file is left as it was.
// Used without PrepareDestination, records gather in Table and SaveTable writes them.
class TTrundleDelimited : public TTrundleTableBase {
 public:
  explicit TTrundleDelimited(char delimiter);
  ~TTrundleDelimited() override;
  void PrepareDestination() override;
  bool OpenTable() override;
  // A source that is a regular file is read again record by record, never held in
  // memory; a pipe's records are held (it cannot be read twice). Throws TrundleError when
  // the file changed since OpenTable counted it.
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void SaveTable() override;
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // Standard output or a pipe has been sent records as they came, short of a last part
  // still held back; a file is left as it was.
  std::string WhatAStopLeaves(int64_t records_moved) const override;

 protected:
  // Renders the table and writes it to TableName, converted to Encoding when one is
  // set; the old file is replaced only once the new one is whole on disk.
  void WriteFile();
  std::string Render();
  void SendConversionFailures(int64_t failures);
  // A streamed source's records read into Table, for a table that is then written whole.
  void HoldSourceInMemory();

 private:
  bool OpenSource();
  bool OpenDestination();
  bool ReadOldRecords();
  void StartOutput();
  // A new reader of the source past its header, after checking that the file is still
  // the one OpenTable counted.
  std::unique_ptr<DelimitedReader> ReopenSource() const;
  void CheckSourceUnchanged() const;

  // What identifies a source file's contents between passes over it.
  struct FileState {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, modified_ns = 0;
    bool operator==(const FileState&) const = default;
  };
  static bool StateOf(const std::string& path, FileState& state);

  char delimiter_;
  bool streaming_ = false;  // a destination writing records as they arrive
  bool copy_old_ = false;   // the file's records are written before the new ones
  int64_t written_ = 0;     // records written to output_, old ones included
  std::unique_ptr<DelimitedWriter> output_;
  // A source streamed from a regular file: its state when counted, its record count, the
  // reader of the pass that delivers the records and how many it has delivered.
  bool stream_source_ = false;
  FileState source_state_;
  int64_t source_records_ = 0;
  std::unique_ptr<DelimitedReader> source_reader_;
  int64_t delivered_ = 0;
  std::vector<std::string_view> fields_;
};

class TTrundleCsv : public TTrundleDelimited {
 public:
  TTrundleCsv() : TTrundleDelimited(',') {}
  TDataKind GetKind() const override { return dkCsv; }
};

class TTrundleText : public TTrundleDelimited {
 public:
  TTrundleText() : TTrundleDelimited('\t') {}
  TDataKind GetKind() const override { return dkText; }
  // With Clipboard set, the text goes to the system clipboard and no file is touched.
  void SaveTable() override;
};

class HtmlPageWriter;

// The HTML page. The first WriteRecord (or SaveTable) starts the page in the file's
// temporary file: the head, the banner, the header row of Table.FieldNames and the rows of
// any records Table holds. Each record is then written as its row, never held, and
// SaveTable ends the page and gives the file its new contents.
class TTrundleHtml : public TTrundleTableBase {
 public:
  TTrundleHtml();
  ~TTrundleHtml() override;  // without SaveTable, the temporary file goes
  // Refuses: "Can't read from HTML". As a destination's, it holds the page's file
  // against other runs until SaveTable (HoldOutputFile).
  bool OpenTable() override;
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void SaveTable() override;
  TDataKind GetKind() const override { return dkHtml; }
  std::string WhatAStopLeaves(int64_t records_moved) const override;

 private:
  // HtmlBanner made to name the file found beside the program when it is not found as
  // it stands; the log line for a banner found nowhere is kept for SaveTable.
  void FindBanner();
  void StartPage();

  std::string banner_note_;  // "No banner: ..." once FindBanner found none
  std::unique_ptr<FileSink> page_file_;
  std::unique_ptr<HtmlPageWriter> page_;  // writes to page_file_ once the page started
  int64_t written_ = 0;                   // rows written to page_
};

// Registers the three classes for dkCsv, dkText and dkHtml.
void RegisterTextAdaptors();

// The folder that holds the running program, ending with '/'.
std::string ProgramFolder();

}  // namespace trundle

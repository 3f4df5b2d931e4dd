// The text-file adaptors: comma-delimited (TTrundleCsv), tab-delimited or the clipboard
// (TTrundleText), and the HTML page (TTrundleHtml, destination only). Each holds its
// whole table in memory: a source reads the file in OpenTable and hands records out; a
// destination loads the existing file, adds records and writes everything in SaveTable,
// replacing the file in one step.
#pragma once

#include <string>
#include <vector>

#include "engine/field_name_mapper.h"
#include "engine/trundle_unknown.h"
#include "textfiles/qor_tables.h"

namespace trundle {

// What the three kinds share: a table in memory, and records read from and added to it.
class TTrundleTableBase : public TTrundleUnknown {
 public:
  TTableObject Table;
  int CurrentRecord = 0;  // the last data record handed out by ReadRecord

  // Appends the source's field names to Table.FieldNames, sends "Table created".
  bool CreateTable(TTrundleUnknown& source) override;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Matches names as FieldNameMapper does; a name that matches no field is dropped.
  // Throws "Range check error" for a field beyond the 91st.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  TFieldDefs SourceFieldDefs(bool measure_widths) override;

 protected:
  // Sends the count of data records followed by " records written", then a line for
  // each source field whose values found no field here.
  void SendWritten();

 private:
  FieldNameMapper mapper_;
  std::vector<std::string> mapped_names_;  // the FieldNames mapper_ was given
  std::vector<const Variant*> by_field_;
};

class TTrundleDelimited : public TTrundleTableBase {
 public:
  explicit TTrundleDelimited(char delimiter) : delimiter_(delimiter) {}
  bool OpenTable() override;
  void SaveTable() override;

 protected:
  // Renders the table and writes it to TableName, converted to Encoding when one is
  // set; the old file is replaced only once the new one is whole on disk.
  void WriteFile();
  std::string Render();

 private:
  char delimiter_;
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

class TTrundleHtml : public TTrundleTableBase {
 public:
  // Refuses: "Can't read from HTML".
  bool OpenTable() override;
  void SaveTable() override;
  TDataKind GetKind() const override { return dkHtml; }
};

// Registers the three classes for dkCsv, dkText and dkHtml.
void RegisterTextAdaptors();

// The folder that holds the running program, ending with '/'.
std::string ProgramFolder();

}  // namespace trundle

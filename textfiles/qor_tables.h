// One table held in memory: field names and records of at most kMaxRecordValues values
// each, with its
// renderers to delimited text and to an HTML page. The text and HTML adaptors own one.
//
// Records are kept packed in large blocks, not as a variant per field: a record costs
// about the bytes of its values. Record 0 is a placeholder that always exists and is
// never read or written as data; the data records are 1 .. RecordListLength() - 1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ascii.h"
#include "engine/field_types.h"
#include "engine/tick.h"
#include "engine/trundle_unknown.h"
#include "engine/variant.h"

namespace trundle {

class TTableObject;
class OutputSink;
class HtmlPageWriter;

// As many values as the job's record buffers carry (indices 0 .. 255): a table of any
// width that a source can deliver fits in a text file or an HTML page.
inline constexpr int kMaxRecordValues = kRecordBufferSize;

// A record of a table, by position. Borrowed: valid while its table lives.
class TRecordObject {
 public:
  TRecordObject(const TTableObject* owner, int index) : owner_(owner), index_(index) {}
  const TTableObject* Owner() const { return owner_; }
  int index() const { return index_; }
  // Value i; Null when never set. Throws TrundleError "Range check error" at kMaxRecordValues and above.
  Variant FieldValue(int i) const;

 private:
  const TTableObject* owner_;
  int index_;
};

class TTableObject {
 public:
  TTableObject();
  ~TTableObject();
  TTableObject(const TTableObject&) = delete;
  TTableObject& operator=(const TTableObject&) = delete;

  // Column order; position i is value index i of every record. Duplicates allowed.
  std::vector<std::string> FieldNames;

  // Length of the record list, placeholder included: data records + 1.
  int RecordListLength() const { return static_cast<int>(offsets_.size()); }
  int DataRecordCount() const { return RecordListLength() - 1; }
  TRecordObject Record(int index) const { return TRecordObject(this, index); }

  // Appends a record whose values are all Null.
  void AddRecord();
  // Drops every record but one, which serves as the new placeholder.
  void ClearRecords();

  // Null unless 0 <= field < FieldNames.size() and 1 <= record < RecordListLength().
  // Throws "Range check error" for a field index of kMaxRecordValues or more that passes the first test.
  Variant GetValue(int field, int record) const;
  // Throws "Field not found NAME" (the caller's spelling) when no field has the name.
  Variant GetValueByName(std::string_view name, int record) const;
  // Stores only when the name is found and the record exists; otherwise does nothing.
  void SetValue(std::string_view name, int record, const Variant& value);
  // Stores value `field` of the record. Throws "Range check error" for an index of
  // kMaxRecordValues or more.
  void SetValueAt(int field, int record, const Variant& value);

  // Fills values[0 .. FieldNames.size()) from the record without building temporaries.
  // Throws "Range check error" when there are more than kMaxRecordValues fields.
  void ReadInto(int record, std::vector<Variant>& values) const;
  // Appends a record whose value i is *values[i] (Null where values[i] is nullptr).
  // Stores the first kMaxRecordValues and then throws "Range check error" when a later
  // one is set.
  void AddRecordFrom(const std::vector<const Variant*>& values);
  // Appends a record whose values are the given texts, in order. Stores the first
  // kMaxRecordValues and then throws "Range check error" when there are more.
  void AddTextRecord(const std::vector<std::string_view>& texts);

  // Position of the first field whose name matches ignoring letter case; -1 when none.
  // The name is upper-cased (a to z only) before the search.
  int IndexOfName(std::string_view name) const;
  // The longest text of each column as `length` counts it (Utf8Bytes, or a destination's
  // own unit), over every data record (for the width of a created field); lengths past
  // INT32_MAX count as INT32_MAX. Values that are not text count by their text form. The
  // passes over every record (this and the Save functions) step `tick` at each record and
  // do not end early.
  std::vector<int> LongestValues(const TextLength& length,
                                 const TTrundleTickEvent& tick = {}) const;

  // The text form of one value: currency "$%1.2f" (with the third and fourth decimals
  // when the amount has them), date-times by the short date (with the time of day when
  // there is one) or the time alone below 1.0, else ToText().
  std::string FormatValue(const TRecordObject& record, int field) const;
  void AppendFormatted(const Variant& value, std::string& out) const;

  std::string SaveToCsv() const;
  std::string SaveToTabText() const;
  std::string SaveToHtml(const std::string& title, const std::string& banner_file) const;
  // The same, streamed into a sink.
  void SaveToDelimited(char delimiter, OutputSink& sink, const TTrundleTickEvent& tick = {}) const;
  void SaveToHtml(const std::string& title, const std::string& banner_file, OutputSink& sink,
                  const TTrundleTickEvent& tick = {}) const;
  // The rows of the data records, written to a page that has its header row.
  void WriteHtmlRows(HtmlPageWriter& page, const TTrundleTickEvent& tick = {}) const;

 private:
  friend class TRecordObject;
  struct Store;
  // Value `field` of the record whether or not FieldNames reaches that far.
  Variant ValueOf(int record, int field) const;
  // Calls emit(i, text) for each field i of a data record with the value's text: a
  // string as it is stored, any other value as AppendFormatted gives it, Null and
  // Unassigned as nullptr data (`empty` set). Seals the open record first.
  void ForEachText(int record,
                   const std::function<void(size_t, std::string_view, bool)>& emit) const;
  const char* RecordBytes(int record) const;
  void SealOpenRecord() const;

  std::unique_ptr<Store> store_;
  // Where each record starts in the store; entry 0 is the placeholder.
  mutable std::vector<uint64_t> offsets_;
};

// Where a renderer writes: a string, or a file (file_output.h).
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

class StringSink : public OutputSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

}  // namespace trundle

#include "textfiles/trundle_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <string_view>

#include "engine/adaptor_registry.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "engine/file_lock.h"
#include "engine/log_text.h"
#include "textfiles/clipboard.h"
#include "textfiles/delimited_reader.h"
#include "textfiles/delimited_writer.h"
#include "textfiles/file_output.h"
#include "textfiles/html_page.h"

namespace trundle {
namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool NeedsConversion(const std::string& code_page) {
  return !code_page.empty() && !IsUtf8Name(code_page);
}

int32_t ClampCount(int64_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

// The line after "File is empty": the path and what the file holds instead of a line.
std::string EmptyFileCause(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && st.st_size == 0) return path + ": the file has 0 bytes";
  return path + ": the file holds no line, only a byte-order mark or an end-of-file mark " +
         "(character 26)";
}

// Empty when the file's first bytes may be text; otherwise the line that says it is not.
// Text holds no NUL byte, binary files (programs, pictures, archives, databases) nearly
// always do in their first block. UTF-16 and UTF-32 hold NULs too: a file that starts
// with their byte-order mark, or whose NULs all fall on even or all on odd offsets (as
// in UTF-16 without a mark), is left to the reader, as is a file read in a named code
// page.
std::string NotTextCause(const std::string& path, const std::string& code_page) {
  // A pipe or a device is read once, by the reader: its first bytes are not looked at.
  struct stat st {};
  if (NeedsConversion(code_page) || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return "";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char head[4096];
  const ssize_t got = read(fd, head, sizeof head);
  close(fd);
  if (got <= 0) return "";
  const std::string_view bytes(head, static_cast<size_t>(got));
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") return "";
  bool even = false, odd = false;
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\0') (i % 2 ? odd : even) = true;
  if (!even && !odd) return "";
  if (even != odd && bytes.size() >= 2) return "";
  return path + " is not a text file: it holds NUL bytes, as binary files do";
}

std::mutex g_clipboard_mutex;
std::shared_ptr<SystemClipboard>& ClipboardSlot() {
  static std::shared_ptr<SystemClipboard> slot;
  return slot;
}

}  // namespace

void SetSystemClipboard(std::shared_ptr<SystemClipboard> clipboard) {
  std::lock_guard<std::mutex> lock(g_clipboard_mutex);
  ClipboardSlot() = std::move(clipboard);
}

std::shared_ptr<SystemClipboard> GetSystemClipboard() {
  std::lock_guard<std::mutex> lock(g_clipboard_mutex);
  return ClipboardSlot();
}

bool TTrundleTableBase::CreateTable(TTrundleUnknown& source) {
  if (output_refused_) return false;  // OpenTable said why
  for (TFieldDef& def : source.SourceFieldDefs(nullptr)) Table.FieldNames.push_back(def.Name);
  SendMessage("Table created");
  return true;
}

TFieldDefs TTrundleTableBase::FieldDefsOfWidths(const std::vector<int>& widths) const {
  TFieldDefs defs;
  for (size_t i = 0; i < Table.FieldNames.size(); ++i) {
    TFieldDef def;
    def.Name = Table.FieldNames[i];
    def.DataType = ftString;
    def.Size = widths.empty() ? 0 : (widths[i] > 0 ? widths[i] : 1);
    defs.push_back(std::move(def));
  }
  return defs;
}

TFieldDefs TTrundleTableBase::SourceFieldDefs(const TextLength& measure_widths) {
  std::vector<int> widths;
  if (measure_widths) widths = Table.LongestValues(measure_widths, OnTick);
  return FieldDefsOfWidths(widths);
}

std::string TTrundleTableBase::WhatAStopLeaves(int64_t /*records_moved*/) const {
  const std::string name = GetKind() == dkText && Clipboard ? std::string("clipboard") : TableName;
  return "The destination " + name + " is left as it was: it holds none of the records moved";
}

bool TTrundleTableBase::EndOfRecords(TRecordBuffer& names, TRecordBuffer& values) {
  ClearFilledBuffers(names, values);
  names_filled_ = nullptr;
  return false;
}

void TTrundleTableBase::FillNames(TRecordBuffer& names, TRecordBuffer& values) {
  const size_t fields = Table.FieldNames.size();
  if (fields > static_cast<size_t>(kMaxRecordValues) || fields > names.size() ||
      fields > values.size())
    throw RangeCheckError(TableName + " line 1: the header names " + std::to_string(fields) +
                          " fields, and a text record holds at most " +
                          std::to_string(kMaxRecordValues) + " values");
  // Every record has the same names: when the buffers this reader filled come back
  // (the job never changes them), the names are still in place, the values are
  // overwritten by the caller, and everything past the last field is still Unassigned.
  if (names_filled_ != names.data() || values_filled_ != values.data()) {
    ClearFilledBuffers(names, values);
    FilledUpTo(static_cast<int>(fields));
    for (size_t i = 0; i < fields; ++i) names[i].SetString(Table.FieldNames[i]);
    names_filled_ = names.data();
    values_filled_ = values.data();
  }
}

bool TTrundleTableBase::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  ++CurrentRecord;
  if (CurrentRecord > Table.RecordListLength() - 1) return EndOfRecords(names, values);
  FillNames(names, values);
  Table.ReadInto(CurrentRecord, values);
  return true;
}

const std::vector<const Variant*>& TTrundleTableBase::MapToFields(const TRecordBuffer& names,
                                                                  const TRecordBuffer& values,
                                                                  int64_t record_number,
                                                                  bool held) {
  if (!names_fixed_ && mapped_names_ != Table.FieldNames) {
    mapped_names_ = Table.FieldNames;
    mapper_.SetDestination(mapped_names_);
  }
  const std::vector<int>& map = mapper_.Map(names, values, true, NamesFilled(), NamesLayoutPassed());
  by_field_.assign(Table.FieldNames.size(), nullptr);
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] >= 0 && i < values.size()) by_field_[map[i]] = &values[i];
  if (held && by_field_.size() > static_cast<size_t>(kMaxRecordValues)) {
    for (size_t i = kMaxRecordValues; i < by_field_.size(); ++i)
      if (by_field_[i])
        throw RangeCheckError(
            TableName + ", record " + std::to_string(record_number) + ": a value for field " +
            std::to_string(i + 1) + " of " + std::to_string(by_field_.size()) +
            ", and a text record holds at most " + std::to_string(kMaxRecordValues) + " values");
  }
  return by_field_;
}

std::string_view TTrundleTableBase::CellText(const Variant* value, bool& empty) {
  empty = !value || value->IsEmpty();
  if (empty) return {};
  if (value->type() == VarType::kString) return value->text();  // empty text is no Null
  cell_.clear();
  Table.AppendFormatted(*value, cell_);
  return cell_;
}

void TTrundleTableBase::FixFieldNames(bool fixed) {
  if (fixed && mapped_names_ != Table.FieldNames) {
    mapped_names_ = Table.FieldNames;
    mapper_.SetDestination(mapped_names_);
  }
  names_fixed_ = fixed;
}

bool TTrundleTableBase::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  Table.AddRecordFrom(MapToFields(names, values, Table.RecordListLength()));
  return true;
}

bool TTrundleTableBase::HoldOutputFile() {
  ReleaseOutputFile();
  // A stream is never replaced, so never held.
  if (TableName.empty() || IsStreamOutput(TableName)) return true;
  try {
    held_file_ = OpenOutputFile(TableName);
    held_for_ = TableName;
  } catch (const BeingWrittenError& e) {
    SendMessage(e.what());
    output_refused_ = true;
    return false;
  }
  return true;
}

void TTrundleTableBase::ReleaseOutputFile() {
  held_file_.reset();
  output_refused_ = false;
}

std::unique_ptr<FileSink> TTrundleTableBase::TakeOutputFile() {
  if (held_file_ && held_for_ == TableName) return std::move(held_file_);
  ReleaseOutputFile();  // held for another name
  return OpenOutputFile(TableName);
}

void TTrundleTableBase::SendWritten(int64_t records) {
  SendMessage(std::to_string(records) + " records written");
  for (const std::string& note : mapper_.TakeNotes()) SendMessage(note);
}

TTrundleDelimited::TTrundleDelimited(char delimiter) : delimiter_(delimiter) {}

// Without SaveTable, the writer's temporary file goes with it.
TTrundleDelimited::~TTrundleDelimited() = default;

void TTrundleDelimited::PrepareDestination() {
  // The clipboard takes the text in one piece.
  streaming_ = !(GetKind() == dkText && Clipboard);
}

bool TTrundleDelimited::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  return streaming_ ? OpenDestination() : OpenSource();
}

bool TTrundleDelimited::OpenSource() {
  SendMessage("Reading table");
  Table.FieldNames.clear();
  Table.ClearRecords();
  CurrentRecord = 0;
  if (const std::string cause = NoTableCause(TableName); !cause.empty()) {
    SendMessage("Table doesn't exist or is empty");
    SendMessage(cause);
    return false;
  }
  // Read as text, a binary file gives a few records of garbage and a run that succeeds.
  if (const std::string cause = NotTextCause(TableName, Encoding); !cause.empty()) {
    SendMessage(cause);
    return false;
  }
  stream_source_ = false;
  source_reader_.reset();
  delivered_ = 0;
  try {
    // A regular file is only counted here and read again as the records are asked for,
    // so that a table of any size takes the same memory; a pipe is read once and held.
    FileState before;
    const bool regular = StateOf(TableName, before);
    DelimitedReader reader(TableName, delimiter_, Encoding);
    std::vector<std::string_view> fields;
    if (!reader.ReadRecord(fields)) {
      SendMessage("File is empty");
      SendMessage(EmptyFileCause(TableName));
      return false;
    }
    for (std::string_view name : fields) Table.FieldNames.push_back(UpperAscii(name));
    int64_t wider = 0;  // records with values past the last name, which no field takes
    int64_t first_wider_line = 0;
    int64_t records = 0;
    TickCounter ticks(OnTick);
    while (reader.ReadRecord(fields)) {
      // Nothing is kept from a stopped reading; the job says that the run stopped.
      if (ticks.Step()) return false;
      if (fields.size() > Table.FieldNames.size() && !wider++) first_wider_line = reader.line();
      if (fields.size() > static_cast<size_t>(kMaxRecordValues)) {
        SendMessage(kRangeCheckError);
        SendMessage(TableName + " line " + std::to_string(reader.line()) + ": " +
                    std::to_string(fields.size()) + " values, and a text record holds at most " +
                    std::to_string(kMaxRecordValues));
        return false;
      }
      ++records;
      if (!regular) Table.AddTextRecord(fields);
    }
    // A header of more names than a record holds: no record could be handed on whole,
    // so none is (a header alone has no values to lose, and is copied).
    if (records > 0 && Table.FieldNames.size() > static_cast<size_t>(kMaxRecordValues)) {
      SendMessage(kRangeCheckError);
      SendMessage(TableName + " line 1: the header names " +
                  std::to_string(Table.FieldNames.size()) +
                  " fields, and a text record holds at most " + std::to_string(kMaxRecordValues) +
                  " values");
      return false;
    }
    for (const std::string& note : reader.TakeNotes()) SendMessage(note);
    if (wider)
      SendMessage(TableName + ": " + std::to_string(wider) +
                  (wider == 1 ? " record has" : " records have") +
                  " more values than the header has names (the first at line " +
                  std::to_string(first_wider_line) +
                  "); the values past the last name are "
                  "not moved");
    if (regular) {
      FileState after;
      if (!StateOf(TableName, after) || !(after == before))
        throw TrundleError(TableName +
                           " changed while it was read; run again once it is "
                           "written whole");
      stream_source_ = true;
      source_state_ = before;
      source_records_ = records;
    }
    SendMessage(std::to_string(records) + " records read");
    // One more than the records, as the in-memory table counts them (its first slot is
    // the header's).
    RecordCount = ClampCount(records + 1);
    return !Table.FieldNames.empty();
  } catch (const StopRequestedError&) {
    return false;  // the job says that the run stopped
  } catch (const std::exception& e) {
    SendMessage(e.what());
    return false;
  }
}

bool TTrundleDelimited::StateOf(const std::string& path, FileState& state) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  state.device = st.st_dev;
  state.inode = st.st_ino;
  state.size = st.st_size;
  state.modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

void TTrundleDelimited::CheckSourceUnchanged() const {
  FileState now;
  if (!StateOf(TableName, now) || !(now == source_state_))
    throw TrundleError(TableName + " changed while it was read (" +
                       std::to_string(source_records_) +
                       " records were counted); run again once it is written whole");
}

std::unique_ptr<DelimitedReader> TTrundleDelimited::ReopenSource() const {
  CheckSourceUnchanged();
  auto reader = std::make_unique<DelimitedReader>(TableName, delimiter_, Encoding);
  std::vector<std::string_view> header;
  reader->ReadRecord(header);
  reader->TakeNotes();  // said when the file was counted
  return reader;
}

void TTrundleDelimited::HoldSourceInMemory() {
  if (!stream_source_) return;
  std::unique_ptr<DelimitedReader> reader = ReopenSource();
  std::vector<std::string_view> fields;
  while (reader->ReadRecord(fields)) Table.AddTextRecord(fields);
  CheckSourceUnchanged();
  stream_source_ = false;
  source_reader_.reset();
}

bool TTrundleDelimited::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  if (!stream_source_) return TTrundleTableBase::ReadRecord(names, values);
  // CurrentRecord set back to 0 starts the records again, as for a table in memory.
  if (CurrentRecord == 0 && delivered_ > 0) {
    source_reader_.reset();
    delivered_ = 0;
  }
  if (!source_reader_) source_reader_ = ReopenSource();
  if (!source_reader_->ReadRecord(fields_)) {
    // What was delivered must be what was counted: a file changed between the passes
    // would otherwise lose or gain records without a word.
    CheckSourceUnchanged();
    if (delivered_ != source_records_)
      throw TrundleError(TableName +
                         " changed while it was read: " + std::to_string(source_records_) +
                         " records were counted, " + std::to_string(delivered_) + " read");
    source_reader_.reset();
    delivered_ = 0;
    CurrentRecord = static_cast<int>(std::min<int64_t>(source_records_ + 1, INT_MAX));
    return EndOfRecords(names, values);
  }
  if (++delivered_ > source_records_)
    throw TrundleError(TableName + " changed while it was read: more than the " +
                       std::to_string(source_records_) + " records counted");
  CurrentRecord = static_cast<int>(std::min<int64_t>(delivered_, INT_MAX));
  FillNames(names, values);
  const size_t fields = Table.FieldNames.size();
  const size_t given = std::min(fields, fields_.size());
  for (size_t i = 0; i < given; ++i) values[i].SetString(fields_[i]);
  for (size_t i = given; i < fields; ++i) values[i].SetNull();
  return true;
}

TFieldDefs TTrundleDelimited::SourceFieldDefs(const TextLength& measure_widths) {
  if (!stream_source_ || !measure_widths) return TTrundleTableBase::SourceFieldDefs(measure_widths);
  std::unique_ptr<DelimitedReader> reader = ReopenSource();
  std::vector<int> widths(Table.FieldNames.size(), 0);
  std::vector<std::string_view> fields;
  TickCounter ticks(OnTick);
  while (reader->ReadRecord(fields)) {
    ticks.Step();
    for (size_t i = 0; i < fields.size() && i < widths.size(); ++i) {
      const size_t length = std::min<size_t>(measure_widths(fields[i]), INT32_MAX);
      if (length > static_cast<size_t>(widths[i])) widths[i] = static_cast<int>(length);
    }
  }
  CheckSourceUnchanged();
  return FieldDefsOfWidths(widths);
}

std::string TTrundleTableBase::WhatAStopLeavesOfAStream(int64_t records_moved) const {
  const std::string name = TableName == kStandardOutputName ? "standard output" : TableName;
  return "The destination " + name + " is written straight to: it has been sent at most the " +
         std::to_string(records_moved) + " records moved before the stop";
}

std::string TTrundleDelimited::WhatAStopLeaves(int64_t records_moved) const {
  if (!streaming_ || !IsStreamOutput(TableName))
    return TTrundleTableBase::WhatAStopLeaves(records_moved);
  return WhatAStopLeavesOfAStream(records_moved);
}

bool TTrundleDelimited::OpenDestination() {
  SendMessage("Reading table");
  Table.FieldNames.clear();
  Table.ClearRecords();
  output_.reset();
  FixFieldNames(false);
  copy_old_ = false;
  written_ = 0;
  ReleaseOutputFile();
  if (IsStreamOutput(TableName)) {
    SendMessage(TableName == kStandardOutputName
                    ? std::string("The records are written to standard output")
                    : TableName + " is not a regular file: the records are written straight to it");
    return false;
  }
  // The file is held before it is read, so that no other run replaces it in between: its
  // records would be lost with the replacement this run makes.
  if (!HoldOutputFile()) return false;
  if (const std::string cause = NoTableCause(TableName); !cause.empty()) {
    SendMessage("Table doesn't exist or is empty");
    SendMessage(NewDestinationNote(TableName));
    return false;
  }
  // A binary file is neither appended to nor replaced by a table.
  if (const std::string cause = NotTextCause(TableName, Encoding); !cause.empty())
    throw TrundleError(cause + "; no records are added to it, and it is left as it was");
  if (ReplaceExisting) {
    SendMessage(TableName + " exists: it is replaced by the source's table");
    return false;
  }
  try {
    return ReadOldRecords();
  } catch (...) {
    ReleaseOutputFile();  // the file is left as it is: other runs may write it
    throw;
  }
}

bool TTrundleDelimited::ReadOldRecords() {
  // Errors reading go to the caller: a file that cannot be read whole is not rewritten.
  DelimitedReader reader(TableName, delimiter_, Encoding);
  std::vector<std::string_view> fields;
  if (!reader.ReadRecord(fields)) {
    SendMessage("File is empty");
    SendMessage(EmptyFileCause(TableName));
    return false;
  }
  for (std::string_view name : fields) Table.FieldNames.push_back(UpperAscii(name));
  int64_t records = 0;
  TickCounter ticks(OnTick);
  while (reader.ReadRecord(fields)) {
    // The count is not used after a stop: the job ends the run before writing.
    if (ticks.Step()) return false;
    ++records;
  }
  if (const int64_t after = reader.bytes_after_end_mark(); after > 0)
    throw TrundleError(TableName + " line " + std::to_string(reader.end_mark_line()) +
                       ": character 26 ends the text, and " + std::to_string(after) +
                       (after == 1 ? " byte follows" : " bytes follow") +
                       " it; no records are added to this file, which is left as it was");
  copy_old_ = true;
  SendMessage(std::to_string(records) + " records read");
  RecordCount = ClampCount(records + 1);
  return !Table.FieldNames.empty();
}

void TTrundleDelimited::StartOutput() {
  output_ = std::make_unique<DelimitedWriter>(TakeOutputFile(), delimiter_, Encoding);
  for (const std::string& name : Table.FieldNames) output_->Field(name);
  output_->EndLine();
  FixFieldNames(true);
  if (!copy_old_) return;
  // The old records are read again, one at a time, rather than held since OpenTable.
  DelimitedReader reader(TableName, delimiter_, Encoding);
  std::vector<std::string_view> fields;
  reader.ReadRecord(fields);  // the header
  const size_t width = Table.FieldNames.size();
  // Half written, the output must be finished: a stop waits for the next record boundary.
  TickCounter ticks(OnTick);
  while (reader.ReadRecord(fields)) {
    ticks.Step();
    for (std::string_view text : fields) output_->Field(text);
    for (size_t i = fields.size(); i < width; ++i) output_->Field({});
    output_->EndLine();
    ++written_;
  }
}

bool TTrundleDelimited::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!streaming_) {
    // A table opened as a source and then added to (the clipboard's, which is written
    // whole) needs its records in memory after all.
    HoldSourceInMemory();
    return TTrundleTableBase::WriteRecord(names, values);
  }
  if (!output_) StartOutput();
  // Written straight out, a record is not held in Table: a file of more fields than
  // Table's records hold takes values in any of them, and its old lines are copied whole.
  bool empty;
  for (const Variant* value : MapToFields(names, values, written_ + 1, false))
    output_->Field(CellText(value, empty));
  output_->EndLine();
  ++written_;
  return true;
}

void TTrundleDelimited::SendConversionFailures(int64_t failures) {
  if (failures)
    SendMessage(std::to_string(failures) + " characters have no place in code page " +
                NormalizeCodePageName(Encoding) + " and were written as ?");
}

std::string TTrundleDelimited::Render() {
  StringSink rendered;
  Table.SaveToDelimited(delimiter_, rendered, OnTick);
  std::string text = std::move(rendered.text);
  if (!NeedsConversion(Encoding)) return text;
  StringSink converted;
  EncodingSink sink(converted, Encoding);
  sink.Write(text);
  sink.Finish();
  SendConversionFailures(sink.failures());
  return std::move(converted.text);
}

void TTrundleDelimited::WriteFile() {
  const std::unique_ptr<FileSink> file = TakeOutputFile();
  if (NeedsConversion(Encoding)) {
    EncodingSink sink(*file, Encoding);
    Table.SaveToDelimited(delimiter_, sink, OnTick);
    sink.Finish();
    SendConversionFailures(sink.failures());
  } else {
    Table.SaveToDelimited(delimiter_, *file, OnTick);
  }
  file->Commit();
}

void TTrundleDelimited::SaveTable() {
  SendMessage("Writing table");
  if (!streaming_) {
    HoldSourceInMemory();
    WriteFile();
    SendWritten(Table.DataRecordCount());
    return;
  }
  if (!output_) StartOutput();
  const std::unique_ptr<DelimitedWriter> output = std::move(output_);
  SendConversionFailures(output->Commit());
  SendWritten(written_);
}

void TTrundleText::SaveTable() {
  if (!Clipboard) {
    TTrundleDelimited::SaveTable();
    return;
  }
  SendMessage("Writing table");
  HoldSourceInMemory();
  auto clipboard = GetSystemClipboard();
  if (!clipboard)
    throw TrundleError("Can't put the table on the clipboard: no clipboard is available");
  clipboard->SetText(Render());
  SendWritten(Table.DataRecordCount());
}

TTrundleHtml::TTrundleHtml() = default;
TTrundleHtml::~TTrundleHtml() = default;

bool TTrundleHtml::OpenTable() {
  SendMessage("Can't read from HTML");
  RecordCount = 0;
  HoldOutputFile();
  return false;
}

void TTrundleHtml::FindBanner() {
  banner_note_.clear();
  if (HtmlBanner.empty() || FileExists(HtmlBanner)) return;
  const std::string candidate = ProgramFolder() + HtmlBanner;
  if (FileExists(candidate))
    HtmlBanner = candidate;
  else
    banner_note_ = "No banner: " + HtmlBanner + " was not found (nor in " + ProgramFolder() + ")";
}

void TTrundleHtml::StartPage() {
  FindBanner();
  std::unique_ptr<FileSink> file = TakeOutputFile();
  page_ = std::make_unique<HtmlPageWriter>(*file, HtmlTitle, HtmlBanner, Table.FieldNames);
  page_file_ = std::move(file);
  Table.WriteHtmlRows(*page_, OnTick);
  written_ = Table.DataRecordCount();
  FixFieldNames(true);  // the header row is written
}

bool TTrundleHtml::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!page_) StartPage();
  const std::vector<const Variant*>& fields = MapToFields(names, values, written_ + 1);
  page_->BeginRow();
  bool empty;
  for (size_t i = 0; i < fields.size(); ++i) {
    // A text record holds no more values; a page of more fields could not be written.
    if (i >= static_cast<size_t>(kMaxRecordValues)) throw TrundleError(kRangeCheckError);
    const std::string_view text = CellText(fields[i], empty);
    page_->Cell(text, empty);
  }
  page_->EndRow();
  ++written_;
  return true;
}

void TTrundleHtml::SaveTable() {
  SendMessage("Writing table");
  if (!page_) StartPage();
  if (!banner_note_.empty()) SendMessage(banner_note_);
  const std::unique_ptr<HtmlPageWriter> page = std::move(page_);
  const std::unique_ptr<FileSink> file = std::move(page_file_);
  page->Finish(written_);
  file->Commit();
  FixFieldNames(false);
  SendWritten(written_);
}

std::string TTrundleHtml::WhatAStopLeaves(int64_t records_moved) const {
  if (page_ && IsStreamOutput(TableName)) return WhatAStopLeavesOfAStream(records_moved);
  return TTrundleTableBase::WhatAStopLeaves(records_moved);
}

std::string ProgramFolder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return "./";
  path.resize(static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

void RegisterTextAdaptors() {
  RegisterAdaptor(dkCsv, [] { return std::make_unique<TTrundleCsv>(); });
  RegisterAdaptor(dkText, [] { return std::make_unique<TTrundleText>(); });
  RegisterAdaptor(dkHtml, [] { return std::make_unique<TTrundleHtml>(); });
}

}  // namespace trundle

// Appending records to a dBase table. Records collect in a buffer; Flush writes the memo
// blocks, then the memo header, then the records and the 0x1A end mark, and only then the
// header's record count, so a table copied at any moment claims only whole records.
// The table and its memo file are held against other writers while the writer is open.
// A run killed between the records and the count leaves records after those the header
// claims: the next writer says how many, and writes over them.

#include "databases/dbase/dbase_writer.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "databases/dbase/dbase_file.h"
#include "databases/dbase/dbase_values.h"
#include "databases/dbase/memo_file.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "engine/log_text.h"
#include "engine/value_changes.h"

namespace trundle {
namespace {

using dbase::FieldLayout;

constexpr uint32_t kFlushEvery = 1000;         // records between header updates
constexpr size_t kFlushBytes = 8u << 20;       // or this much buffered data
constexpr uint64_t kMaxRecords = 0xFFFFFFFFu;  // the header's 32-bit count

// What was lost in one field, for the notes.
struct Losses {
  int64_t cut = 0;
  int64_t unholdable = 0;
  int64_t numbers_dropped = 0;
  int64_t numbers_rounded = 0;
  int64_t dates_dropped = 0;
};

int64_t Total(const Losses& l) {
  return l.cut + l.unholdable + l.numbers_dropped + l.numbers_rounded + l.dates_dropped;
}

std::string Count(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool IsBlankText(const Variant& v) {
  if (v.type() != VarType::kString) return false;
  return v.text().find_first_not_of(" \t\r\n") == std::string::npos;
}

class DBaseWriter final : public TableFileWriter {
 public:
  DBaseWriter(const std::string& path, const TableWriteOptions& options);
  ~DBaseWriter() override {
    try {
      Close();
    } catch (...) {
    }
  }

  const std::string& path() const override { return file_.path(); }
  const TFieldDefs& fields() const override { return fields_; }
  void Append(const std::vector<Variant>& values) override;
  void Flush() override;
  void Close() override;
  std::vector<std::string> TakeNotes() override;
  std::vector<std::string> TakeRepairs() override { return std::exchange(repairs_, {}); }

 private:
  void DropCutShortRecords();
  void ChooseCodePage(const TableWriteOptions& options);
  void OpenMemo();
  void Encode(size_t index, const Variant& value, char* record);
  void EncodeText(size_t index, const Variant& value, char* out);
  void EncodeNumber(size_t index, const Variant& value, char* out);
  void EncodeMemo(size_t index, const Variant& value, char* out);
  void EncodeFoxPro(size_t index, const Variant& value, char* record, char* out);
  void ToCodePage(size_t index, std::string_view utf8, std::string& out);
  void SetNull(const FieldLayout& f, char* record);
  std::string LossLine(size_t index) const;

  RandomAccessFile file_;
  dbase::TableHeader header_;
  std::vector<size_t> visible_;
  TFieldDefs fields_;
  std::vector<Losses> losses_;
  std::unique_ptr<dbase::MemoWriter> memo_;
  std::unique_ptr<TextCodec> codec_;
  std::string records_;   // pending records
  uint32_t pending_ = 0;  // records in records_
  std::string text_;      // scratch
  std::vector<std::string> repairs_;
  bool closed_ = false;
  bool refuse_lossy_ = false;  // TableWriteOptions::refuse_lossy
};

DBaseWriter::DBaseWriter(const std::string& path, const TableWriteOptions& options)
    : file_(OpenForWriting(path)),
      header_(dbase::ReadTableHeader(file_)),
      refuse_lossy_(options.refuse_lossy) {
  ChooseCodePage(options);
  OpenMemo();  // held too before anything in the table changes
  DropCutShortRecords();
  auto names = TextCodec::ToUtf8From(codec_->code_page());
  for (size_t i = 0; i < header_.fields.size(); ++i) {
    const FieldLayout& f = header_.fields[i];
    if (f.hidden) continue;
    std::string name;
    names->Convert(f.raw_name, name);
    visible_.push_back(i);
    fields_.push_back(dbase::DatasetField(f, header_, name));
  }
  losses_.resize(fields_.size());
  records_.reserve(kFlushEvery * static_cast<size_t>(header_.record_size) + 1);
}

// Records after those the header counts, each opening with its deletion flag (' ' or
// '*'), and a record cut short after them, are what a run killed before it wrote the
// count leaves; a reader that goes by the file's length may have seen them. They are
// dropped, with a line for the log, so that the file's length and its header agree
// again. Bytes after an end mark are no records: Close cuts them off as before.
void DBaseWriter::DropCutShortRecords() {
  const uint64_t end = header_.DataEnd();
  const uint64_t size = file_.Size();
  const uint64_t record_size = header_.record_size;
  auto is_flag = [](char c) { return c == ' ' || c == '*'; };
  uint64_t whole = 0;
  uint64_t at = end;  // the next record to look at
  std::string window;
  while (at + record_size <= size) {
    const uint64_t count = std::min<uint64_t>(
        (size - at) / record_size, std::max<uint64_t>(1, (uint64_t(1) << 20) / record_size));
    window.resize(count * record_size);
    file_.ReadExactAt(at, window.data(), window.size());
    uint64_t k = 0;
    while (k < count && is_flag(window[k * record_size])) ++k;
    whole += k;
    at += k * record_size;
    if (k < count) break;
  }
  uint64_t part = 0;  // bytes of a record cut short
  char first = 0;
  if (at < size && file_.ReadAt(at, &first, 1) == 1 && is_flag(first) && at + record_size > size)
    part = size - at;
  if (whole == 0 && part == 0) return;
  std::string what = whole ? Count(int64_t(whole), "record", "records") : std::string();
  if (part)
    what += whole ? " and " + Count(int64_t(part), "byte", "bytes") + " of another"
                  : Count(int64_t(part), "byte", "bytes") + " of a record";
  repairs_.push_back(LeftoversDroppedLine(path(), what, header_.record_count));
  file_.WriteAt(end, &dbase::kEndOfFile, 1);
  file_.Truncate(end + 1);
}

void DBaseWriter::ChooseCodePage(const TableWriteOptions& options) {
  std::string code_page;
  if (!options.encoding_explicit) code_page = dbase::TableCodePage(path(), header_);
  if (code_page.empty()) code_page = options.encoding.empty() ? "UTF-8" : options.encoding;
  codec_ = TextCodec::FromUtf8To(code_page);
}

void DBaseWriter::OpenMemo() {
  const std::string memo_path = dbase::MemoFilePath(path(), header_);
  if (memo_path.empty()) return;
  memo_ = std::make_unique<dbase::MemoWriter>(OpenForWriting(memo_path), header_.memo_kind());
}

void DBaseWriter::Append(const std::vector<Variant>& values) {
  if (closed_) throw TrundleError("Cannot append to " + path() + ": it is closed");
  if (header_.record_count + pending_ >= kMaxRecords)
    throw TrundleError("Cannot append to " + path() +
                       ": a dBase table holds at most 4294967295 records");
  const size_t start = records_.size();
  records_.append(header_.record_size, ' ');
  char* record = records_.data() + start;
  if (header_.null_flags_field >= 0) {
    const FieldLayout& flags = header_.fields[static_cast<size_t>(header_.null_flags_field)];
    std::memset(record + flags.offset, 0, static_cast<size_t>(flags.width));
  }
  static const Variant kNothing;
  for (size_t i = 0; i < visible_.size(); ++i) {
    const Variant& value = i < values.size() ? values[i] : kNothing;
    const int64_t lost = Total(losses_[i]);
    try {
      Encode(i, value, records_.data() + start);
      // A value is stored changed once, however many ways it lost.
      if (Total(losses_[i]) != lost) CountValueChanged(fields_[i].Name);
    } catch (const TrundleError& e) {
      // Nothing of the record stays: the next one may still be stored.
      records_.resize(start);
      throw RecordRefusedError(
          "Cannot store a value in field " + fields_[i].Name + " of " + path() + ": " + e.what(),
          "field " + fields_[i].Name + ": " + e.what());
    }
  }
  ++pending_;
  if (pending_ >= kFlushEvery || records_.size() >= kFlushBytes ||
      (memo_ && memo_->pending_bytes() >= kFlushBytes))
    Flush();
}

void DBaseWriter::SetNull(const FieldLayout& f, char* record) {
  if (f.null_bit < 0) return;
  const FieldLayout& flags = header_.fields[static_cast<size_t>(header_.null_flags_field)];
  record[flags.offset + f.null_bit / 8] |= static_cast<char>(1 << (f.null_bit % 8));
}

void DBaseWriter::Encode(size_t index, const Variant& value, char* record) {
  const FieldLayout& f = header_.fields[visible_[index]];
  char* out = record + f.offset;
  const bool is_text_field = f.type == 'C' || f.type == 'V' || f.type == 'M';
  if (value.IsEmpty() || (!is_text_field && IsBlankText(value))) {
    // Binary fields have no blank; zero bytes read as empty (and Null with the flag).
    const bool binary = f.type == 'I' || f.type == 'Y' || f.type == 'T' || f.type == 'Q' ||
                        (f.type == 'B' && header_.IsVisualFoxPro()) ||
                        (dbase::IsMemoField(f, header_) && f.width == 4);
    if (binary) std::memset(out, 0, static_cast<size_t>(f.width));
    SetNull(f, record);
    return;
  }
  switch (f.type) {
    case 'C':
    case 'V':
    case 'Q':
      EncodeText(index, value, out);
      return;
    case 'N':
    case 'F':
      EncodeNumber(index, value, out);
      return;
    case 'L':
      out[0] = value.ToBoolean() ? 'T' : 'F';
      return;
    case 'D':
      if (!dbase::FormatDate(value.ToDateTime(), out)) {
        if (refuse_lossy_)
          throw TrundleError("the date " + ValueInLog(value) + " is outside the years 1 to 9999");
        ++losses_[index].dates_dropped;
      }
      return;
    case 'I':
    case 'Y':
    case 'T':
      EncodeFoxPro(index, value, record, out);
      return;
    case 'B':
      if (header_.IsVisualFoxPro()) {
        EncodeFoxPro(index, value, record, out);
        return;
      }
      break;
    default:
      break;
  }
  if (dbase::IsMemoField(f, header_))
    EncodeMemo(index, value, out);
  else
    EncodeText(index, value, out);
}

void DBaseWriter::ToCodePage(size_t index, std::string_view utf8, std::string& out) {
  out.clear();
  if (!codec_->Convert(utf8, out)) ++losses_[index].unholdable;
}

void DBaseWriter::EncodeText(size_t index, const Variant& value, char* out) {
  const FieldLayout& f = header_.fields[visible_[index]];
  const bool raw = f.type == 'Q' || value.type() == VarType::kBlob;
  const std::string shown =
      value.type() == VarType::kString || raw ? std::string() : value.ToText();
  const std::string& source = shown.empty() ? value.text() : shown;
  if (raw)
    text_ = source;
  else
    ToCodePage(index, source, text_);
  size_t n = text_.size();
  if (n > static_cast<size_t>(f.width)) {
    if (refuse_lossy_)
      throw TrundleError("the value " + ValueInLog(value) + " takes " + std::to_string(n) +
                         " bytes, and the field holds " + std::to_string(f.width));
    n = static_cast<size_t>(f.width);
    // Cut before a UTF-8 continuation byte so no character is split.
    if (codec_->identity() && !raw)
      while (n > 0 && (static_cast<unsigned char>(text_[n]) & 0xC0) == 0x80) --n;
    ++losses_[index].cut;
  }
  std::memcpy(out, text_.data(), n);
  if (f.type == 'Q' && n < static_cast<size_t>(f.width)) std::memset(out + n, 0, f.width - n);
  if (f.varlen_bit >= 0 && n < static_cast<size_t>(f.width)) {
    out[f.width - 1] = static_cast<char>(n);
    char* record = out - f.offset;
    const FieldLayout& flags = header_.fields[static_cast<size_t>(header_.null_flags_field)];
    record[flags.offset + f.varlen_bit / 8] |= static_cast<char>(1 << (f.varlen_bit % 8));
  }
}

void DBaseWriter::EncodeNumber(size_t index, const Variant& value, char* out) {
  const FieldLayout& f = header_.fields[visible_[index]];
  Variant number = value;
  if (value.type() == VarType::kString) {
    // Whole numbers given as text keep every digit, beyond what a double holds.
    const std::string& t = value.text();
    const size_t b = t.find_first_not_of(' ');
    const size_t e = t.find_last_not_of(' ') + 1;
    int64_t i = 0;
    auto [p, ec] = std::from_chars(t.data() + b, t.data() + e, i);
    if (ec == std::errc() && p == t.data() + e)
      number.SetInteger(i);
    else
      number.SetFloat(value.ToDouble());
  } else if (value.type() == VarType::kDateTime) {
    number.SetFloat(value.real());
  }
  bool ok;
  if (f.type == 'F' && number.type() == VarType::kFloat) {
    bool rounded = false;
    ok = dbase::FormatShortest(number.real(), f.width, out, rounded);
    if (rounded) ++losses_[index].numbers_rounded;
  } else {
    ok = dbase::FormatFixed(number, f.width, f.decimals, out);
  }
  if (!ok && refuse_lossy_)
    throw TrundleError("the number " + ValueInLog(value) + " does not fit the field's " +
                       std::to_string(f.width) + " characters with " + std::to_string(f.decimals) +
                       " decimals");
  if (!ok) ++losses_[index].numbers_dropped;
}

void DBaseWriter::EncodeMemo(size_t index, const Variant& value, char* out) {
  const FieldLayout& f = header_.fields[visible_[index]];
  const bool binary = dbase::IsBinaryMemo(f, header_);
  const std::string shown = value.type() == VarType::kString || value.type() == VarType::kBlob
                                ? std::string()
                                : value.ToText();
  const std::string& source = shown.empty() ? value.text() : shown;
  if (binary || value.type() == VarType::kBlob)
    text_ = source;
  else
    ToCodePage(index, source, text_);
  if (text_.empty()) {
    if (f.width == 4) std::memset(out, 0, 4);
    return;  // no block: reads back as Null
  }
  const uint64_t block = memo_->Add(text_, binary);
  if (f.width == 4) {
    dbase::StoreInt32(out, static_cast<int32_t>(block));
    return;
  }
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, block);
  const size_t n = static_cast<size_t>(r.ptr - digits);
  std::memcpy(out + f.width - n, digits, n);
}

void DBaseWriter::EncodeFoxPro(size_t index, const Variant& value, char* record, char* out) {
  const FieldLayout& f = header_.fields[visible_[index]];
  bool ok = true;
  if (f.type == 'I') {
    const int64_t v = value.ToInteger();
    ok = v >= INT32_MIN && v <= INT32_MAX;
    dbase::StoreInt32(out, ok ? static_cast<int32_t>(v) : 0);
  } else if (f.type == 'Y') {
    dbase::StoreInt64(out, value.ToCurrency());
  } else if (f.type == 'T') {
    ok = dbase::FormatVfpDateTime(value.ToDateTime(), out);
    if (!ok) std::memset(out, 0, 8);
  } else {
    dbase::StoreDouble(out, value.ToDouble());
  }
  if (!ok && refuse_lossy_)
    throw TrundleError(std::string(f.type == 'T' ? "the date " : "the number ") +
                       ValueInLog(value) + " is out of the field's range");
  if (!ok) {
    ++(f.type == 'T' ? losses_[index].dates_dropped : losses_[index].numbers_dropped);
    SetNull(f, record);
  }
}

void DBaseWriter::Flush() {
  if (closed_) return;
  if (memo_) memo_->Flush();
  if (pending_ == 0) return;
  const uint64_t end = header_.DataEnd();
  records_ += dbase::kEndOfFile;
  file_.WriteAt(end, records_);
  records_.clear();
  header_.record_count += pending_;
  pending_ = 0;
  char head[7];
  dbase::PutHeaderDate(head);
  const uint32_t count = header_.record_count;
  for (int i = 0; i < 4; ++i) head[3 + i] = static_cast<char>(count >> (8 * i));
  file_.WriteAt(1, std::string_view(head, sizeof head));
}

void DBaseWriter::Close() {
  if (closed_) return;
  Flush();
  closed_ = true;
  // Bytes past the end mark (left by an earlier crash) would confuse some readers.
  if (file_.Size() > header_.DataEnd() + 1) file_.Truncate(header_.DataEnd() + 1);
  if (memo_) {
    memo_->Sync();
    memo_->Close();
  }
  file_.Sync();
  file_.Close();
}

std::string DBaseWriter::LossLine(size_t index) const {
  const Losses& l = losses_[index];
  const FieldLayout& f = header_.fields[visible_[index]];
  std::vector<std::string> causes;
  if (l.unholdable) {
    if (codec_->identity())
      causes.push_back(Count(l.unholdable, "value held", "values held") +
                       " bytes that are not valid UTF-8 (written as they were)");
    else
      causes.push_back(Count(l.unholdable, "value held", "values held") +
                       " characters that code page " + codec_->code_page() +
                       " cannot hold (written as ?)");
  }
  if (l.cut)
    causes.push_back(Count(l.cut, "value was", "values were") + " cut to fit its " +
                     std::to_string(f.width) + " characters");
  std::string shape(1, f.type);
  if (f.type == 'N' || f.type == 'F') {
    shape += '(';
    shape += std::to_string(f.width);
    shape += ',';
    shape += std::to_string(f.decimals);
    shape += ')';
  }
  if (l.numbers_dropped)
    causes.push_back(Count(l.numbers_dropped, "number", "numbers") + " did not fit " + shape +
                     " and " + (l.numbers_dropped == 1 ? "was" : "were") + " left empty");
  if (l.numbers_rounded)
    causes.push_back(Count(l.numbers_rounded, "number was", "numbers were") + " rounded to fit " +
                     shape);
  if (l.dates_dropped)
    causes.push_back(Count(l.dates_dropped, "date", "dates") + " outside the years 1 to 9999 " +
                     (l.dates_dropped == 1 ? "was" : "were") + " left empty");
  if (causes.empty()) return {};
  std::string line = "Field " + fields_[index].Name + ": " + causes[0];
  for (size_t i = 1; i < causes.size(); ++i) line += "; " + causes[i];
  return line;
}

std::vector<std::string> DBaseWriter::TakeNotes() {
  std::vector<std::string> notes;
  for (size_t i = 0; i < fields_.size(); ++i) {
    std::string line = LossLine(i);
    if (!line.empty()) notes.push_back(std::move(line));
  }
  return notes;
}

}  // namespace

std::unique_ptr<TableFileWriter> AppendToDBaseTable(const std::string& path,
                                                    const TableWriteOptions& options) {
  return std::make_unique<DBaseWriter>(path, options);
}

}  // namespace trundle

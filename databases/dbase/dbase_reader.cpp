// Reading a dBase table record by record: records come from a large buffer, text is
// decoded to UTF-8, memo values are fetched from the memo file as their records are read.

#include <algorithm>
#include <cstring>

#include "databases/dbase/dbase_file.h"
#include "databases/dbase/dbase_format.h"
#include "databases/dbase/dbase_values.h"
#include "databases/dbase/memo_file.h"
#include "engine/codepage.h"
#include "engine/errors.h"

namespace trundle {
namespace {

using dbase::FieldLayout;

constexpr size_t kBufferBytes = 1 << 20;

// Copies text to out with each byte that does not belong to a well-formed UTF-8 sequence
// replaced by '?'.
void ReplaceInvalidUtf8(std::string_view text, std::string& out) {
  size_t i = 0;
  while (i < text.size()) {
    size_t len = 1;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0xC2 && c <= 0xDF)
      len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
      len = 3;
    else if (c >= 0xF0 && c <= 0xF4)
      len = 4;
    else if (c >= 0x80)
      len = 0;
    if (len > 1 && (i + len > text.size() || !IsValidUtf8(text.substr(i, len)))) len = 0;
    if (len == 0) {
      out += '?';
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
}

class DBaseReader final : public TableFileReader {
 public:
  DBaseReader(const std::string& path, const TableReadOptions& options);

  const std::string& path() const override { return file_.path(); }
  const TFieldDefs& fields() const override { return fields_; }
  int64_t record_count() const override { return live_records_; }
  bool Next(std::vector<Variant>& values) override;
  void Rewind() override { next_record_ = 0; }
  std::vector<std::string> TakeNotes() override;

 private:
  void ChooseCodePage(const TableReadOptions& options);
  int64_t CountLiveRecords();
  void OpenMemo();
  void DecodeText(std::string_view bytes, std::string& out);
  const char* RecordBytes(uint64_t index);
  void ReadField(const FieldLayout& f, const char* record, Variant& value);
  void ReadMemo(const FieldLayout& f, std::string_view bytes, Variant& value);
  void ReadVariable(const FieldLayout& f, const char* record, std::string_view bytes,
                    Variant& value);
  bool BitSet(const char* record, int bit) const;
  [[noreturn]] void BadValue(const FieldLayout& f, std::string_view bytes, const char* what);

  RandomAccessFile file_;
  dbase::TableHeader header_;
  std::vector<size_t> visible_;  // header_.fields index of each dataset field
  TFieldDefs fields_;
  std::unique_ptr<dbase::MemoReader> memo_;
  std::unique_ptr<TextCodec> codec_;           // set when the code page is known
  std::unique_ptr<FallbackDecoder> fallback_;  // else this
  std::string buffer_;
  uint64_t buffer_first_ = 0;  // record index of buffer_[0]
  uint64_t buffer_count_ = 0;  // records in buffer_
  uint64_t next_record_ = 0;
  uint64_t current_record_ = 0;
  int64_t live_records_ = 0;  // the header's count less the records marked deleted
  int64_t bad_text_ = 0;
  std::string text_;  // scratch for decoded text
  std::string memo_bytes_;
};

DBaseReader::DBaseReader(const std::string& path, const TableReadOptions& options)
    : file_(path, RandomAccessFile::Mode::kRead), header_(dbase::ReadTableHeader(file_)) {
  ChooseCodePage(options);
  OpenMemo();
  for (size_t i = 0; i < header_.fields.size(); ++i) {
    const FieldLayout& f = header_.fields[i];
    if (f.hidden) continue;
    std::string name;
    DecodeText(f.raw_name, name);
    if (name.empty()) name = "FIELD" + std::to_string(i + 1);
    visible_.push_back(i);
    fields_.push_back(dbase::DatasetField(f, header_, std::move(name)));
  }
  bad_text_ = 0;  // names are not values; their '?' shows in the field list
  const uint64_t per_buffer = std::max<uint64_t>(1, kBufferBytes / header_.record_size);
  buffer_.resize(per_buffer * header_.record_size);
  live_records_ = CountLiveRecords();
}

// The header counts deleted records too, which are never delivered; a count that
// included them would be logged as read and leave the progress short of its end. One
// pass over the deletion marks, through the record buffer the first reads then reuse.
int64_t DBaseReader::CountLiveRecords() {
  int64_t live = 0;
  for (uint64_t index = 0; index < header_.record_count; index += buffer_count_) {
    const char* record = RecordBytes(index);
    for (uint64_t i = 0; i < buffer_count_; ++i, record += header_.record_size)
      if (record[0] != '*') ++live;
  }
  return live;
}

void DBaseReader::ChooseCodePage(const TableReadOptions& options) {
  std::string code_page = options.encoding;
  if (code_page.empty()) code_page = dbase::TableCodePage(path(), header_);
  if (code_page.empty())
    fallback_ = std::make_unique<FallbackDecoder>();
  else
    codec_ = TextCodec::ToUtf8From(code_page);
}

void DBaseReader::OpenMemo() {
  const std::string memo_path = dbase::MemoFilePath(path(), header_);
  if (memo_path.empty()) return;
  memo_ = std::make_unique<dbase::MemoReader>(
      RandomAccessFile(memo_path, RandomAccessFile::Mode::kRead), header_.memo_kind());
}

void DBaseReader::DecodeText(std::string_view bytes, std::string& out) {
  out.clear();
  // Plain ASCII reads the same in every code page a dBase file names.
  bool ascii = true;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) {
    out.assign(bytes);
    return;
  }
  if (codec_ && codec_->identity()) {
    if (IsValidUtf8(bytes))
      out.assign(bytes);
    else {
      ReplaceInvalidUtf8(bytes, out);
      ++bad_text_;
    }
  } else if (codec_) {
    if (!codec_->Convert(bytes, out)) ++bad_text_;
  } else {
    fallback_->Decode(bytes, out);
  }
}

const char* DBaseReader::RecordBytes(uint64_t index) {
  if (index < buffer_first_ || index >= buffer_first_ + buffer_count_) {
    const uint64_t size = header_.record_size;
    const uint64_t count = std::min<uint64_t>(buffer_.size() / size, header_.record_count - index);
    const size_t want = static_cast<size_t>(count * size);
    if (file_.ReadAt(header_.header_size + index * size, buffer_.data(), want) != want)
      throw TrundleError(dbase::Damaged(path(), "the file became shorter while it was read"));
    buffer_first_ = index;
    buffer_count_ = count;
  }
  return buffer_.data() + (index - buffer_first_) * header_.record_size;
}

bool DBaseReader::Next(std::vector<Variant>& values) {
  while (next_record_ < header_.record_count) {
    current_record_ = next_record_++;
    const char* record = RecordBytes(current_record_);
    if (record[0] == '*') continue;  // deleted
    values.resize(visible_.size());
    for (size_t i = 0; i < visible_.size(); ++i) {
      const FieldLayout& f = header_.fields[visible_[i]];
      if (f.null_bit >= 0 && BitSet(record, f.null_bit))
        values[i].SetNull();
      else
        ReadField(f, record, values[i]);
    }
    return true;
  }
  return false;
}

bool DBaseReader::BitSet(const char* record, int bit) const {
  const FieldLayout& flags = header_.fields[static_cast<size_t>(header_.null_flags_field)];
  return (static_cast<unsigned char>(record[flags.offset + bit / 8]) >> (bit % 8)) & 1;
}

void DBaseReader::ReadField(const FieldLayout& f, const char* record, Variant& value) {
  const char* p = record + f.offset;
  const std::string_view bytes(p, static_cast<size_t>(f.width));
  switch (f.type) {
    case 'C': {
      size_t n = bytes.size();
      while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == '\0')) --n;
      // A character field cannot tell an empty value from none: blank is Null, as an
      // empty Paradox field is.
      if (n == 0)
        value.SetNull();
      else if (f.flags & dbase::kFlagBinary)
        value.SetString(bytes.substr(0, n));
      else {
        DecodeText(bytes.substr(0, n), text_);
        value.SetString(text_);
      }
      return;
    }
    case 'N':
    case 'F': {
      // The same widths that make the field ftInteger or ftLargeint (DatasetField).
      if (!dbase::ParseNumber(bytes, f.decimals == 0 && f.width <= 20, value))
        BadValue(f, bytes, "which is not a number");
      return;
    }
    case 'L':
      if (!dbase::ParseLogical(p[0], value)) BadValue(f, bytes, "which is not a logical value");
      return;
    case 'D':
      if (!dbase::ParseDate(bytes, value)) BadValue(f, bytes, "which is not a date");
      return;
    case 'I':
      value.SetInteger(dbase::LoadInt32(p));
      return;
    case 'Y':
      value.SetCurrency(dbase::LoadInt64(p));
      return;
    case 'T':
      if (!dbase::ParseVfpDateTime(p, value)) BadValue(f, bytes, "which is not a date-time");
      return;
    case 'V':
    case 'Q':
      ReadVariable(f, record, bytes, value);
      return;
    case 'B':
      if (header_.IsVisualFoxPro()) {
        value.SetFloat(dbase::LoadDouble(p));
        return;
      }
      break;
    default:
      break;
  }
  if (dbase::IsMemoField(f, header_))
    ReadMemo(f, bytes, value);
  else {
    DecodeText(bytes, text_);
    value.SetString(text_);
  }
}

// Visual FoxPro Varchar/Varbinary: when the length bit is set, the last byte of the field
// gives the length of a shorter value.
void DBaseReader::ReadVariable(const FieldLayout& f, const char* record, std::string_view bytes,
                               Variant& value) {
  size_t n = bytes.size();
  if (f.varlen_bit >= 0 && BitSet(record, f.varlen_bit))
    n = std::min<size_t>(static_cast<unsigned char>(bytes.back()), bytes.size() - 1);
  if (f.type == 'Q') {
    value.SetBlob(bytes.substr(0, n));
    return;
  }
  if (f.varlen_bit < 0)
    while (n > 0 && bytes[n - 1] == ' ') --n;
  DecodeText(bytes.substr(0, n), text_);
  value.SetString(text_);
}

void DBaseReader::ReadMemo(const FieldLayout& f, std::string_view bytes, Variant& value) {
  uint64_t block = 0;
  if (!dbase::ParseMemoPointer(bytes, block)) BadValue(f, bytes, "which is not a memo pointer");
  if (block == 0) {
    value.SetNull();
    return;
  }
  memo_->Read(block, memo_bytes_);
  if (dbase::IsBinaryMemo(f, header_)) {
    value.SetBlob(memo_bytes_);
    return;
  }
  DecodeText(memo_bytes_, text_);
  value.SetString(text_);
}

void DBaseReader::BadValue(const FieldLayout& f, std::string_view bytes, const char* what) {
  std::string shown;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    shown += u >= 0x20 && u < 0x7F ? c : '?';
  }
  throw TrundleError(dbase::Damaged(path(), "record " + std::to_string(current_record_ + 1) +
                                                ", field " + f.raw_name + " holds '" + shown +
                                                "', " + what));
}

std::vector<std::string> DBaseReader::TakeNotes() {
  std::vector<std::string> notes;
  if (bad_text_ > 0)
    notes.push_back(path() + ": " + std::to_string(bad_text_) +
                    (bad_text_ == 1 ? " value held" : " values held") +
                    " text that is not valid in code page " + codec_->code_page() +
                    " (read with ?)");
  bad_text_ = 0;
  return notes;
}

}  // namespace

std::unique_ptr<TableFileReader> OpenDBaseTable(const std::string& path,
                                                const TableReadOptions& options) {
  return std::make_unique<DBaseReader>(path, options);
}

}  // namespace trundle

// Reads a comma- or tab-delimited text file record by record, streaming.
//
// The format: a record ends at CR, LF or CRLF; a field that starts with a quote runs to
// the quote that closes it, a doubled quote inside standing for one and line breaks
// inside belonging to the value; characters after the closing quote up to the delimiter
// are kept. A delimiter at the very end of a line adds no empty field ("a,b," is two
// fields; "," alone is one empty field; an empty line has none). Character 26 ends the
// file, and a UTF-8 byte-order mark at its start is skipped. A UTF-16 byte-order mark
// (either order) makes the whole file read as UTF-16, whatever code page was given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trundle {

class TextCodec;

class DelimitedReader {
 public:
  // Opens path. With a code page, the file's text is converted from it to UTF-8;
  // without one the bytes pass as they are. Throws TrundleError naming the file.
  DelimitedReader(const std::string& path, char delimiter, const std::string& code_page);
  ~DelimitedReader();
  DelimitedReader(const DelimitedReader&) = delete;
  DelimitedReader& operator=(const DelimitedReader&) = delete;

  // The fields of the next record; false when the file has no record left. The views
  // stay valid until the next call. Throws TrundleError on a read error.
  bool ReadRecord(std::vector<std::string_view>& fields);

  // Line number (from 1) where the last record read began.
  int64_t line() const { return record_line_; }
  // Once ReadRecord has returned false: how many bytes follow a character 26 that ended
  // the text (0 when none does, or nothing follows it), and the line it stands on.
  int64_t bytes_after_end_mark() const { return bytes_after_end_mark_; }
  int64_t end_mark_line() const { return end_mark_line_; }
  // Lines for the log about what was read imperfectly; each kind of problem once.
  std::vector<std::string> TakeNotes();

 private:
  enum class Parse { kDone, kNeedMore };
  Parse ParseRecord(std::vector<std::string_view>& fields);
  bool Refill();
  // Ends the text at the first character 26 at or after `from` in text (buf_, or raw_
  // for a file being converted).
  void CutAtEndMark(std::string& text, size_t from);
  // Converts what raw_ holds to the end of buf_, keeping in raw_ a character cut short
  // by the end of the chunk read so far.
  void ConvertRaw();
  bool AtLineEnd(size_t p) const;
  // Bytes from p up to the first delimiter, CR or LF (n when there is none).
  size_t FindFieldEnd(const char* p, size_t n) const;
  // Called at a character 26 that is `rest` bytes before the end of what was just read.
  void CountBytesAfterEndMark(size_t rest);

  std::string path_;
  char delimiter_;
  int fd_ = -1;
  bool pipe_ = false;        // a pipe, named pipe, socket or device: waited on with poll
  bool eof_ = false;
  std::string buf_;  // text to parse, UTF-8 when a code page is converted
  // A file in a code page is read and converted a chunk at a time, so memory stays flat
  // whatever the file's size: raw_ holds the bytes read and not yet converted.
  std::unique_ptr<TextCodec> codec_;
  std::string raw_;
  size_t pos_ = 0;
  std::string scratch_;  // values whose quotes were undoubled
  std::vector<std::pair<size_t, size_t>> scratch_ranges_;
  std::vector<int> field_in_scratch_;
  int64_t next_line_ = 1;
  int64_t record_line_ = 0;
  int64_t unclosed_quote_line_ = 0;
  bool check_end_mark_ = true;  // false for UTF-16, where byte 26 may be half a character
  std::string utf16_note_;      // said once: the file was read as UTF-16
  int64_t decode_failures_ = 0;
  int64_t file_offset_ = 0;  // bytes read from the file so far
  int64_t end_mark_offset_ = -1;
  int64_t bytes_after_end_mark_ = 0;
  int64_t end_mark_line_ = 0;
  std::string code_page_;
};

}  // namespace trundle

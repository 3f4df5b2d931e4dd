#include "textfiles/delimited_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/codepage.h"
#include "engine/errors.h"
#include "engine/interrupt.h"

namespace trundle {
namespace {

constexpr size_t kChunk = 4 << 20;
constexpr char kEndOfFile = 26;

}  // namespace

DelimitedReader::DelimitedReader(const std::string& path, char delimiter,
                                 const std::string& code_page)
    : path_(path), delimiter_(delimiter), code_page_(code_page) {
  // O_NONBLOCK: a named pipe opens at once, writer or none; its reads then wait in poll,
  // where a stop request can end them.
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    const int error = errno;
    throw TrundleError("Could not open " + path + ": " + std::strerror(error));
  }
  struct stat st {};
  pipe_ = fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode);
  if (!pipe_) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  // The first chunk is looked at for a UTF-16 byte order mark before anything in it is
  // taken for the end-of-text character 26, which may be half of a UTF-16 character.
  check_end_mark_ = false;
  Refill();
  std::string file_code_page = code_page;
  size_t mark = 0;
  if (buf_.compare(0, 2, "\xFF\xFE") == 0) file_code_page = "UTF-16LE", mark = 2;
  if (buf_.compare(0, 2, "\xFE\xFF") == 0) file_code_page = "UTF-16BE", mark = 2;
  if (mark) {
    utf16_note_ = path + " is UTF-16 text (" +
                  (file_code_page == "UTF-16LE" ? "little-endian" : "big-endian") +
                  ", as its byte order mark says) and is read as such";
  } else {
    check_end_mark_ = true;
    CutAtEndMark(buf_, 0);
  }
  if (mark || (!file_code_page.empty() && !IsUtf8Name(file_code_page))) {
    // From here on chunks are read into raw_ and converted into buf_; a multi-byte
    // character cut at a chunk's end waits in raw_ for the rest of it.
    codec_ = TextCodec::ToUtf8From(file_code_page);
    raw_.assign(buf_, mark, std::string::npos);
    buf_.clear();
    ConvertRaw();
  }
  if (buf_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

DelimitedReader::~DelimitedReader() {
  if (fd_ >= 0) close(fd_);
}

bool DelimitedReader::Refill() {
  if (eof_) return false;
  if (pos_ > 0) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  std::string& into = codec_ ? raw_ : buf_;
  const size_t old = into.size();
  into.resize(old + kChunk);
  ssize_t n;
  for (;;) {
    // A named pipe with no writer yet polls as not ready (Linux waits for the first
    // writer), so the end of its data is not taken for an empty file.
    if (pipe_) WaitForDescriptor(fd_, POLLIN);
    n = read(fd_, into.data() + old, kChunk);
    if (n >= 0 || (errno != EINTR && errno != EAGAIN)) break;
  }
  if (n < 0) {
    const int error = errno;
    into.resize(old);
    throw TrundleError("Could not read " + path_ + ": " + std::strerror(error));
  }
  into.resize(old + static_cast<size_t>(n));
  file_offset_ += n;
  if (n == 0) eof_ = true;
  if (check_end_mark_) CutAtEndMark(into, old);
  if (codec_) ConvertRaw();
  return n > 0;
}

void DelimitedReader::ConvertRaw() {
  size_t used = 0;
  if (!codec_->ConvertPiece(raw_, eof_, buf_, used)) ++decode_failures_;
  raw_.erase(0, used);
}

void DelimitedReader::CutAtEndMark(std::string& text, size_t from) {
  // Character 26 ends the file: nothing from it on is read.
  const void* stop = std::memchr(text.data() + from, kEndOfFile, text.size() - from);
  if (!stop) return;
  const size_t at = static_cast<size_t>(static_cast<const char*>(stop) - text.data());
  CountBytesAfterEndMark(text.size() - at);
  text.resize(at);
  eof_ = true;
}

void DelimitedReader::CountBytesAfterEndMark(size_t rest) {
  end_mark_offset_ = file_offset_ - static_cast<int64_t>(rest);
  bytes_after_end_mark_ = static_cast<int64_t>(rest) - 1;
  // What a regular file holds beyond this chunk; a pipe is not read on for a count.
  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > end_mark_offset_)
    bytes_after_end_mark_ = st.st_size - end_mark_offset_ - 1;
}

bool DelimitedReader::AtLineEnd(size_t p) const { return buf_[p] == '\r' || buf_[p] == '\n'; }

bool DelimitedReader::ReadRecord(std::vector<std::string_view>& fields) {
  for (;;) {
    if (pos_ >= buf_.size() && !Refill() && pos_ >= buf_.size()) {
      // The text ends on the line where the last record stopped.
      if (end_mark_offset_ >= 0) end_mark_line_ = next_line_;
      return false;
    }
    if (ParseRecord(fields) == Parse::kDone) return true;
    // Half a record is in the buffer: read on. Once the file has ended, ParseRecord
    // always completes the record.
    Refill();
  }
}

DelimitedReader::Parse DelimitedReader::ParseRecord(std::vector<std::string_view>& fields) {
  const bool last = eof_;  // nothing more will come after buf_
  const size_t end = buf_.size();
  const char* b = buf_.data();
  fields.clear();
  scratch_.clear();
  scratch_ranges_.clear();
  field_in_scratch_.clear();
  bool any_in_scratch = false;
  size_t p = pos_;
  int64_t lines = 0;
  bool unclosed = false;
  // Consumes a line end at q; false when more bytes are needed to know its length.
  auto eat_line_end = [&](size_t& q) {
    if (b[q] == '\r') {
      if (q + 1 == end && !last) return false;
      q += (q + 1 < end && b[q + 1] == '\n') ? 2 : 1;
    } else {
      ++q;
    }
    ++lines;
    return true;
  };
  for (;;) {
    if (p == end) {
      if (!last) return Parse::kNeedMore;
      break;  // the last line needs no line end
    }
    if (AtLineEnd(p)) {
      if (!eat_line_end(p)) return Parse::kNeedMore;
      break;
    }
    if (b[p] == '"') {
      // A quoted value. It is taken from the buffer as it stands unless it holds doubled
      // quotes or characters after its closing quote; then it is collected in scratch_.
      const size_t start = ++p;
      size_t seg = start;
      const size_t scratch_start = scratch_.size();
      bool copied = false;  // the value is in scratch_
      bool closed = false;
      for (;;) {
        const void* q = std::memchr(b + p, '"', end - p);
        if (!q) {
          if (!last) return Parse::kNeedMore;
          if (copied) scratch_.append(b + seg, end - seg);
          p = end;
          unclosed = true;
          break;
        }
        p = static_cast<size_t>(static_cast<const char*>(q) - b);
        if (p + 1 == end && !last) return Parse::kNeedMore;
        if (p + 1 < end && b[p + 1] == '"') {
          scratch_.append(b + seg, p + 1 - seg);  // up to and including one quote
          copied = true;
          p += 2;
          seg = p;
          continue;
        }
        if (copied) scratch_.append(b + seg, p - seg);
        ++p;
        closed = true;
        break;
      }
      const size_t value_end = closed ? p - 1 : p;
      if (closed) {
        // Characters after the closing quote, up to the delimiter, belong to the value.
        const size_t rest = p;
        p += FindFieldEnd(b + p, end - p);
        if (p == end && !last) return Parse::kNeedMore;
        if (p > rest) {
          if (!copied) scratch_.append(b + start, value_end - start);
          copied = true;
          scratch_.append(b + rest, p - rest);
        }
      }
      // Line breaks inside the value count as lines of the file.
      for (const char* n = b + start;
           (n = static_cast<const char*>(std::memchr(n, '\n', b + value_end - n))) != nullptr; ++n)
        ++lines;
      if (copied) {
        any_in_scratch = true;
        field_in_scratch_.resize(fields.size(), -1);
        field_in_scratch_.push_back(static_cast<int>(scratch_ranges_.size()));
        scratch_ranges_.emplace_back(scratch_start, scratch_.size() - scratch_start);
        fields.emplace_back();
      } else {
        fields.emplace_back(b + start, value_end - start);
      }
    } else {
      const size_t start = p;
      p += FindFieldEnd(b + p, end - p);
      if (p == end && !last) return Parse::kNeedMore;
      fields.emplace_back(b + start, p - start);
    }
    if (p == end) break;
    if (b[p] == delimiter_) {
      ++p;
      continue;
    }
    if (!eat_line_end(p)) return Parse::kNeedMore;
    break;
  }
  if (any_in_scratch)
    for (size_t i = 0; i < field_in_scratch_.size(); ++i)
      if (field_in_scratch_[i] >= 0) {
        const auto& r = scratch_ranges_[field_in_scratch_[i]];
        fields[i] = std::string_view(scratch_.data() + r.first, r.second);
      }
  record_line_ = next_line_;
  next_line_ += lines;
  if (unclosed && !unclosed_quote_line_) unclosed_quote_line_ = record_line_;
  pos_ = p;
  return Parse::kDone;
}

size_t DelimitedReader::FindFieldEnd(const char* p, size_t n) const {
  // Eight bytes at a time: a byte of the word equals c exactly where (w ^ c*ones) has a
  // zero byte, and the lowest zero byte is the lowest set bit of the classic test.
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const uint64_t delim = kOnes * static_cast<unsigned char>(delimiter_);
  const uint64_t cr = kOnes * static_cast<unsigned char>('\r');
  const uint64_t lf = kOnes * static_cast<unsigned char>('\n');
  const auto zero_bytes = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    const uint64_t hits = zero_bytes(w ^ delim) | zero_bytes(w ^ cr) | zero_bytes(w ^ lf);
    if (hits) return i + static_cast<size_t>(__builtin_ctzll(hits) >> 3);
  }
  while (i < n && p[i] != delimiter_ && p[i] != '\r' && p[i] != '\n') ++i;
  return i;
}

std::vector<std::string> DelimitedReader::TakeNotes() {
  std::vector<std::string> notes;
  if (!utf16_note_.empty()) notes.push_back(std::move(utf16_note_));
  utf16_note_.clear();
  if (unclosed_quote_line_)
    notes.push_back(path_ + " line " + std::to_string(unclosed_quote_line_) +
                    ": a quoted value has no closing quote; it runs to the end of the file");
  if (bytes_after_end_mark_ > 0)
    notes.push_back(path_ + " line " + std::to_string(end_mark_line_) +
                    ": character 26 ends the text; the " + std::to_string(bytes_after_end_mark_) +
                    (bytes_after_end_mark_ == 1 ? " byte after it was" : " bytes after it were") +
                    " not read");
  if (decode_failures_)
    notes.push_back(path_ + ": some characters are not valid in code page " + code_page_ +
                    " and were read as ?");
  unclosed_quote_line_ = 0;
  decode_failures_ = 0;
  return notes;
}

}  // namespace trundle

#include "textfiles/delimited_writer.h"

#include <cstdint>
#include <cstring>

#include "engine/codepage.h"

namespace trundle {
namespace {

// Lines are gathered into pieces of this size before they go on, so that the file and
// the code-page conversion see few large writes.
constexpr size_t kPieceSize = 1 << 16;

}  // namespace

DelimitedWriter::DelimitedWriter(std::unique_ptr<FileSink> file, char delimiter,
                                 const std::string& code_page)
    : file_(std::move(file)), out_(file_.get()), delimiter_(delimiter) {
  if (!code_page.empty() && !IsUtf8Name(code_page)) {
    encoder_ = std::make_unique<EncodingSink>(*file_, code_page);
    out_ = encoder_.get();
  }
  piece_.resize(kPieceSize + 4096);
}

DelimitedWriter::~DelimitedWriter() = default;

void DelimitedWriter::Reserve(size_t bytes) {
  if (used_ + bytes <= piece_.size()) return;
  Drain();
  if (bytes > piece_.size()) piece_.resize(bytes + kPieceSize);
}

void DelimitedWriter::Drain() {
  out_->Write(std::string_view(piece_.data(), used_));
  used_ = 0;
}

void DelimitedWriter::Field(std::string_view text) {
  // At worst every character a quote, doubled; then the delimiter and two quotes.
  Reserve(2 * text.size() + 3);
  char* p = piece_.data() + used_;
  if (line_started_) *p++ = delimiter_;
  line_started_ = true;
  *p++ = '"';
  // Eight bytes at a time while they hold no quote (a byte equal to '"' is a zero byte of
  // w ^ quotes), then byte by byte; a quote inside a value is doubled.
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kQuotes = kOnes * '"';
  const char* in = text.data();
  const char* const end = in + text.size();
  while (end - in >= 8) {
    uint64_t w;
    std::memcpy(&w, in, 8);
    const uint64_t x = w ^ kQuotes;
    if ((x - kOnes) & ~x & kHigh) break;
    std::memcpy(p, &w, 8);
    p += 8;
    in += 8;
  }
  for (; in < end; ++in) {
    *p++ = *in;
    if (*in == '"') *p++ = '"';
  }
  *p++ = '"';
  used_ = static_cast<size_t>(p - piece_.data());
}

void DelimitedWriter::EndLine() {
  Reserve(2);
  piece_[used_++] = '\r';
  piece_[used_++] = '\n';
  line_started_ = false;
  if (used_ >= kPieceSize) Drain();
}

int64_t DelimitedWriter::Commit() {
  Drain();
  int64_t failures = 0;
  if (encoder_) {
    encoder_->Finish();
    failures = encoder_->failures();
  }
  file_->Commit();
  return failures;
}

}  // namespace trundle

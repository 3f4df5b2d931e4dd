#include "textfiles/delimited_writer.h"

#include <cstring>

#include "engine/codepage.h"

namespace trundle {
namespace {

// Lines are gathered into pieces of this size before they go on, so that the file and
// the code-page conversion see few large writes.
constexpr size_t kPieceSize = 1 << 16;

}  // namespace

void AppendQuoted(std::string_view text, std::string& out) {
  out += '"';
  const char* p = text.data();
  const char* end = p + text.size();
  while (const void* q = std::memchr(p, '"', static_cast<size_t>(end - p))) {
    const char* quote = static_cast<const char*>(q);
    out.append(p, static_cast<size_t>(quote - p) + 1);
    out += '"';
    p = quote + 1;
  }
  out.append(p, static_cast<size_t>(end - p));
  out += '"';
}

DelimitedWriter::DelimitedWriter(std::unique_ptr<FileSink> file, char delimiter,
                                 const std::string& code_page)
    : file_(std::move(file)), out_(file_.get()), delimiter_(delimiter) {
  if (!code_page.empty() && !IsUtf8Name(code_page)) {
    encoder_ = std::make_unique<EncodingSink>(*file_, code_page);
    out_ = encoder_.get();
  }
  line_.reserve(kPieceSize + 4096);
}

DelimitedWriter::~DelimitedWriter() = default;

void DelimitedWriter::Field(std::string_view text) {
  if (line_started_) line_ += delimiter_;
  line_started_ = true;
  AppendQuoted(text, line_);
}

void DelimitedWriter::EndLine() {
  line_ += "\r\n";
  line_started_ = false;
  if (line_.size() >= kPieceSize) {
    out_->Write(line_);
    line_.clear();
  }
}

int64_t DelimitedWriter::Commit() {
  out_->Write(line_);
  line_.clear();
  int64_t failures = 0;
  if (encoder_) {
    encoder_->Finish();
    failures = encoder_->failures();
  }
  file_->Commit();
  return failures;
}

}  // namespace trundle

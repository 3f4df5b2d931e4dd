// Writing a whole output file so that a failure never leaves it half-written: the text
// goes to a temporary file in the same folder, is flushed to disk, and only then takes
// the old file's name. On failure the old file stays as it was and the temporary file
// is removed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/codepage.h"
#include "textfiles/qor_tables.h"

namespace trundle {

class AtomicFileSink : public OutputSink {
 public:
  // Creates the temporary file. Throws TrundleError naming the file and the cause.
  explicit AtomicFileSink(std::string path);
  // Without Commit, the temporary file is removed and the old file left alone.
  ~AtomicFileSink() override;

  // Throws TrundleError ("Could not write /x/out.csv: No space left on device").
  void Write(std::string_view bytes) override;
  // Flushes, syncs and renames over the destination. Throws as Write does.
  void Commit();

 private:
  void Flush();
  void WriteAll(std::string_view bytes);
  [[noreturn]] void Fail(const char* what, int error);

  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
  std::string buffer_;
};

// Converts UTF-8 text to a code page on its way to another sink, and counts the
// characters that the code page cannot hold (written as '?').
class EncodingSink : public OutputSink {
 public:
  // Borrows target for its own lifetime. Throws TrundleError for an unknown code page.
  EncodingSink(OutputSink& target, const std::string& code_page);
  void Write(std::string_view bytes) override;
  // Converts what is held back (a character cut between two writes).
  void Finish();
  int64_t failures() const { return failures_; }

 private:
  OutputSink& target_;
  std::unique_ptr<TextCodec> codec_;
  std::string pending_;
  std::string converted_;
  int64_t failures_ = 0;
};

}  // namespace trundle

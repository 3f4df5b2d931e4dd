// Writes delimited text line by line to an output file, as the records arrive: every
// field between quotes with a quote inside doubled, fields separated by the delimiter,
// every line ending in CR LF, and the text converted from UTF-8 to a code page on its
// way when one is named.
//
//   DelimitedWriter out(OpenOutputFile("/data/out.csv"), ',', "");
//   out.Field("NAME"); out.Field("QTY"); out.EndLine();
//   out.Commit();
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "textfiles/file_output.h"

namespace trundle {

class DelimitedWriter {
 public:
  // Takes the file over. Throws TrundleError for a code page iconv does not know.
  DelimitedWriter(std::unique_ptr<FileSink> file, char delimiter, const std::string& code_page);
  ~DelimitedWriter();
  DelimitedWriter(const DelimitedWriter&) = delete;
  DelimitedWriter& operator=(const DelimitedWriter&) = delete;

  // Adds one field to the line being built.
  void Field(std::string_view text);
  // Ends the line; what is gathered goes to the file now and then.
  void EndLine();
  // Writes what is left and commits the file (a regular file takes its name only now).
  // Returns how many characters the code page could not hold (written as '?'). Throws
  // TrundleError naming the file and the cause. Without Commit, a regular file is left
  // as it was.
  int64_t Commit();

 private:
  // Makes room for bytes more in piece_, passing what it holds on when it is full.
  void Reserve(size_t bytes);
  void Drain();

  std::unique_ptr<FileSink> file_;
  std::unique_ptr<EncodingSink> encoder_;  // null when the text stays UTF-8
  OutputSink* out_;
  char delimiter_;
  bool line_started_ = false;
  // Lines gathered for the next write: the first used_ bytes of piece_, whose size is
  // its capacity (written through a pointer, not appended to, for speed).
  std::string piece_;
  size_t used_ = 0;
};

}  // namespace trundle

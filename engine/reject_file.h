// The file of the records a run set aside: comma-delimited UTF-8 text that the same run
// can load again once the records are mended.
//
//   Record,Name,Born,Reason
//   17,Smith,1961-02-30,"field Born: the date '1961-02-30' is not a date"
//
// Record is the record's number in the source (1 for the first), then come its values
// as the source gave them, under the source's field names, and the reason last.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "engine/trundle_unknown.h"

namespace trundle {

class RejectFile {
 public:
  // Nothing is created until the first Add: a run that sets nothing aside leaves no file.
  explicit RejectFile(std::string path);
  ~RejectFile();
  RejectFile(const RejectFile&) = delete;
  RejectFile& operator=(const RejectFile&) = delete;

  // Appends one record set aside; the first also creates (or empties) the file and
  // writes the header from its names. Each line reaches the file before Add returns, so
  // a run that fails later still leaves every record it set aside. Throws TrundleError
  // naming the file when it cannot be created or written.
  void Add(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
           const std::string& reason);

  const std::string& path() const { return path_; }
  int64_t count() const { return count_; }

 private:
  void WriteLine(const std::string& line);

  std::string path_;
  int64_t count_ = 0;  // records added
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

// One comma-delimited field: as it is, or between double quotes (inner ones doubled)
// when it holds a comma, a quote, a line break, or leading or trailing spaces.
std::string CsvField(const std::string& text);

}  // namespace trundle

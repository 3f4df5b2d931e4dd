#include "engine/reject_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "engine/errors.h"

namespace trundle {

RejectFile::RejectFile(std::string path) : path_(std::move(path)) {}

RejectFile::~RejectFile() = default;

std::string CsvField(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

void RejectFile::WriteLine(const std::string& line) {
  if (std::fwrite(line.data(), 1, line.size(), file_.get()) != line.size() ||
      std::fflush(file_.get()) != 0)
    throw TrundleError("Could not write the records set aside to " + path_ + ": " +
                       std::strerror(errno));
}

void RejectFile::Add(int64_t number, const TRecordBuffer& names, const TRecordBuffer& values,
                     const std::string& reason) {
  size_t fields = 0;
  while (fields < names.size() && !names[fields].IsUnassigned()) ++fields;
  if (!file_) {
    file_.reset(std::fopen(path_.c_str(), "wb"));
    if (!file_)
      throw TrundleError("Could not create " + path_ +
                         " for the records set aside: " + std::strerror(errno));
    std::string header = "Record";
    for (size_t i = 0; i < fields; ++i) {
      header += ',';
      header += CsvField(names[i].ToText());
    }
    header += ",Reason\r\n";
    WriteLine(header);
  }
  std::string line = std::to_string(number);
  for (size_t i = 0; i < fields; ++i) {
    line += ',';
    if (i < values.size() && !values[i].IsEmpty()) line += CsvField(values[i].ToText());
  }
  line += ',';
  line += CsvField(reason);
  line += "\r\n";
  WriteLine(line);
  ++count_;
}

}  // namespace trundle

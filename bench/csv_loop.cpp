// The yardstick for CSV to CSV: a plain loop that parses comma-delimited text (quoted
// fields, doubled quotes, line breaks inside quotes) record by record and writes each
// record out again, quoting a field that needs it. No types, no code pages, no checks:
// what trundle-cli's CSV to CSV run is measured against. Built and run by csv_bench.sh:
//   csv_loop IN.csv OUT.csv
#include <cstdio>
#include <string>
#include <vector>

namespace {

void WriteField(const std::string& field, std::string& out) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: csv_loop IN.csv OUT.csv\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!in || !out) {
    std::perror("csv_loop");
    return 1;
  }
  std::vector<char> chunk(1 << 20);
  std::vector<std::string> fields(1);
  std::string line;
  bool quoted = false, after_quote = false;
  long records = 0;

  auto end_record = [&] {
    line.clear();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) line += ',';
      WriteField(fields[i], line);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    fields.assign(1, std::string());
    ++records;
  };

  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      char c = chunk[i];
      if (quoted) {
        if (c == '"') {
          quoted = false;
          after_quote = true;
        } else {
          fields.back() += c;
        }
        continue;
      }
      if (c == '"') {
        if (after_quote) fields.back() += '"';  // a doubled quote
        quoted = true;
        after_quote = false;
        continue;
      }
      after_quote = false;
      if (c == ',') {
        fields.emplace_back();
      } else if (c == '\n') {
        end_record();
      } else if (c != '\r') {
        fields.back() += c;
      }
    }
  }
  if (fields.size() > 1 || !fields[0].empty()) end_record();
  std::fclose(in);
  if (std::fclose(out) != 0) {
    std::perror("csv_loop");
    return 1;
  }
  std::fprintf(stderr, "%ld records\n", records);
  return 0;
}

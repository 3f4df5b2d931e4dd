// jet_export DATABASE [TABLE]: writes a table of an Access database to standard output as
// comma-separated text with a header line (text quoted, blobs in hex), or lists the user
// tables when no table is named. With TRUNDLE_BENCH_TIMES set, prints the rows and the CPU
// seconds to standard error.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "engine/errors.h"

namespace {

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void AppendQuoted(const std::string& text, std::string& out) {
  out.push_back('"');
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendValue(const trundle::Variant& v, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  switch (v.type()) {
    case trundle::VarType::kString:
      AppendQuoted(v.text(), out);
      break;
    case trundle::VarType::kBlob:
      for (unsigned char c : v.text()) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      break;
    default:
      v.AppendText(out);
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: jet_export DATABASE [TABLE]\n");
    return 2;
  }
  try {
    auto db = trundle::jet::JetDatabase::Open(argv[1]);
    if (argc < 3) {
      for (const std::string& t : db->UserTables()) std::printf("%s\n", t.c_str());
      return 0;
    }
    auto reader = db->OpenAnyTable(argv[2]);
    std::string out;
    for (size_t i = 0; i < reader->fields().size(); ++i) {
      if (i) out.push_back(',');
      AppendQuoted(reader->fields()[i].Name, out);
    }
    out.push_back('\n');
    std::vector<trundle::Variant> row;
    long rows = 0;
    while (reader->Next(row)) {
      ++rows;
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) out.push_back(',');
        AppendValue(row[i], out);
      }
      out.push_back('\n');
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    for (const std::string& note : reader->TakeNotes()) std::fprintf(stderr, "%s\n", note.c_str());
    if (std::getenv("TRUNDLE_BENCH_TIMES"))
      std::fprintf(stderr, "rows %ld cpu %.3f\n", rows, CpuSeconds());
  } catch (const trundle::TrundleError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

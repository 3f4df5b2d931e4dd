// libFuzzer target for the Jet table writer, run by hand:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     bench/access/jet_append_fuzz.cpp databases/access/jet/*.cpp databases/file_io.cpp \
//     engine/field_types.cpp engine/variant.cpp engine/datetime.cpp engine/codepage.cpp \
//     engine/locale_format.cpp engine/locale_text.cpp -o /tmp/jet_append_fuzz
//   mkdir -p /tmp/jet_corpus && cp tests/data/access/*.mdb /tmp/jet_corpus/
//   /tmp/jet_append_fuzz -max_total_time=600 -max_len=300000 /tmp/jet_corpus
// An input is a whole database file. Every user table is opened for appending and given
// a few rows (a long Memo among them), committed; the file is then read again. Each step
// must end in success or a TrundleError: never a crash, a hang or a read outside a buffer.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_writer.h"
#include "engine/errors.h"

namespace {

void AppendEverywhere(const std::string& path) {
  auto store = trundle::jet::PageStore::Open(path);
  auto db = trundle::jet::JetDatabase::Open(path);
  for (const std::string& table : db->UserTables()) {
    try {
      auto writer = trundle::jet::TableWriter::Open(*store, *db, table);
      for (int i = 0; i < 3; ++i) {
        std::vector<trundle::Variant> row(writer->def().columns.size());
        for (size_t c = 0; c < row.size(); ++c)
          row[c].SetString(i == 2 ? std::string(5000, 'x') : std::to_string(i + 1));
        try {
          writer->Append(row);
        } catch (const trundle::TrundleError&) {
          // a value the column cannot take
        }
      }
      writer->Commit();
    } catch (const trundle::TrundleError&) {
      store->Rollback();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/jet_append_fuzz_" + std::to_string(getpid()) + ".mdb";
  std::remove((path + "-journal").c_str());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    AppendEverywhere(path);
    auto db = trundle::jet::JetDatabase::Open(path);
    std::vector<trundle::Variant> values;
    for (const std::string& table : db->UserTables()) {
      try {
        auto reader = db->OpenTable(table);
        for (int n = 0; n < 100000 && reader->Next(values); ++n) {
        }
      } catch (const trundle::TrundleError&) {
      }
    }
  } catch (const trundle::TrundleError&) {
  }
  return 0;
}

// libFuzzer target for the Jet reader, run by hand:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     bench/access/jet_fuzz.cpp databases/access/jet/*.cpp engine/field_types.cpp \
//     engine/variant.cpp engine/datetime.cpp engine/codepage.cpp -o /tmp/jet_fuzz
//   mkdir -p /tmp/jet_corpus && cp tests/data/access/*.mdb /tmp/jet_corpus/
//   /tmp/jet_fuzz -max_total_time=600 -max_len=300000 /tmp/jet_corpus
// An input is a whole database file. Every input must end with values or a TrundleError.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "engine/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/jet_fuzz_" + std::to_string(getpid()) + ".mdb";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    auto db = trundle::jet::JetDatabase::Open(path);
    db->CheckPassword("x");
    for (const std::string& table : db->AllTables()) {
      try {
        db->Columns(table);
        auto reader = db->OpenAnyTable(table);
        std::vector<trundle::Variant> row;
        while (reader->Next(row)) {
        }
        reader->TakeNotes();
      } catch (const trundle::TrundleError&) {
      }
    }
  } catch (const trundle::TrundleError&) {
  }
  return 0;
}

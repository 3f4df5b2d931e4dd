// libFuzzer target for the Jet verifier, run by hand:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     bench/access/jet_verify_fuzz.cpp databases/access/jet/*.cpp databases/file_io.cpp \
//     engine/field_types.cpp engine/variant.cpp engine/datetime.cpp engine/codepage.cpp \
//     engine/locale_format.cpp engine/locale_text.cpp -o /tmp/jet_verify_fuzz
//   mkdir -p /tmp/jet_corpus && cp tests/data/access/*.mdb /tmp/jet_corpus/
//   /tmp/jet_verify_fuzz -max_total_time=600 -max_len=300000 /tmp/jet_corpus
// An input is a whole database file. Every input must end in a report, never a crash, a
// hang or an exception; and a database the verifier calls sound must read whole.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/jet_verify_fuzz_" + std::to_string(getpid()) + ".mdb";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  const trundle::jet::JetVerifyReport report = trundle::jet::VerifyJetDatabase(path);
  (void)report.Text();
  if (!report.sound()) return 0;
  try {
    auto db = trundle::jet::JetDatabase::Open(path);
    for (const std::string& table : db->AllTables()) {
      auto reader = db->OpenAnyTable(table);
      std::vector<trundle::Variant> row;
      while (reader->Next(row)) {
      }
    }
  } catch (const trundle::TrundleError& e) {
    std::fprintf(stderr, "sound by the verifier, but the reader says: %s\n", e.what());
    std::abort();
  }
  return 0;
}

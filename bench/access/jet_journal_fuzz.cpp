// libFuzzer target for the page store's journal, run by hand:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     -DFIXTURE=\"$PWD/tests/data/access/delTestV2000.mdb\" bench/access/jet_journal_fuzz.cpp \
//     databases/access/jet/*.cpp databases/file_io.cpp engine/*.cpp -o /tmp/journal_fuzz
//   /tmp/journal_fuzz -max_total_time=600 -max_len=40000 /tmp/journal_corpus
// An input is a journal found beside a copy of the fixture. A reader opening the database
// and a writer recovering it must each end in a database or a TrundleError: no crash, no
// read outside a buffer, and never a journal that names pages past the database's old end
// applied to it. Seed the corpus with journals of batches stopped by FailAfterWrites(0).

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "engine/errors.h"

namespace {

void Put(const std::string& path, const char* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void ReadAllTables(const std::string& path) {
  auto db = trundle::jet::JetDatabase::Open(path);
  for (const std::string& table : db->AllTables()) {
    try {
      auto reader = db->OpenAnyTable(table);
      std::vector<trundle::Variant> row;
      while (reader->Next(row)) {
      }
    } catch (const trundle::TrundleError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string fixture = [] {
    std::ifstream in(FIXTURE, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }();
  static const std::string path = "/dev/shm/journal_fuzz_" + std::to_string(getpid()) + ".mdb";
  Put(path, fixture.data(), fixture.size());
  Put(path + "-journal", reinterpret_cast<const char*>(data), size);
  try {
    ReadAllTables(path);
  } catch (const trundle::TrundleError&) {
  }
  try {
    trundle::jet::PageStore::Open(path).reset();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (uint64_t(in.tellg()) > fixture.size()) __builtin_trap();  // grew by recovery
    ReadAllTables(path);
  } catch (const trundle::TrundleError&) {
  }
  std::remove((path + "-journal").c_str());
  return 0;
}

// libFuzzer target for the dBase reader, run by hand:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     bench/dbase/dbase_fuzz.cpp databases/dbase/*.cpp databases/field_types.cpp \
//     engine/variant.cpp engine/datetime.cpp engine/codepage.cpp -o /tmp/dbase_fuzz
//   /tmp/dbase_fuzz -max_total_time=600 CORPUS_DIR
// An input is a table followed by its memo file; the table's first two bytes after
// a 0xFF marker give the table's length. Every input must end with values or a
// TrundleError.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "databases/dbase/dbase_file.h"
#include "engine/errors.h"

namespace {

void Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = "/dev/shm/dbase_fuzz_" + std::to_string(getpid());
  static const bool made = (std::system(("mkdir -p " + dir).c_str()), true);
  (void)made;
  size_t table_size = size;
  if (size >= 3) table_size = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const uint8_t* table = size >= 3 ? data + 2 : data;
  Write(dir + "/t.dbf", table, table_size);
  const size_t used = (size >= 3 ? 2 : 0) + table_size;
  Write(dir + "/t.dbt", data + used, size - used);
  Write(dir + "/t.fpt", data + used, size - used);
  try {
    auto reader = trundle::OpenDBaseTable(dir + "/t.dbf", {"CP1252"});
    std::vector<trundle::Variant> row;
    while (reader->Next(row)) {
    }
    reader->TakeNotes();
  } catch (const trundle::TrundleError&) {
  }
  return 0;
}

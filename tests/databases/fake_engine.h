// A table-file engine for the tests of the dataset layer: ".fake" files whose records
// live in memory, keyed by the file's canonical path. The file on disk only has to exist,
// so that the name resolution finds it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "databases/core/table_engine.h"

namespace trundle::testing {

struct FakeTable {
  TFieldDefs fields;
  std::vector<std::vector<Variant>> records;
  // When set, the table has generated_rows records made by generate instead of records.
  std::function<void(int64_t row, std::vector<Variant>& values)> generate;
  int64_t generated_rows = 0;
  int64_t header_count = -1;       // what record_count() claims; -1: the true count
  int64_t fail_at = -1;            // reading this record (0-based) throws
  std::vector<std::string> notes;  // what every reader's TakeNotes gives
  // Readers of the table alive now. A writer refuses to append while any is, as a real
  // engine's reader would read a stale header and records half written.
  mutable int open_readers = 0;
};

// Registers the engine "fake" for ".fake". Safe to call more than once.
void RegisterFakeEngine();
// Creates the file at path (an empty file) and stores its table.
void PutFakeTable(const std::string& path, FakeTable table);
// The table stored for path, appended records included. REQUIRES: PutFakeTable(path).
const FakeTable& GetFakeTable(const std::string& path);
// How many readers the engine has opened since the program started.
int FakeReadersOpened();

}  // namespace trundle::testing

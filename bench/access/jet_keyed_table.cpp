// Adds an empty table "Keyed" to an Access database for keyed_bench.sh: "id", a Long
// primary key, a second (plain, unique) index on it, and "data", a Text(50).
//   jet_keyed_table DB.mdb
#include <cstdio>
#include <exception>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_creator.h"

int main(int argc, char** argv) {
  using namespace trundle::jet;
  if (argc != 2) {
    std::fprintf(stderr, "usage: jet_keyed_table DB.mdb\n");
    return 2;
  }
  try {
    auto store = PageStore::Open(argv[1]);
    auto db = JetDatabase::Open(argv[1]);
    CreateTable(*store, *db, "Keyed", {{"id", kLong}, {"data", kText, 50}},
                {{"PrimaryKey", {0}, true, true}, {"id", {0}, false, true}});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

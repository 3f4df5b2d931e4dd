#include <gtest/gtest.h>

#include "databases/paradox/paradox_file.h"

namespace trundle {
namespace {

TEST(ParadoxRead, Smoke) {
  auto r = OpenParadoxTable(std::string(TRUNDLE_FIXTURES) + "/paradox/AccessZone.db", {});
  std::vector<Variant> row;
  while (r->Next(row)) {
    for (auto& v : row) printf("%s|", v.ToText().c_str());
    printf("\n");
  }
}

}  // namespace
}  // namespace trundle

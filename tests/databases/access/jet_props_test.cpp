// Column properties read from the catalogue's LvProp values: the fixtures' Required and
// AllowZeroLength as mdb-prop shows them, a list made here with values the fixtures lack,
// and damaged lists.

#include "databases/access/jet/jet_props.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "databases/access/jet/jet_database.h"
#include "tests/databases/access/jet_test_util.h"

namespace trundle {
namespace {

using namespace jet;

// column -> "Required=yes" / "AllowZeroLength=no" lines, as mdb-prop prints them.
std::map<std::string, std::vector<std::string>> MdbProp(const std::string& file,
                                                        const std::string& table) {
  std::map<std::string, std::vector<std::string>> out;
  int status = 0;
  std::istringstream in(jet_test::Run("timeout 20 mdb-prop " + jet_test::Quote(file) + " " +
                                          jet_test::Quote(table) + " 2>/dev/null",
                                      &status));
  std::string line, column;
  while (std::getline(in, line)) {
    if (line.rfind("name: ", 0) == 0) {
      column = line.substr(6);
      continue;
    }
    for (const char* prop : {"Required", "AllowZeroLength"}) {
      const std::string head = std::string("\t") + prop + ": ";
      if (line.rfind(head, 0) == 0 && column != "(none)")
        out[column].push_back(std::string(prop) + "=" + line.substr(head.size()));
    }
  }
  return out;
}

TEST(JetProps, FixturesReadAsMdbPropShowsThem) {
  int columns_with_props = 0, allowing = 0, refusing = 0;
  for (const std::string& name : jet_test::FixtureNames()) {
    auto db = JetDatabase::Open(jet_test::Fixture(name));
    for (const std::string& table : db->UserTables()) {
      const auto theirs = MdbProp(jet_test::Fixture(name), table);
      for (const JetColumn& c : db->Columns(table)) {
        auto it = theirs.find(c.name);
        if (it == theirs.end()) continue;
        ++columns_with_props;
        for (const std::string& p : it->second) {
          if (p.rfind("Required=", 0) == 0)
            EXPECT_EQ(p, std::string("Required=") + (c.required ? "yes" : "no"))
                << name << " " << table << "." << c.name;
          else
            EXPECT_EQ(p, std::string("AllowZeroLength=") + (c.allow_zero_length ? "yes" : "no"))
                << name << " " << table << "." << c.name;
          if (p == "AllowZeroLength=yes") ++allowing;
          if (p == "AllowZeroLength=no") ++refusing;
        }
      }
    }
  }
  // Both kinds occur, in Jet 3 and Jet 4 fixtures, so the comparison means something.
  EXPECT_GT(columns_with_props, 50);
  EXPECT_GT(allowing, 10);
  EXPECT_GE(refusing, 4);
}

// A Jet 4 list: the names chunk, the table's block, and one block for each column.
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

std::string Le(uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
  return out;
}

std::string Entry(uint8_t type, int name, const std::string& value) {
  return Le(uint32_t(8 + value.size()), 2) + char(0) + char(type) + Le(uint32_t(name), 2) +
         Le(uint32_t(value.size()), 2) + value;
}

std::string Chunk(int type, const std::string& body) {
  return Le(uint32_t(6 + body.size()), 4) + Le(uint32_t(type), 2) + body;
}

std::string Block(const std::string& column, const std::string& entries) {
  const std::string name = Utf16(column);
  return Le(uint32_t(6 + name.size()), 4) + Le(uint32_t(name.size()), 2) + name + entries;
}

std::string MakeList() {
  std::string names;
  for (const char* n : {"Format", "Required", "AllowZeroLength"})
    names += Le(uint32_t(Utf16(n).size()), 2) + Utf16(n);
  return std::string("MR2\0", 4) + Chunk(0x80, names) +
         Chunk(0, Block("", Entry(1, 1, std::string(1, '\xFF')))) +  // the table's own
         Chunk(1, Block("Code", Entry(10, 0, Utf16(">")) + Entry(1, 1, std::string(1, '\xFF')) +
                                    Entry(1, 2, std::string(1, '\0')))) +
         Chunk(1, Block("Memo", Entry(1, 2, std::string(1, '\1')))) +
         Chunk(1, Block("Other", Entry(1, 0, std::string(1, '\1'))));
}

TEST(JetProps, RequiredAndAllowZeroLengthAreReadAndAppliedByName) {
  std::vector<ColumnProperties> props;
  ASSERT_TRUE(ParseColumnProperties(MakeList(), false, nullptr, props));
  ASSERT_EQ(props.size(), 3u);
  EXPECT_EQ(props[0].column, "Code");
  EXPECT_TRUE(props[0].has_required && props[0].required);
  EXPECT_TRUE(props[0].has_allow_zero_length && !props[0].allow_zero_length);
  EXPECT_FALSE(props[1].has_required);
  EXPECT_TRUE(props[1].allow_zero_length);
  EXPECT_FALSE(props[2].has_required || props[2].has_allow_zero_length);

  TableDef def;
  for (const char* n : {"CODE", "Memo", "Other"}) {
    ColumnDef c;
    c.column.name = n;
    def.columns.push_back(c);
  }
  ApplyColumnProperties(props, def);
  EXPECT_TRUE(def.columns[0].column.required);  // letter case ignored
  EXPECT_FALSE(def.columns[0].column.allow_zero_length);
  EXPECT_FALSE(def.columns[1].column.required);
  EXPECT_TRUE(def.columns[1].column.allow_zero_length);
  EXPECT_TRUE(def.columns[2].column.allow_zero_length);  // no property: the default
}

TEST(JetProps, DamagedListsStopWithoutReadingPastTheirEnd) {
  const std::string list = MakeList();
  std::vector<ColumnProperties> props;
  // Every cut, and every byte set to 0xFF in turn: never a read outside, never a hang.
  for (size_t n = 0; n < list.size(); ++n) {
    const bool ok = ParseColumnProperties(std::string_view(list).substr(0, n), false, nullptr,
                                          props);
    if (n > 0) {
      EXPECT_FALSE(ok && props.size() == 3) << n;
    }
  }
  for (size_t i = 0; i < list.size(); ++i) {
    std::string bad = list;
    bad[i] = '\xFF';
    ParseColumnProperties(bad, false, nullptr, props);
  }
  EXPECT_FALSE(ParseColumnProperties("KKD", false, nullptr, props));
  EXPECT_FALSE(ParseColumnProperties(std::string("KKD\0", 4), false, nullptr, props));
}

}  // namespace
}  // namespace trundle

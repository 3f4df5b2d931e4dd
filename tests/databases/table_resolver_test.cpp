// SQL over the tables of a database: a resolver that knows names inside one database
// (as a database adaptor supplies it) in place of table files in a folder.
#include "databases/sql/table_resolver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "databases/sql/sql_query.h"
#include "databases/core/table_engine.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "fake_engine.h"

namespace trundle {
namespace {

namespace fs = std::filesystem;
using testing::FakeTable;

// Tables of one database: stored names with spaces and mixed case, found in any letter
// case, each read through the fake engine's reader of a file the test made.
class FakeDatabase : public TableResolver {
 public:
  std::optional<FileTableSource> Resolve(const std::string& name,
                                         std::string* looked_for) const override {
    for (const auto& [stored, path] : tables) {
      if (!EqualsIgnoringAsciiCase(stored, name)) continue;
      return FileTableSource{stored + " in shop",
                             [path = path] { return EngineByName("fake")->open(path, {}); }};
    }
    if (looked_for) *looked_for = "no table " + name + " in shop";
    return std::nullopt;
  }

  std::map<std::string, std::string> tables;  // stored name -> fake table file
};

class TableResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RegisterFakeEngine();
    folder_ = fs::path(::testing::TempDir()) / ("resolver_" + std::to_string(getpid()));
    fs::create_directories(folder_);
    FakeTable customers;
    customers.fields = {{"ID", ftInteger}, {"Last Name", ftString, 30}, {"City", ftString, 20}};
    const char* rows[][2] = {{"Berg", "Oslo"}, {"Aas", "Oslo"}, {"Dahl", "Bergen"}, {"Lie", ""}};
    for (int i = 0; i < 4; ++i)
      customers.records.push_back(
          {Variant::Integer(i + 1), Variant::String(rows[i][0]), Variant::String(rows[i][1])});
    customers.records.push_back({Variant::Integer(5), Variant::String("Moe"), Variant::Null()});
    FakeTable orders;
    orders.fields = {{"Cust ID", ftInteger}, {"Amount", ftCurrency}};
    for (auto [cust, amount] : {std::pair{1, 105000}, {2, 20000}, {1, 5}, {3, 70000}, {9, 1}})
      orders.records.push_back({Variant::Integer(cust), Variant::Currency(amount)});
    Put("Customer List", customers);
    Put("Orders", orders);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Put(const std::string& name, const FakeTable& table) {
    const std::string path =
        (folder_ / (std::to_string(database_->tables.size()) + ".fake")).string();
    testing::PutFakeTable(path, table);
    database_->tables[name] = path;
  }

  std::vector<std::string> Rows(const std::string& sql) {
    SqlQuery query(sql, database_);
    std::vector<std::string> rows;
    for (; !query.AtEnd(); query.Next()) {
      std::string row;
      for (size_t i = 0; i < query.row().size(); ++i) {
        if (i) row += '|';
        row += query.row()[i].ToText();
      }
      rows.push_back(row);
    }
    return rows;
  }

  fs::path folder_;
  std::shared_ptr<FakeDatabase> database_ = std::make_shared<FakeDatabase>();
};

TEST_F(TableResolverTest, StatementsOverDatabaseTablesRunUnchanged) {
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      {"select [Last Name], City from [Customer List] where City = 'Oslo' order by 1",
       {"Aas|Oslo", "Berg|Oslo"}},
      {"select count(*) from [CUSTOMER LIST] where City is null", {"1"}},
      {"select \"last name\" from `customer list` where id > 3 order by id desc", {"Moe", "Lie"}},
      {"select c.City, count(*), sum(o.Amount) from [Customer List] c "
       "join orders o on o.[Cust ID] = c.ID group by c.City order by 1",
       {"Bergen|1|7", "Oslo|3|12.5005"}},
      {"select count(*) from Orders a join ORDERS b on a.[Cust ID] = b.[Cust ID]", {"7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Rows(c.sql), c.rows);
  }
}

TEST_F(TableResolverTest, MissingTablesSayWhereTheyWereLookedFor) {
  for (const char* sql : {"select * from [Customers]", "select * from orders join Customers"}) {
    try {
      Rows(sql);
      ADD_FAILURE() << sql << " ran";
    } catch (const TrundleError& e) {
      EXPECT_STREQ(e.what(), "no such table: Customers (no table Customers in shop)") << sql;
    }
  }
  // A table file beside the process is no table of the database.
  EXPECT_THROW(Rows("select * from \"" + (folder_ / "0.fake").string() + "\""), TrundleError);
}

}  // namespace
}  // namespace trundle

// The kinds' declarations: each reachable by its names and extensions, none claiming
// another's, every one the build declares made by a registered adaptor.
#include "front/kinds.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>

#include "engine/adaptor_registry.h"
#include "front/job_description.h"
#include "front/register_adaptors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

TEST(KindsTest, EveryKindIsReachableAndNothingIsClaimedTwice) {
  RegisterAllAdaptors();
  std::set<std::string> names, extensions;
  int previous = dkUnknown;
  for (const KindDeclaration& k : Kinds()) {
    SCOPED_TRACE(k.name);
    EXPECT_GT(k.kind, previous) << "kinds in the order of their ordinals";
    previous = k.kind;
    EXPECT_TRUE(names.insert(k.name).second);
    for (const std::string& alias : k.aliases) EXPECT_TRUE(names.insert(alias).second);
    EXPECT_EQ(KindOfName(k.name), k.kind);
    EXPECT_FALSE(k.title.empty());
    for (const std::string& e : k.extensions) {
      EXPECT_TRUE(extensions.insert(e).second) << e;
      EXPECT_EQ(KindOfLocation("/some/where" + e), k.kind) << e;
    }
    EXPECT_TRUE(k.make && IsAdaptorRegistered(k.kind));
    EXPECT_EQ(k.make()->GetKind(), k.kind);
    EXPECT_TRUE(k.Can(kaRead) || k.Can(kaWrite));
    EXPECT_EQ(k.Can(kaHoldsTables), static_cast<bool>(k.list_tables));
    EXPECT_FALSE(k.Can(kaHoldsTables) && k.Can(kaOneFile));
    EXPECT_EQ(k.Reads(true, koSql) && !k.Can(kaRead), false);
    EXPECT_EQ(IsFileKind(k.kind), k.Can(kaOneFile));
    EXPECT_EQ(KindTitle(k.kind), k.title);
  }
  EXPECT_EQ(Kinds().size(), static_cast<size_t>(kDataKindCount - 1));
  EXPECT_EQ(FindKind(dkUnknown), nullptr);
}

// A .db file is Paradox's unless it starts as a SQLite database; a new one is Paradox's,
// and a FIFO so named is not opened to be looked into (it would wait for a writer).
TEST(KindsTest, ADotDbFileIsToldByItsFirstBytes) {
  ScratchFolder dir;
  WriteFile(dir / "a.db", std::string("SQLite format 3\0", 16) + std::string(84, '\0'));
  EXPECT_EQ(KindOfLocation(dir / "a.db"), dkSqlite);
  WriteFile(dir / "b.db", std::string("SQLite format 2\0", 16) + std::string(84, '\0'));
  EXPECT_EQ(KindOfLocation(dir / "b.db"), dkParadox);
  EXPECT_EQ(KindOfLocation(dir / "new.db"), dkParadox);
  ASSERT_EQ(mkfifo((dir / "pipe.db").c_str(), 0600), 0);
  EXPECT_EQ(KindOfLocation(dir / "pipe.db"), dkParadox);
  EXPECT_EQ(KindOfLocation("DSN=books;UID=ann"), dkOracle);
  EXPECT_EQ(KindOfName("ODBC"), dkOracle);
}

}  // namespace
}  // namespace trundle

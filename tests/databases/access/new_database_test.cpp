// New empty Access databases: readable by us, by our verifier and by mdbtools; written
// whole where nothing is, never over a file.
#include "databases/access/new_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "access_test_util.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"

namespace trundle {
namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string CreateError(const std::string& path) {
  try {
    CreateAccessDatabase(path);
  } catch (const TrundleError& e) {
    return e.what();
  }
  return "";
}

TEST(NewAccessDatabaseTest, AnEmptyJet4DatabaseThatEveryReaderAccepts) {
  ScratchFolder dir;
  const std::string path = dir / "new.mdb";
  ASSERT_EQ(CreateError(path), "");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"new.mdb"});
  const std::unique_ptr<jet::JetDatabase> db = jet::JetDatabase::Open(path);
  EXPECT_EQ(db->version(), jet::JetVersion::kJet4);
  EXPECT_FALSE(db->has_password());
  EXPECT_TRUE(db->UserTables().empty());
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(path);
  EXPECT_TRUE(report.sound()) << report.Text();
  EXPECT_EQ(
      testing::CommandOutput("timeout 20 mdb-tables -1 " + testing::ShellWord(path) + " 2>&1"), "");
}

TEST(NewAccessDatabaseTest, AnExistingFileOrAMissingFolderIsRefusedAndNothingIsLeft) {
  ScratchFolder dir;
  WriteFile(dir / "taken.mdb", "someone's data");
  EXPECT_EQ(CreateError(dir / "taken.mdb"),
            "Could not create the database " + dir / "taken.mdb" + ": the file exists already");
  EXPECT_EQ(ReadFile(dir / "taken.mdb"), "someone's data");
  // A dangling symbolic link is a name taken, too: writing through it could land anywhere.
  std::filesystem::create_symlink(dir / "elsewhere.mdb", dir / "link.mdb");
  EXPECT_NE(CreateError(dir / "link.mdb").find("exists already"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere.mdb"));
  // A journal of an earlier database of the name would be put back into the new one.
  WriteFile(dir / "gone.mdb-journal", "old pages");
  EXPECT_EQ(CreateError(dir / "gone.mdb"),
            "Could not create the database " + dir / "gone.mdb" + ": " + dir / "gone.mdb-journal" +
                " lies beside it, left by a run on an earlier database of that name; move it "
                "away or delete it first");
  const std::string missing = CreateError(dir / "no/such/folder.mdb");
  EXPECT_NE(missing.find(dir / "no/such/folder.mdb"), std::string::npos) << missing;
  EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;
  EXPECT_EQ(FolderEntries(dir.path()),
            (std::vector<std::string>{"gone.mdb-journal", "link.mdb", "taken.mdb"}));
}

// A database made and left as it was goes again; one that has a table, is another file
// by now, has a journal waiting or cannot be read stays as it is.
TEST(NewAccessDatabaseTest, OnlyTheFileMadeGoesAgainAndOnlyWithoutTables) {
  ScratchFolder dir;
  const std::string path = dir / "new.mdb";
  const NewDatabaseFile made = CreateAccessDatabase(path);
  EXPECT_EQ(made.path, path);
  EXPECT_TRUE(RemoveIfNoTables(made));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{});
  EXPECT_FALSE(RemoveIfNoTables(made));  // gone already

  // Another file under the name, even another new database, is not the one made.
  const NewDatabaseFile first = CreateAccessDatabase(path);
  std::filesystem::rename(path, dir / "moved.mdb");
  const NewDatabaseFile second = CreateAccessDatabase(path);
  EXPECT_FALSE(RemoveIfNoTables(first));
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"moved.mdb", "new.mdb"}));
  std::filesystem::remove(dir / "moved.mdb");

  // The same file, with a table in it now (written in place: the inode stays).
  WriteFile(path, ReadFile(testing::AccessFixture("delTestV2000.mdb")));
  EXPECT_FALSE(RemoveIfNoTables(second));
  EXPECT_EQ(ReadFile(path), ReadFile(testing::AccessFixture("delTestV2000.mdb")));

  // Emptied again, but with a batch's journal beside it, or unreadable.
  WriteFile(path, std::string(EmptyAccessDatabase()));
  WriteFile(path + "-journal", "journal");
  EXPECT_FALSE(RemoveIfNoTables(second));
  std::filesystem::remove(path + "-journal");
  WriteFile(path, "not a database");
  EXPECT_FALSE(RemoveIfNoTables(second));
  EXPECT_EQ(ReadFile(path), "not a database");
  WriteFile(path, std::string(EmptyAccessDatabase()));
  EXPECT_TRUE(RemoveIfNoTables(second));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace trundle

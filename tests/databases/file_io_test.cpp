#include "databases/core/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/errors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using Mode = RandomAccessFile::Mode;

// The message opening throws, "" when it opens.
std::string OpenError(const std::string& path, Mode mode) {
  try {
    RandomAccessFile file(path, mode);
  } catch (const TrundleError& e) {
    return e.what();
  }
  return "";
}

// What cannot be opened is refused at once with the path and the cause; a named pipe is
// refused without waiting for a writer (reading one would block the run for good).
TEST(FileIoTest, OpeningRefusesWhatIsNoTableFile) {
  ScratchFolder dir;
  WriteFile(dir / "t.dbf", "abc");
  ASSERT_EQ(mkfifo((dir / "pipe.dbf").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.dbf");
  const std::string t = dir / "t.dbf", pipe = dir / "pipe.dbf", folder = dir / "folder.dbf";
  const std::string missing = dir / "missing.dbf";
  struct Case {
    std::string path;
    Mode mode;
    std::string error;
  } cases[] = {
      {t, Mode::kRead, ""},
      {t, Mode::kReadWrite, ""},
      {t, Mode::kCreateNew, "Could not create " + t + ": the file already exists"},
      {missing, Mode::kRead, "Could not open " + missing + ": No such file or directory"},
      {missing, Mode::kReadWrite, "Could not open " + missing + ": No such file or directory"},
      {pipe, Mode::kRead, "Could not open " + pipe + ": it is not a regular file"},
      {pipe, Mode::kReadWrite, "Could not open " + pipe + ": it is not a regular file"},
      {pipe, Mode::kCreateNew, "Could not create " + pipe + ": the file already exists"},
      {folder, Mode::kRead, "Could not open " + folder + ": it is a folder"},
      {folder, Mode::kReadWrite, "Could not open " + folder + ": it is a folder"},
      {dir / "no/such/folder.db", Mode::kCreateNew,
       "Could not create " + dir / "no/such/folder.db" + ": No such file or directory"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OpenError(c.path, c.mode), c.error) << c.path << " " << static_cast<int>(c.mode);
  EXPECT_EQ(ReadFile(t), "abc");  // none of it changed the file
}

TEST(FileIoTest, PositionedReadsAndWrites) {
  ScratchFolder dir;
  const std::string path = dir / "t.db";
  RandomAccessFile file(path, Mode::kCreateNew);
  EXPECT_EQ(file.Size(), 0u);
  file.WriteAt(4, "tail");
  file.WriteAt(0, "he", 2);
  EXPECT_EQ(file.Size(), 8u);
  char buf[16] = {};
  EXPECT_EQ(file.ReadAt(0, buf, sizeof buf), 8u);  // fewer only at the end
  EXPECT_EQ(std::string(buf, 8), std::string("he\0\0tail", 8));
  EXPECT_EQ(file.ReadAt(100, buf, 4), 0u);

  file.ReadExactAt(4, buf, 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  try {
    file.ReadExactAt(6, buf, 4);
    ADD_FAILURE() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_EQ(e.what(), path + " is damaged: it ends at byte 8, before the 4 bytes at offset 6");
  }

  file.Truncate(3);
  file.Sync();
  EXPECT_EQ(file.Size(), 3u);
  RandomAccessFile moved = std::move(file);
  EXPECT_FALSE(file.is_open());
  moved.Close();
  moved.Close();  // a second Close does nothing
  EXPECT_EQ(ReadFile(path), std::string("he\0", 3));

  RandomAccessFile read_only(path, Mode::kRead);
  EXPECT_THROW(
      {
        try {
          read_only.WriteAt(0, "x");
        } catch (const TrundleError& e) {
          EXPECT_EQ(e.what(), "Could not write to " + path + ": Bad file descriptor");
          throw;
        }
      },
      TrundleError);
}

// Tables copied from other systems come with their companion files in any letter case.
TEST(FileIoTest, CompanionFilesAreFoundInAnyLetterCase) {
  struct Case {
    const char* table;
    const char* extension;
    const char* sibling;
  } cases[] = {
      {"dir/t.dbf", ".dbt", "dir/t.dbt"},
      {"dir/T.DBF", ".dbt", "dir/T.DBT"},
      {"T.Dbf", ".dbt", "T.dbt"},
      {"dir.d/t", ".mb", "dir.d/t.mb"},
      {"t.DB", ".mb", "t.MB"},
      {"/a/b.c.db", ".px", "/a/b.c.px"},
  };
  for (const Case& c : cases) EXPECT_EQ(SiblingPath(c.table, c.extension), c.sibling) << c.table;

  ScratchFolder dir;
  WriteFile(dir / "cust.db", "");
  WriteFile(dir / "CUST.MB", "");
  WriteFile(dir / "orders.DBF", "");
  WriteFile(dir / "orders.dbt", "");
  WriteFile(dir / "orders.DBT", "");
  EXPECT_EQ(FindSibling(dir / "cust.db", ".mb"), dir / "CUST.MB");
  EXPECT_EQ(FindSibling(dir / "orders.DBF", ".dbt"), dir / "orders.DBT");  // the exact one first
  EXPECT_EQ(FindSibling(dir / "cust.db", ".px"), "");
  EXPECT_TRUE(PathExists(dir / "orders.dbt"));
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  EXPECT_TRUE(PathExists(dir / "dangling"));
  EXPECT_FALSE(PathExists(dir / "nothing"));
}

}  // namespace
}  // namespace trundle

// What the log shows of long values, names and lines, and why a table file is missing.
#include "engine/log_text.h"

#include <gtest/gtest.h>

#include "engine/trundle.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

TEST(LogTextTest, LongValuesAreCutAtACharacterWithTheirLength) {
  EXPECT_EQ(ShownInLog("Name"), "Name");
  const std::string limit(kLogValueLimit, 'n');
  EXPECT_EQ(ShownInLog(limit), limit);
  EXPECT_EQ(ShownInLog(limit + "xyz"), limit + "... (203 characters)");
  // Two bytes a character: 150 of them fit although they take 300 bytes, 250 do not,
  // and the cut falls between two characters.
  std::string two_byte;
  for (int i = 0; i < 150; ++i) two_byte += "é";
  EXPECT_EQ(ShownInLog(two_byte), two_byte);
  two_byte += two_byte.substr(0, 200);
  const std::string shown = ShownInLog(two_byte);
  EXPECT_EQ(shown, two_byte.substr(0, 400) + "... (250 characters)");
}

TEST(LogTextTest, LongLinesKeepTheirBeginningAndEnd) {
  const std::string short_line(kLogLineLimit, 'a');
  EXPECT_EQ(ShortenedLogLine(short_line), short_line);
  const std::string line = "no such column: " + std::string(1 << 20, 'x') + " in the end";
  const std::string shown = ShortenedLogLine(line);
  EXPECT_LT(shown.size(), kLogLineLimit + 50);
  EXPECT_EQ(shown.substr(0, 20), "no such column: xxxx");
  EXPECT_EQ(shown.substr(shown.size() - 11), " in the end");
  EXPECT_NE(shown.find("... (" + std::to_string(line.size() - kLogLineLimit * 4 / 5) +
                       " characters left out) ..."),
            std::string::npos);

  // The job shortens every line the adaptors send through it.
  TTrundle job;
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.RelayMessage(line);
  job.RelayMessage("short");
  EXPECT_EQ(log, (std::vector<std::string>{shown, "short"}));
}

TEST(LogTextTest, WhyNoTableIsThere) {
  ScratchFolder dir;
  EXPECT_EQ(NoTableCause(dir / "t.csv"), dir / "t.csv: no such file");
  EXPECT_EQ(NoTableCause(dir.path()), dir.path() + " is a folder, not a file");
  WriteFile(dir / "t.csv", "");
  EXPECT_EQ(NoTableCause(dir / "t.csv"), "");
  EXPECT_EQ(NoTableCause(dir / "t.csv/x"), dir / "t.csv/x: Not a directory");
  // A destination not there yet is no failure; anything else keeps its reason.
  EXPECT_EQ(NewDestinationNote(dir / "new.csv"), dir / "new.csv does not exist yet: it is created");
  EXPECT_EQ(NewDestinationNote(dir.path()), dir.path() + " is a folder, not a file");
  EXPECT_EQ(NewDestinationNote(dir / "t.csv/x"), dir / "t.csv/x: Not a directory");
}

}  // namespace
}  // namespace trundle

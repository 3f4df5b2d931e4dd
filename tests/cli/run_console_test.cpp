// The log and the progress bar sharing one screen, and what --quiet keeps.
#include "cli/run_console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace trundle {
namespace {

using std::chrono::milliseconds;

RunSpeed::Clock::time_point At(int64_t ms) { return RunSpeed::Clock::time_point(milliseconds(ms)); }

// The bar at `percent`, 24 columns wide.
std::string Bar(int percent) {
  char share[16];
  std::snprintf(share, sizeof share, "%3d%%", percent);
  const size_t filled = static_cast<size_t>(percent * 24 / 100);
  return "\r[" + std::string(filled, '#') + std::string(24 - filled, ' ') + "] " + share;
}

// One stream standing for a terminal that shows both standard output and standard error.
class Screen {
 public:
  Screen() : file_(open_memstream(&buffer_, &size_)) {}
  ~Screen() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

TEST(RunConsoleTest, LogLinesNeverContinueTheBarsLine) {
  Screen screen;
  RunConsole console(screen.file(), screen.file(), false);
  console.Message("Moving data");
  console.Progress(50, 0, 0, At(0));
  console.Progress(50, 0, 0, At(1));  // unchanged: not drawn again
  console.Progress(100, 0, 0, At(2));
  console.Message("2 records moved");
  console.Message("\r\nCompleted: x");
  console.CloseBar();
  EXPECT_EQ(screen.text(),
            "Moving data\n" + Bar(50) + Bar(100) + "\n2 records moved\n\nCompleted: x\n");

  // A line in the middle of a run: the bar starts again below it.
  Screen again;
  RunConsole middle(again.file(), again.file(), false);
  middle.Progress(40, 0, 0, At(0));
  middle.Message("a note");
  middle.Progress(40, 0, 0, At(1));
  middle.CloseBar();
  EXPECT_EQ(again.text(), Bar(40) + "\na note\n" + Bar(40) + "\n");
}

// The pace beside the bar, drawn again a few times a second and not at every record; a
// source without a count gets the records read instead of a bar that stays empty; a
// shorter line covers a longer one; the totals close the run.
TEST(RunConsoleTest, TheBarShowsThePaceAndTheTimeLeft) {
  Screen screen;
  RunConsole console(screen.file(), screen.file(), false);
  // 1000 records a second of 4000, a progress event at every record.
  for (int64_t records = 0; records <= 1000; ++records)
    console.Progress(static_cast<int>(records * 100 / 4000), records, 4000, At(records));
  console.CloseBar();
  const std::string text = screen.text();
  const std::string last = text.substr(text.rfind('\r'));
  EXPECT_EQ(last, Bar(25) + "  1000 records per second, 00:00:03 left\n");
  // Drawn for each share reached and each due refresh, far fewer than 1000 times.
  EXPECT_LE(std::count(text.begin(), text.end(), '\r'), 26 + 1000 / 250) << text;

  Screen uncounted;
  RunConsole count(uncounted.file(), uncounted.file(), false);
  int64_t records = 0;
  for (int64_t ms = 0; ms <= 1500; ms += 5) count.Progress(0, records = ms * 2, 0, At(ms));
  // Then nothing comes for twelve seconds: the pace falls to nothing.
  for (int64_t ms = 1500; ms <= 13500; ms += 50) count.Progress(0, records, 0, At(ms));
  count.Progress(100, records, 0, At(13501));
  count.Totals(2999, 3000, 1.6);
  const std::string counted = uncounted.text();
  EXPECT_NE(counted.find("\r3000 records  2000 records per second"), std::string::npos) << counted;
  EXPECT_NE(counted.find("\r3000 records  0.0 records per second"), std::string::npos) << counted;
  std::vector<std::string> lines;
  for (size_t at = counted.find('\r'); at != std::string::npos; at = counted.find('\r', at + 1))
    lines.push_back(counted.substr(at + 1, counted.find_first_of("\r\n", at + 1) - at - 1));
  for (size_t i = 1; i < lines.size(); ++i)
    EXPECT_GE(lines[i].size(), lines[i - 1].find_last_not_of(' ') + 1) << lines[i];
  EXPECT_EQ(lines.back().substr(0, Bar(100).size() - 1), Bar(100).substr(1));
  EXPECT_EQ(counted.substr(counted.rfind('\n', counted.size() - 2)),
            "\n2999 records moved in 00:00:01, 1875 records per second\n");
}

TEST(RunConsoleTest, QuietShowsNothingButKeepsWhyNothingMoved) {
  Screen screen;
  RunConsole console(screen.file(), nullptr, true);
  for (const char* line :
       {"Commenced: 06 Dec 2026 14:00:00", "Moving data from a.csv to b.csv\r\n", "Reading table",
        "Table doesn't exist or is empty", "a.csv: no such file",
        "\r\nCompleted: 06 Dec 2026 14:00:00", "Elapsed time: 00:00:00"})
    console.Message(line);
  console.Progress(100, 0, 0, At(0));
  EXPECT_EQ(screen.text(), "");
  EXPECT_EQ(console.WhyNothingMoved(),
            "Reading table\nTable doesn't exist or is empty\na.csv: no such file\n");

  RunConsole loud(screen.file(), nullptr, false);
  loud.Message("Reading table");
  EXPECT_EQ(loud.WhyNothingMoved(), "");
  EXPECT_EQ(AsLines("Range check error\r\nt.csv line 2\rx"),
            "Range check error\nt.csv line 2\nx\n");
}

}  // namespace
}  // namespace trundle

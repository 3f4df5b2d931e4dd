// The log and the progress bar sharing one screen, and what --quiet keeps.
#include "cli/run_console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace trundle {
namespace {

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
  console.Progress(50);
  console.Progress(50);  // unchanged: not drawn again
  console.Progress(100);
  console.Message("2 records moved");
  console.Message("\r\nCompleted: x");
  console.CloseBar();
  const std::string bar50 = "\r[" + std::string(20, '#') + std::string(20, ' ') + "]  50%";
  const std::string bar100 = "\r[" + std::string(40, '#') + "] 100%";
  EXPECT_EQ(screen.text(),
            "Moving data\n" + bar50 + bar100 + "\n2 records moved\n\nCompleted: x\n");

  // A line in the middle of a run: the bar starts again below it.
  Screen again;
  RunConsole middle(again.file(), again.file(), false);
  middle.Progress(40);
  middle.Message("a note");
  middle.Progress(40);
  middle.CloseBar();
  const std::string bar40 = "\r[" + std::string(16, '#') + std::string(24, ' ') + "]  40%";
  EXPECT_EQ(again.text(), bar40 + "\na note\n" + bar40 + "\n");
}

TEST(RunConsoleTest, QuietShowsNothingButKeepsWhyNothingMoved) {
  Screen screen;
  RunConsole console(screen.file(), nullptr, true);
  for (const char* line :
       {"Commenced: 06 Dec 2026 14:00:00", "Moving data from a.csv to b.csv\r\n", "Reading table",
        "Table doesn't exist or is empty", "a.csv: no such file",
        "\r\nCompleted: 06 Dec 2026 14:00:00", "Elapsed time: 00:00:00"})
    console.Message(line);
  console.Progress(100);
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

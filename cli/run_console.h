// What trundle-cli shows of a run: the log's lines on one stream and a progress bar on
// another (standard output and standard error, often the same screen). With --quiet the
// log is not shown but kept, so that a run that moved nothing can still say why.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

namespace trundle {

class RunConsole {
 public:
  // `log` receives the log unless `quiet`; `bar` receives the progress bar when given.
  RunConsole(std::FILE* log, std::FILE* bar, bool quiet) : log_(log), bar_(bar), quiet_(quiet) {}

  // One message of the job: "\r\n" (or a lone "\r") inside it starts a new line. The
  // bar's line is closed first, so that no log line continues it.
  void Message(const std::string& message);
  void Progress(int percent);
  // Closes the bar's line, if a bar is shown.
  void CloseBar();

  // For a run that moved nothing: the lines that the adaptors logged (the job's own
  // lines about start and end left out), as kept in quiet mode. Empty when not quiet.
  std::string WhyNothingMoved() const;

 private:
  std::FILE* log_;
  std::FILE* bar_;
  bool quiet_;
  int last_percent_ = -1;
  bool bar_open_ = false;
  std::deque<std::string> kept_;
};

// The message as lines for a terminal: "\r\n" and a lone "\r" become "\n", and a final
// "\n" is added.
std::string AsLines(const std::string& message);

}  // namespace trundle

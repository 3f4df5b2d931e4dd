// What trundle-cli shows of a run: the log's lines on one stream and a progress bar on
// another (standard output and standard error, often the same screen). With --quiet the
// log is not shown but kept, so that a run that moved nothing can still say why.
//
//   [##########              ]  42%  1234 records per second, 00:01:05 left
//   51200 records  1234 records per second       (a source that does not know its count)
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include "engine/run_speed.h"

namespace trundle {

class RunConsole {
 public:
  // `log` receives the log unless `quiet`; `bar` receives the progress bar when given.
  RunConsole(std::FILE* log, std::FILE* bar, bool quiet) : log_(log), bar_(bar), quiet_(quiet) {}

  // One message of the job: "\r\n" (or a lone "\r") inside it starts a new line. The
  // bar's line is closed first, so that no log line continues it.
  void Message(const std::string& message);
  // The share moved, and for the pace the records read by `now` of `total` (0 or less:
  // the source does not know its count, and the line counts records instead of the
  // bar). The line is drawn again when the share changes and every
  // RunSpeed::kShowInterval, not at every record.
  void Progress(int percent, int64_t records, int64_t total, RunSpeed::Clock::time_point now);
  // Closes the bar's line, if a bar is shown.
  void CloseBar();
  // After the run, on the bar's stream when a bar is shown: TotalsText's line.
  void Totals(int64_t moved, int64_t read, double elapsed_seconds);

  // For a run that moved nothing: the lines that the adaptors logged (the job's own
  // lines about start and end left out), as kept in quiet mode. Empty when not quiet.
  std::string WhyNothingMoved() const;

 private:
  std::FILE* log_;
  std::FILE* bar_;
  bool quiet_;
  int last_percent_ = -1;
  std::string last_speed_;
  size_t last_width_ = 0;  // of the line drawn, so that a shorter one covers it
  bool bar_open_ = false;
  RunSpeed speed_;
  std::deque<std::string> kept_;
};

// The message as lines for a terminal: "\r\n" and a lone "\r" become "\n", and a final
// "\n" is added.
std::string AsLines(const std::string& message);

}  // namespace trundle

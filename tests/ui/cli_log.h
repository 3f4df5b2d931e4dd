// trundle-cli's log for a move, to hold the window's log against: the same lines, with
// the clock readings taken out.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace trundle {

// The lines of a log with the clock readings taken out: two runs never start in the
// same second for certain.
inline QStringList WithoutTimes(QStringList lines) {
  for (QString& line : lines)
    for (const char* timed : {"Commenced: ", "Completed: ", "Elapsed time: "})
      if (line.startsWith(QLatin1String(timed))) line = QLatin1String(timed);
  return lines;
}

inline QStringList CliLog(const ScratchFolder& dir, const std::vector<std::string>& args) {
  std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + ShellQuote(TRUNDLE_CLI);
  for (const std::string& a : args) command.append(" ").append(ShellQuote(a));
  command.append(" >").append(ShellQuote(dir / "cli.log")).append(" 2>/dev/null </dev/null");
  EXPECT_NE(std::system(command.c_str()), -1);
  QString text = QString::fromStdString(ReadFile(dir / "cli.log"));
  if (text.endsWith('\n')) text.chop(1);
  return WithoutTimes(text.split('\n'));
}

}  // namespace trundle

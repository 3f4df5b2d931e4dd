#include "cli/run_console.h"

#include "engine/locale_format.h"

namespace trundle {
namespace {

// Enough to explain a failure; a long run's notes beyond it are dropped, oldest first.
constexpr size_t kKeptLines = 100;
// With the share and the pace the line stays within 80 columns.
constexpr int kBarWidth = 24;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The job's own lines around the adaptors' ones: when and what, not why.
bool IsFramingLine(const std::string& message) {
  return StartsWith(message, "Commenced: ") || StartsWith(message, "Moving data from ") ||
         StartsWith(message, "\r\nCompleted: ") || StartsWith(message, "Elapsed time: ");
}

}  // namespace

std::string AsLines(const std::string& message) {
  std::string out;
  out.reserve(message.size() + 1);
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r') {
      out += '\n';
      if (i + 1 < message.size() && message[i + 1] == '\n') ++i;
    } else {
      out += message[i];
    }
  }
  out += '\n';
  return out;
}

void RunConsole::Message(const std::string& message) {
  if (quiet_) {
    if (IsFramingLine(message)) return;
    if (kept_.size() == kKeptLines) kept_.pop_front();
    kept_.push_back(message);
    return;
  }
  CloseBar();
  const std::string lines = AsLines(message);
  std::fwrite(lines.data(), 1, lines.size(), log_);
  // Line by line, so that the log and the bar on the same screen keep their order.
  std::fflush(log_);
}

void RunConsole::Progress(int percent, int64_t records, int64_t total,
                          RunSpeed::Clock::time_point now) {
  if (!bar_) return;
  speed_.Update(records, now);
  // Due a few times a second: the pace, and the count of a source without one, move on.
  const bool due = speed_.Due(now);
  if (percent == last_percent_ && !due) return;
  const std::string speed = due ? SpeedText(speed_.Rate(), speed_.SecondsLeft(total),
                                            CurrentLocaleFormats()->decimal_separator)
                                : last_speed_;
  last_percent_ = percent;
  last_speed_ = speed;
  std::string line;
  if (total <= 0 && records > 0 && percent < 100) {
    line = std::to_string(records) + " records";
  } else {
    const int filled = percent < 0 ? 0 : percent > 100 ? kBarWidth : percent * kBarWidth / 100;
    char share[16];
    std::snprintf(share, sizeof share, "%3d%%", percent);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of "[" + a string.
    line = '[';
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), ' ');
    line.append("] ").append(share);
  }
  if (!speed.empty()) line.append("  ").append(speed);
  const size_t width = line.size();
  // Spaces cover what a longer line before it left at its end.
  if (width < last_width_) line.append(last_width_ - width, ' ');
  last_width_ = width;
  std::fputc('\r', bar_);
  std::fputs(line.c_str(), bar_);
  std::fflush(bar_);
  bar_open_ = true;
}

void RunConsole::CloseBar() {
  if (!bar_open_) return;
  std::fputs("\n", bar_);
  std::fflush(bar_);
  bar_open_ = false;
  // A bar that shows again after a log line starts on a line of its own.
  last_percent_ = -1;
  last_width_ = 0;
}

void RunConsole::Totals(int64_t moved, int64_t read, double elapsed_seconds) {
  if (!bar_) return;
  CloseBar();
  std::fprintf(bar_, "%s\n",
               TotalsText(moved, read, elapsed_seconds, CurrentLocaleFormats()->decimal_separator)
                   .c_str());
  std::fflush(bar_);
}

std::string RunConsole::WhyNothingMoved() const {
  std::string out;
  for (const std::string& line : kept_) out += AsLines(line);
  return out;
}

}  // namespace trundle

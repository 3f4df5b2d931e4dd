#include "cli/run_console.h"

namespace trundle {
namespace {

// Enough to explain a failure; a long run's notes beyond it are dropped, oldest first.
constexpr size_t kKeptLines = 100;

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

void RunConsole::Progress(int percent) {
  if (!bar_ || percent == last_percent_) return;
  last_percent_ = percent;
  const int filled = percent < 0 ? 0 : percent > 100 ? 40 : percent * 40 / 100;
  std::fprintf(bar_, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(40 - filled), ' ').c_str(), percent);
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
}

std::string RunConsole::WhyNothingMoved() const {
  std::string out;
  for (const std::string& line : kept_) out += AsLines(line);
  return out;
}

}  // namespace trundle

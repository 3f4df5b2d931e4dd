#include "engine/run_speed.h"

#include <cmath>
#include <cstdio>

#include "engine/locale_format.h"

namespace trundle {
namespace {

// Updates come at every record; one sample a quarter second keeps forty of them in the
// window whatever the run's pace.
constexpr std::chrono::milliseconds kSampleSpacing{250};

double Seconds(RunSpeed::Clock::duration span) {
  return std::chrono::duration<double>(span).count();
}

// "1234 records per second", "2.5 records per second", "1.0 records per second".
std::string RateText(double rate, char decimal_separator) {
  char buf[48];
  if (rate >= 9.95) {
    std::snprintf(buf, sizeof buf, "%.0f", rate);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f", rate);
    // "%.1f" writes the C locale's point.
    for (char* c = buf; *c; ++c)
      if (*c == '.') *c = decimal_separator;
  }
  return std::string(buf) + " records per second";
}

}  // namespace

void RunSpeed::Update(int64_t records, Clock::time_point now) {
  if (records <= 0 || samples_.empty()) {
    samples_.assign(1, Sample{now, records});
    return;
  }
  const size_t n = samples_.size();
  if (n >= 2 && samples_.back().at - samples_[n - 2].at < kSampleSpacing)
    samples_.back() = Sample{now, records};
  else
    samples_.push_back(Sample{now, records});
  // The first sample kept is the last one at or before the window's start.
  while (samples_.size() > 2 && samples_[1].at <= now - kWindow) samples_.pop_front();
}

double RunSpeed::Rate() const {
  if (samples_.size() < 2) return -1;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  if (last.at - first.at < kMinSpan) return -1;
  return static_cast<double>(last.records - first.records) / Seconds(last.at - first.at);
}

double RunSpeed::SecondsLeft(int64_t total) const {
  const double rate = Rate();
  if (total <= 0 || !(rate > 0)) return -1;
  const int64_t left = total - samples_.back().records;
  return left > 0 ? static_cast<double>(left) / rate : 0;
}

bool RunSpeed::Due(Clock::time_point now) {
  if (last_shown_ && now - *last_shown_ < kShowInterval) return false;
  last_shown_ = now;
  return true;
}

std::string SpeedText(double rate, double seconds_left, char decimal_separator) {
  if (rate < 0) return "";
  std::string text = RateText(rate, decimal_separator);
  // Rounded up: a run with half a second to go is not done.
  if (seconds_left >= 0) text += ", " + FormatElapsed(std::ceil(seconds_left) / 86400.0) + " left";
  return text;
}

std::string TotalsText(int64_t moved, int64_t read, double elapsed_seconds,
                       char decimal_separator) {
  std::string text = std::to_string(moved) + (moved == 1 ? " record" : " records") + " moved in " +
                     FormatElapsed(elapsed_seconds / 86400.0);
  if (elapsed_seconds >= Seconds(RunSpeed::kMinSpan))
    text += ", " + RateText(static_cast<double>(read) / elapsed_seconds, decimal_separator);
  return text;
}

}  // namespace trundle

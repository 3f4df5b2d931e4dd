// How fast a run goes and how long it has left, measured from the count of records read
// at moments of a steady clock, and the sentences that the window's run page and
// trundle-cli's progress bar show of it. Nothing here reads the clock: the caller passes
// the moments, so that a test can give them.
//
//   RunSpeed speed;
//   job.OnProgress = [&](int32_t) {
//     const RunSpeed::Clock::time_point now = RunSpeed::Clock::now();
//     speed.Update(job.records_read(), now);
//     if (speed.Due(now)) Show(SpeedText(speed.Rate(), speed.SecondsLeft(total), '.'));
//   };
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace trundle {

class RunSpeed {
 public:
  using Clock = std::chrono::steady_clock;
  // The rate is that of the last ten seconds: recent enough to follow a destination
  // that slows down as its table grows, long enough not to jump with every batch commit.
  static constexpr std::chrono::seconds kWindow{10};
  // A rate measured over less than this is not given: the first records of a run come at
  // the pace of buffers filling, not of the run.
  static constexpr std::chrono::milliseconds kMinSpan{500};
  // A display refreshed four times a second reads as live; refreshing it at every record
  // would spend a long run's time on painting.
  static constexpr std::chrono::milliseconds kShowInterval{250};

  // `records` were read by `now`. While none is (the source still opening) the
  // measurement starts again at every call, so that opening does not count against the
  // rate. REQUIRES: `now` never earlier than the last call's; `records` never fewer.
  void Update(int64_t records, Clock::time_point now);
  // Records per second over the last kWindow, or since the first record for a run
  // younger than that; negative while the span measured is shorter than kMinSpan.
  double Rate() const;
  // Seconds that the rest of `total` records take at Rate; negative when `total` is not
  // known (0 or less) or Rate is not (negative or 0).
  double SecondsLeft(int64_t total) const;
  // True on the first call, then once kShowInterval has passed since the last true:
  // when a display of the speed is to be refreshed.
  bool Due(Clock::time_point now);

 private:
  struct Sample {
    Clock::time_point at;
    int64_t records = 0;
  };
  // Oldest first, at least kSampleSpacing apart but for the last, which is the latest
  // Update; the first lies at or before kWindow before the last once the run is older.
  std::deque<Sample> samples_;
  std::optional<Clock::time_point> last_shown_;
};

// During a run: "1234 records per second, 00:01:05 left", or without the time left when
// `seconds_left` is negative; empty while `rate` is negative (not measured yet). Rates
// under 10 get one decimal, written with `decimal_separator`.
std::string SpeedText(double rate, double seconds_left, char decimal_separator);

// After a run: "3 records moved in 00:00:04, 0.8 records per second", the rate being
// that of the `read` records over the whole run; without the rate for a run shorter
// than RunSpeed::kMinSpan.
std::string TotalsText(int64_t moved, int64_t read, double elapsed_seconds, char decimal_separator);

}  // namespace trundle

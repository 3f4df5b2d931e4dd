// The pace of a run and the time it has left, from given moments: opening left out, a
// slowdown followed, an unknown total, a stall, how often a display is due, and the
// sentences shown.
#include "engine/run_speed.h"

#include <gtest/gtest.h>

namespace trundle {
namespace {

using Clock = RunSpeed::Clock;
using std::chrono::milliseconds;

Clock::time_point At(int64_t ms) { return Clock::time_point(milliseconds(ms)); }

// Updates every `step_ms` from `from_ms` to `to_ms`, the records growing by `per_second`
// from `records` at `from_ms`; the records at `to_ms`.
int64_t Feed(RunSpeed& speed, int64_t from_ms, int64_t to_ms, int64_t records, int64_t per_second,
             int64_t step_ms = 10) {
  int64_t now_records = records;
  for (int64_t ms = from_ms; ms <= to_ms; ms += step_ms) {
    now_records = records + (ms - from_ms) * per_second / 1000;
    speed.Update(now_records, At(ms));
  }
  return now_records;
}

TEST(RunSpeedTest, TheRateLeavesOutTheOpeningAndGivesTheTimeLeft) {
  RunSpeed speed;
  // Two seconds opening the source: no record yet.
  Feed(speed, 0, 2000, 0, 0, 50);
  EXPECT_LT(speed.Rate(), 0);
  // Then 1000 records a second; under half a second of them there is no rate yet.
  Feed(speed, 2000, 2400, 0, 1000);
  EXPECT_LT(speed.Rate(), 0);
  EXPECT_LT(speed.SecondsLeft(10000), 0);
  const int64_t read = Feed(speed, 2400, 5000, 400, 1000);
  ASSERT_EQ(read, 3000);
  EXPECT_DOUBLE_EQ(speed.Rate(), 1000);
  EXPECT_DOUBLE_EQ(speed.SecondsLeft(10000), 7);
  // A source that does not know its count gives no time left; one that delivered more
  // than it counted has none left.
  EXPECT_LT(speed.SecondsLeft(0), 0);
  EXPECT_EQ(speed.SecondsLeft(2000), 0);
}

TEST(RunSpeedTest, TheRateFollowsASlowdownAndAStall) {
  RunSpeed speed;
  int64_t read = Feed(speed, 0, 20000, 0, 1000);
  EXPECT_NEAR(speed.Rate(), 1000, 1);
  // Ten seconds on at a tenth of the pace, the rate is the new one, not the average.
  read = Feed(speed, 20000, 31000, read, 100);
  EXPECT_NEAR(speed.Rate(), 100, 1);
  EXPECT_NEAR(speed.SecondsLeft(read + 5000), 50, 1);
  // Nothing read for longer than the window (a destination writing its file): no
  // time left is guessed.
  Feed(speed, 31000, 45000, read, 0, 100);
  EXPECT_EQ(speed.Rate(), 0);
  EXPECT_LT(speed.SecondsLeft(read + 5000), 0);
}

TEST(RunSpeedTest, ADisplayIsDueAFewTimesASecond) {
  RunSpeed speed;
  int due = 0;
  for (int64_t ms = 0; ms < 1000; ++ms) due += speed.Due(At(ms)) ? 1 : 0;
  EXPECT_EQ(due, 1000 / RunSpeed::kShowInterval.count());
  EXPECT_FALSE(speed.Due(At(1000 - 1)));
  EXPECT_TRUE(speed.Due(At(1000)));
}

TEST(RunSpeedTest, TheSentencesShown) {
  struct Case {
    double rate;
    double left;
    char separator;
    const char* text;
  } cases[] = {
      {1234.4, 65.2, '.', "1234 records per second, 00:01:06 left"},
      {9.96, 0.3, '.', "10 records per second, 00:00:01 left"},
      {2.54, -1, ',', "2,5 records per second"},
      {1.0, -1, '.', "1.0 records per second"},
      {0, -1, '.', "0.0 records per second"},
      {250, 97530, '.', "250 records per second, 27:05:30 left"},
      {-1, 10, '.', ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SpeedText(c.rate, c.left, c.separator), c.text) << c.rate << " " << c.left;
  EXPECT_EQ(TotalsText(3, 3, 4.0, '.'), "3 records moved in 00:00:04, 0.8 records per second");
  EXPECT_EQ(TotalsText(90000, 100000, 3725.5, '.'),
            "90000 records moved in 01:02:05, 27 records per second");
  // Too short a run to say a pace; one record is one.
  EXPECT_EQ(TotalsText(1, 1, 0.2, '.'), "1 record moved in 00:00:00");
  EXPECT_EQ(TotalsText(0, 0, 12, ','), "0 records moved in 00:00:12, 0,0 records per second");
}

}  // namespace
}  // namespace trundle

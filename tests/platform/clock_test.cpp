#include "platform/clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace keep::platform {
namespace {

DateTime At(int year, int month, int day, int hour, int minute, int second) {
  return *DateTime::FromCivil({year, month, day, hour, minute, second, 0});
}

TEST(ManualClockTest, StartsWhereToldAndMovesOnlyWhenAdvanced) {
  const ManualClock fresh;
  EXPECT_EQ(fresh.Now(), DateTime());
  EXPECT_EQ(fresh.NowMs(), 0);

  ManualClock clock(At(2024, 2, 28, 23, 59, 30), 5000);
  EXPECT_EQ(clock.NowMs(), 5000);
  clock.AdvanceMs(45'000);
  EXPECT_EQ(clock.NowMs(), 50'000);
  EXPECT_EQ(clock.Now(), At(2024, 2, 29, 0, 0, 15));  // across midnight into a leap day
  clock.AdvanceMs(-10'000);
  EXPECT_EQ(clock.NowMs(), 50'000);
}

TEST(ManualClockTest, SetWallJumpsOnlyTheWallClock) {
  ManualClock clock(At(2024, 6, 1, 12, 0, 0));
  clock.AdvanceMs(1000);
  clock.SetWall(At(2023, 1, 1, 8, 0, 0));  // backwards, as a user may set it
  EXPECT_EQ(clock.NowMs(), 1000);
  EXPECT_EQ(clock.Now(), At(2023, 1, 1, 8, 0, 0));
  clock.AdvanceMs(2000);
  EXPECT_EQ(clock.NowMs(), 3000);
  EXPECT_EQ(clock.Now(), At(2023, 1, 1, 8, 0, 2));
}

TEST(ManualClockTest, CopiesShareOneTimeAcrossThreads) {
  ManualClock clock(At(2024, 1, 1, 0, 0, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([copy = clock]() mutable {
      for (int i = 0; i < 1000; ++i) copy.AdvanceMs(1);
    });
  }
  for (int i = 0; i < 1000; ++i) (void)(clock.Now() < clock.Now());  // read while they write
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(clock.NowMs(), 4000);
  EXPECT_EQ(clock.Now(), At(2024, 1, 1, 0, 0, 4));
}

TEST(RealClockTest, MonotonicClockFollowsTheSteadyClock) {
  const auto clock = MonotonicClock::CreateReal();
  const auto steady_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  const int64_t before = steady_ms();
  int64_t last = clock->NowMs();
  for (int i = 0; i < 10'000; ++i) {
    const int64_t now = clock->NowMs();
    ASSERT_GE(now, last);
    last = now;
  }
  EXPECT_GE(last, before);
  EXPECT_LE(last, steady_ms());
}

TEST(RealClockTest, WallClockIsTheSystemTimeShiftedByAZoneOffset) {
  const auto clock = WallClock::CreateReal();
  const auto system_ms = [] {
    const int64_t unix_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return 25'569 * DateTime::kMsPerDay + unix_ms;  // as UTC on the DateTime scale
  };
  const int64_t before = system_ms();
  const int64_t local = clock->Now().Milliseconds();
  const int64_t after = system_ms();
  const int64_t offset = local - before;
  // Zone offsets lie within -12 h and +14 h and are whole quarter hours, so the seconds and
  // milliseconds must match the system time read around the call.
  EXPECT_GE(offset, -12 * 3'600'000);
  EXPECT_LE(offset, 14 * 3'600'000 + (after - before));
  constexpr int64_t kQuarterHour = 900'000;
  EXPECT_LE(((offset % kQuarterHour) + kQuarterHour) % kQuarterHour, after - before);
}

// Sets the process's time zone for one test and puts the previous one back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

TEST(RealClockTest, UtcOffsetFollowsTheZonesDaylightSavingRules) {
  // Central European time by its rule, so no zone database is needed: +1 h in winter, +2 h in summer,
  // the change on the last Sundays of March (02:00) and October (03:00).
  const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const auto clock = WallClock::CreateReal();
  const auto offset_at = [&](int month, int day, int hour) {
    return clock->UtcOffsetMs(*DateTime::FromCivil({2026, month, day, hour, 0, 0, 0}));
  };
  EXPECT_EQ(3'600'000, offset_at(1, 15, 12));
  EXPECT_EQ(7'200'000, offset_at(7, 15, 12));
  EXPECT_EQ(3'600'000, offset_at(3, 29, 1));
  EXPECT_EQ(7'200'000, offset_at(3, 29, 4));
  EXPECT_EQ(7'200'000, offset_at(10, 25, 1));
  EXPECT_EQ(3'600'000, offset_at(10, 25, 4));

  const ScopedTimeZone utc("UTC0");
  EXPECT_EQ(0, offset_at(7, 15, 12));
}

}  // namespace
}  // namespace keep::platform

#include "tools/upssim/halvora_clock.h"

#include <chrono>

namespace keep::tools {
namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr sys_days kEpoch = sys_days{std::chrono::year{2000} / 1 / 1};
// Past 2099 a two-digit year no longer tells the century; the clock wraps back to 2000.
constexpr int64_t kCenturySeconds =
    int64_t{(sys_days{std::chrono::year{2100} / 1 / 1} - kEpoch).count()} * kSecondsPerDay;

int64_t SecondsOf(const ClockTime& time) {
  const sys_days date{std::chrono::year{time.year} / time.month / time.day};
  return int64_t{(date - kEpoch).count()} * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
}

ClockTime TimeOf(int64_t seconds) {
  seconds %= kCenturySeconds;
  if (seconds < 0) seconds += kCenturySeconds;
  const sys_days date = kEpoch + days{seconds / kSecondsPerDay};
  const year_month_day ymd{date};
  const int64_t in_day = seconds % kSecondsPerDay;
  ClockTime time;
  time.year = int{ymd.year()};
  time.month = static_cast<int>(unsigned{ymd.month()});
  time.day = static_cast<int>(unsigned{ymd.day()});
  time.hour = static_cast<int>(in_day / 3600);
  time.minute = static_cast<int>(in_day / 60 % 60);
  time.second = static_cast<int>(in_day % 60);
  time.day_of_week = static_cast<int>(std::chrono::weekday{date}.c_encoding());
  return time;
}

}  // namespace

std::optional<ClockTime> MakeClockTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 2000 || year > 2099 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  const year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  return TimeOf(SecondsOf(ClockTime{year, month, day, hour, minute, second, 0}));
}

ClockTime ShiftClockTime(const ClockTime& time, int64_t seconds) { return TimeOf(SecondsOf(time) + seconds); }

UpsClock::UpsClock(const ClockTime& start) : start_seconds_(SecondsOf(start)) {}

ClockTime UpsClock::Now(int64_t now_ms) {
  if (!anchor_ms_) anchor_ms_ = now_ms;
  const int64_t elapsed_ms = now_ms > *anchor_ms_ ? now_ms - *anchor_ms_ : 0;
  return TimeOf(start_seconds_ + elapsed_ms / 1000);
}

void UpsClock::Set(const ClockTime& time, int64_t now_ms) {
  start_seconds_ = SecondsOf(time);
  anchor_ms_ = now_ms;
}

}  // namespace keep::tools

// The real-time clock of a simulated binary UPS: a calendar date and time that runs on with the
// simulator's monotonic milliseconds from the moment it is first read or set. Never the host's
// wall clock, so answers depend only on what the test sets and the time it passes in. Not
// thread-safe.
#pragma once

#include <cstdint>
#include <optional>

namespace keep::tools {

struct ClockTime {
  int year = 2000;  // 2000..2099, the range a two-digit year covers
  int month = 1;    // 1..12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int day_of_week = 6;  // 0 Sunday .. 6 Saturday, derived from the date

  bool operator==(const ClockTime&) const = default;
};

// The calendar time with day_of_week filled in; empty when a field is out of range (31 February).
std::optional<ClockTime> MakeClockTime(int year, int month, int day, int hour, int minute, int second);

// `time` moved by `seconds` (negative: back), wrapping within 2000..2099.
ClockTime ShiftClockTime(const ClockTime& time, int64_t seconds);

class UpsClock {
 public:
  // Runs from `start` (whose day_of_week is recomputed).
  explicit UpsClock(const ClockTime& start);

  // The time at `now_ms`; the first call (or Set) ties the start time to that instant.
  ClockTime Now(int64_t now_ms);
  // The clock shows `time` at `now_ms` and runs on from there.
  void Set(const ClockTime& time, int64_t now_ms);

 private:
  int64_t start_seconds_;  // seconds since 2000-01-01 00:00 at the anchor
  std::optional<int64_t> anchor_ms_;
};

}  // namespace keep::tools

// The calendar clock of the simulated modular UPS (command 65). It shows a fixed date and time when
// first asked and runs on with the monotonic time it is given; a set request moves it. Times are
// seconds since 1 January 2000 00:00, the epoch of the UPS's event log too. Not thread-safe: part of
// one dialect object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"

namespace keep::tools {

struct QuadrelCivilTime {
  int year = 2000;  // 2000-2099: the UPS keeps two digits
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 6;  // 0 Sunday ... 6 Saturday
};

QuadrelCivilTime QuadrelCivilFromSeconds(uint32_t seconds);
// Empty for a date or time that does not exist or lies outside 2000-2099.
std::optional<uint32_t> QuadrelSecondsFromCivil(const QuadrelCivilTime& time);

class QuadrelClock {
 public:
  // Where the clock stands when first read.
  static constexpr QuadrelCivilTime kStart{2025, 6, 2, 8, 0, 0, 1};

  // Seconds since 2000 at `now_ms`.
  uint32_t Now(int64_t now_ms);

  // The reply data to command 65: request data byte 1 is 0 to read, 1 to set from the BCD bytes
  // 2-7 (year, month, day, hour, minute, second; byte 8, the day of the week, follows from the
  // date). The reply is the clock after the request: BCD year ... second, then the day of the week.
  // A set to a date that does not exist leaves the clock as it was, so the reply shows the time the
  // clock really keeps. Empty for a request too short to read.
  std::optional<std::string> Answer(const BinaryRequest& request, int64_t now_ms);

 private:
  std::optional<int64_t> anchor_ms_;  // the monotonic time at which the clock showed anchor_seconds_
  uint32_t anchor_seconds_ = 0;
};

}  // namespace keep::tools

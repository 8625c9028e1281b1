// Local date and time as a count of milliseconds since 30 December 1899 00:00, the epoch of the
// classic day-number convention that the scheduler file and the client protocol use.
// No time zone is attached: the wall clock (platform/clock.h) hands out local time already.
#pragma once

#include <cstdint>
#include <optional>

namespace keep {

struct CivilDateTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class DateTime {
 public:
  static constexpr int64_t kMsPerDay = 86'400'000;

  constexpr DateTime() = default;
  static constexpr DateTime FromMilliseconds(int64_t ms) { return DateTime(ms); }
  // Empty when a field is out of its range (month 13, 31 February, hour 24, year outside 1..9999).
  static std::optional<DateTime> FromCivil(const CivilDateTime& civil);

  constexpr int64_t Milliseconds() const { return ms_; }
  // Whole days since the epoch (floor), the "day number".
  int64_t DayNumber() const;
  // Milliseconds since local midnight, 0..86'399'999.
  int64_t MillisecondOfDay() const;
  // 0 = Sunday ... 6 = Saturday.
  int Weekday() const;
  CivilDateTime ToCivil() const;

  constexpr DateTime operator+(int64_t ms) const { return DateTime(ms_ + ms); }
  constexpr auto operator<=>(const DateTime&) const = default;

 private:
  constexpr explicit DateTime(int64_t ms) : ms_(ms) {}
  int64_t ms_ = 0;
};

}  // namespace keep

#include "common/date_time.h"

namespace keep {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), after H. Hinnant's algorithm.
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kEpochOffsetDays = DaysFromCivil(1899, 12, 30);

constexpr bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int DaysInMonth(int y, int m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

constexpr int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

std::optional<DateTime> DateTime::FromCivil(const CivilDateTime& c) {
  if (c.year < 1 || c.year > 9999 || c.month < 1 || c.month > 12) return std::nullopt;
  if (c.day < 1 || c.day > DaysInMonth(c.year, c.month)) return std::nullopt;
  if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 ||
      c.millisecond < 0 || c.millisecond > 999) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(c.year, c.month, c.day) - kEpochOffsetDays;
  const int64_t ms = ((int64_t{c.hour} * 60 + c.minute) * 60 + c.second) * 1000 + c.millisecond;
  return DateTime(days * kMsPerDay + ms);
}

int64_t DateTime::DayNumber() const { return FloorDiv(ms_, kMsPerDay); }

int64_t DateTime::MillisecondOfDay() const { return ms_ - DayNumber() * kMsPerDay; }

int DateTime::Weekday() const {
  // Day 0 (30 December 1899) was a Saturday.
  int64_t w = (DayNumber() + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w);
}

CivilDateTime DateTime::ToCivil() const {
  CivilDateTime c;
  CivilFromDays(DayNumber() + kEpochOffsetDays, c.year, c.month, c.day);
  int64_t ms = MillisecondOfDay();
  c.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  c.second = static_cast<int>(ms % 60);
  ms /= 60;
  c.minute = static_cast<int>(ms % 60);
  c.hour = static_cast<int>(ms / 60);
  return c;
}

}  // namespace keep

// Scheduler items: their display lines and the dates and times the user types for them.
#include <charconv>
#include <cstdio>

#include "common/date_time.h"
#include "common/format_settings.h"
#include "common/text_lists.h"
#include "common/time_text.h"
#include "console/scheduler_editor.h"
#include "console/value_renderings.h"

namespace keep::console {

namespace {

// A field that is not a number reads as -2, below every value the checks accept.
int64_t FieldNumber(const std::string& field) {
  int64_t value = 0;
  return ParseDecimalInt64(TrimBlanks(field), value) ? value : -2;
}

bool IsTimeOfDay(int64_t seconds) { return seconds >= 0 && seconds < kSecondsPerDay; }

// Day numbers of 1 January 0001 and 31 December 9999: the dates a short date can show.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;
bool IsShowableDay(int64_t day) { return day >= kFirstDay && day <= kLastDay; }

std::string TimeText(int64_t seconds) {
  return FormatLongTime(TFormatSettings{}, DateTime::FromMilliseconds(seconds * 1000));
}
std::string DateText(int64_t day) {
  return FormatShortDate(TFormatSettings{}, DateTime::FromMilliseconds(day * DateTime::kMsPerDay));
}

// Digits only, at most `max_digits` of them.
std::optional<int> SmallNumber(std::string_view text, size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string ItemText(std::string_view item, int number) {
  TStringList fields;
  SplitText('|', item, fields, true);
  const std::string prefix = std::to_string(number) + " - ";
  const std::string bad = prefix + "Bad item !";
  if (fields.size() != 6) return bad;
  const std::string& type = fields[0];
  const std::string& frequency = fields[1];
  const int64_t day = FieldNumber(fields[2]);
  const int64_t time = FieldNumber(fields[3]);
  const int64_t restart_day = FieldNumber(fields[4]);
  const int64_t restart_time = FieldNumber(fields[5]);
  if (day < 0 || time < 0 || restart_day < -1 || restart_time < -1) return bad;
  if (type != "SR" && type != "BT" && type != "AT") return bad;
  if (frequency != "O" && frequency != "D" && frequency != "W") return bad;
  // A time beyond one day, or a date no calendar can show, cannot be written: the item is shown
  // as bad instead of failing the whole list.
  if (!IsTimeOfDay(time) || (restart_time != -1 && !IsTimeOfDay(restart_time))) return bad;
  if (frequency == "O" && (!IsShowableDay(day) || (restart_day != -1 && !IsShowableDay(restart_day)))) return bad;

  std::string text = type == "SR" ? "Shutdown " : (type == "BT" ? "Battery Test " : "Autonomy Test ");
  const bool restarts = restart_day != -1 && restart_time != -1;
  std::string restart;
  if (frequency == "O") {
    text += "on " + DateText(day) + " at " + TimeText(time);
    if (restarts) restart = " (restart on " + DateText(restart_day) + " at " + TimeText(restart_time) + ")";
  } else if (frequency == "W") {
    text += "every " + WeekdayValue(day) + " at " + TimeText(time);
    if (restarts) restart = " (restart every " + WeekdayValue(restart_day) + " at " + TimeText(restart_time) + ")";
  } else {
    text += "every day at " + TimeText(time);
    if (restart_time != -1) restart = " (restart every day at " + TimeText(restart_time) + ")";
  }
  if (type == "SR") text += restart.empty() ? " (no restart)" : restart;
  return prefix + text;
}

std::optional<int64_t> ParseDayText(std::string_view text) {
  TStringList parts;
  SplitText('/', TrimBlanks(text), parts, true);
  if (parts.size() != 3) return std::nullopt;
  const std::optional<int> day = SmallNumber(parts[0], 2);
  const std::optional<int> month = SmallNumber(parts[1], 2);
  std::optional<int> year = SmallNumber(parts[2], 4);
  if (!day || !month || !year || (parts[2].size() != 2 && parts[2].size() != 4)) return std::nullopt;
  if (parts[2].size() == 2) *year += 2000;
  const std::optional<DateTime> date = DateTime::FromCivil(CivilDateTime{*year, *month, *day, 0, 0, 0, 0});
  if (!date) return std::nullopt;
  return date->DayNumber();
}

std::optional<int> ParseTimeText(std::string_view text) {
  TStringList parts;
  SplitText(':', TrimBlanks(text), parts, true);
  if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
  const std::optional<int> hours = SmallNumber(parts[0], 2);
  const std::optional<int> minutes = SmallNumber(parts[1], 2);
  const std::optional<int> seconds = parts.size() == 3 ? SmallNumber(parts[2], 2) : std::optional<int>(0);
  if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  return *hours * 3600 + *minutes * 60 + *seconds;
}

}  // namespace keep::console

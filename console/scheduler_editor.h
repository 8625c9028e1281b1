// The scheduler items as the console edits them: one text line of six fields joined with "|" (type
// SR/BT/AT, frequency O/D/W, day, time in seconds, restart day, restart time; -1 and -1 without a
// restart), their display line, and the reading of the dates and times the user types. Pure
// functions, callable from any thread. The editor itself is RunSchedulerEditor (actions.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keep::console {

// The display line "n - text" of `item`, numbered `number`; "n - Bad item !" when a field is
// missing or not a number, the type or frequency is unknown, a time lies outside 0-86399 or a date
// outside the years 1-9999. Times in "hh:mm:ss", dates in "dd/MM/yyyy".
std::string ItemText(std::string_view item, int number);

// A date typed as "d/M/yyyy" (day and month of one or two digits; a two-digit year is in 2000-2099)
// as its whole day number since 30 December 1899; empty when it is not a valid date.
std::optional<int64_t> ParseDayText(std::string_view text);
// A time of day typed as "h:mm:ss" or "h:mm" as seconds since midnight; empty when it is not one.
std::optional<int> ParseTimeText(std::string_view text);

}  // namespace keep::console

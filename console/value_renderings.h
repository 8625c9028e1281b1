// How the values of the server's answers are turned into the texts the console shows. Each takes
// the field as received. "Marks" below: "&" (not available) gives "Not available" and "@"
// (overrange) gives "Overrange". Pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keep::console {

// How the console writes what depends on the terminal.
struct RenderStyle {
  // The degree sign: UTF-8 on a UTF-8 terminal, else the single byte 248 of the PC code page.
  std::string degree = "\xF8";
  static RenderStyle ForTerminal(bool utf8) { return RenderStyle{utf8 ? "\xC2\xB0" : "\xF8"}; }
};

inline constexpr std::string_view kNotAvailable = "Not available";
inline constexpr std::string_view kUnknown = "Unknown";

// The whole text as a decimal integer ("-" allowed, nothing else around it).
std::optional<int64_t> ParseInteger(std::string_view text);

// "Not available" or "Overrange" for a mark; empty for any other text.
std::optional<std::string> MarkText(std::string_view value);

// Marks; otherwise the value, then a blank and the unit when there is one.
std::string PlainValue(std::string_view value, std::string_view unit = {});
// A rating some UPS models do not report: marks, and "Not available" for an empty value too;
// otherwise `shown`, the value as the screen writes it.
std::string RatingValue(std::string_view value, std::string shown);
// PlainValue with "-" in front unless it is a mark (values the UPS reports as their magnitude).
std::string NegativePlainValue(std::string_view value, std::string_view unit);
// Marks; an integer N as N/10 (N/100) in the shortest decimal form with ".", then a blank and the
// unit; anything else "Unknown".
std::string TenthsValue(std::string_view value, std::string_view unit);
std::string HundredthsValue(std::string_view value, std::string_view unit);
// Marks; "1" "Yes", "0" "No", else "Unknown".
std::string YesNoValue(std::string_view value);
// A count of seconds written as years/months/days/hours/minutes/seconds, each followed by a blank
// ("3725" gives "1 hour 2 minutes 5 seconds "). `unit_seconds` is 60 for a count of minutes.
// Not an integer (or too large to count): "Unknown".
std::string DurationValue(std::string_view value, int unit_seconds = 1);
// Marks; otherwise DurationValue.
std::string MarkedDuration(std::string_view value, int unit_seconds = 1);
// Marks; "0" "Not limited"; otherwise DurationValue of seconds.
std::string LimitValue(std::string_view value);
std::string StabiliserValue(std::string_view value);
std::string FrequencyValue(std::string_view value);
std::string DipSpeedValue(std::string_view value);
std::string ThresholdModeValue(std::string_view value);
std::string ExecutedValue(std::string_view value);
// Marks; "0" "Single Phase"; "1" "Three Phase" (input) or "Three Phase (120°)" (output); "2"
// "Three Single Phases"; else "Unknown".
std::string PhaseConfigValue(std::string_view value, bool output, const RenderStyle& style);
std::string OnOffValue(std::string_view value);
std::string ContactValue(std::string_view value);
// "&" "Not available"; "0" "Disabled"; otherwise PlainValue followed by " %".
std::string MinChargeValue(std::string_view value);
// "hh:mm:ss " when hour, minutes and seconds are free of marks, "dd/mm/yy " when day, month and year
// are, "(weekday)" when the weekday is; "Not available" when nothing is. Fields as received.
std::string ClockValue(std::string_view year, std::string_view month, std::string_view day, std::string_view hour,
                       std::string_view minutes, std::string_view seconds, std::string_view weekday);
// "0" "ALL", "1" "CRITICAL", "2" "WARNING", "3" "INFO", else "UNKNOWN".
std::string ListNameValue(std::string_view value);
// 0 "Sunday" ... 6 "Saturday", else "Invalid parameter".
std::string WeekdayValue(int64_t day);
std::string WeekdayValue(std::string_view value);

}  // namespace keep::console

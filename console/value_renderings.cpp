#include "console/value_renderings.h"

#include <charconv>
#include <initializer_list>
#include <limits>
#include <utility>

namespace keep::console {

namespace {

using Choice = std::pair<std::string_view, std::string_view>;

// Marks, then the text of the first matching choice, else "Unknown".
std::string Choose(std::string_view value, std::initializer_list<Choice> choices) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  for (const Choice& choice : choices) {
    if (choice.first == value) return std::string(choice.second);
  }
  return std::string(kUnknown);
}

// N / divisor in the shortest exact decimal form: 2305/10 "230.5", 5000/100 "50", -5/10 "-0.5".
std::string ScaledDecimal(int64_t n, int64_t divisor, int digits) {
  const bool negative = n < 0;
  // Work on the magnitude as unsigned so that the smallest 64-bit value does not overflow.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  const uint64_t whole = magnitude / static_cast<uint64_t>(divisor);
  uint64_t fraction = magnitude % static_cast<uint64_t>(divisor);
  std::string text = negative ? "-" : "";
  text += std::to_string(whole);
  if (fraction != 0) {
    std::string decimals = std::to_string(fraction);
    decimals.insert(0, static_cast<size_t>(digits) - decimals.size(), '0');
    while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
    text += '.';
    text += decimals;
  }
  return text;
}

std::string ScaledValue(std::string_view value, std::string_view unit, int64_t divisor, int digits) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  const std::optional<int64_t> n = ParseInteger(value);
  if (!n) return std::string(kUnknown);
  std::string text = ScaledDecimal(*n, divisor, digits);
  if (!unit.empty()) {
    text += ' ';
    text += unit;
  }
  return text;
}

bool IsMark(std::string_view value) { return value == "&" || value == "@"; }

}  // namespace

std::optional<int64_t> ParseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest != end) return std::nullopt;
  return value;
}

std::optional<std::string> MarkText(std::string_view value) {
  if (value == "&") return std::string(kNotAvailable);
  if (value == "@") return std::string("Overrange");
  return std::nullopt;
}

std::string PlainValue(std::string_view value, std::string_view unit) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  std::string text(value);
  if (!unit.empty()) {
    text += ' ';
    text += unit;
  }
  return text;
}

std::string RatingValue(std::string_view value, std::string shown) {
  if (value.empty()) return std::string(kNotAvailable);
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  return shown;
}

std::string NegativePlainValue(std::string_view value, std::string_view unit) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  return "-" + PlainValue(value, unit);
}

std::string TenthsValue(std::string_view value, std::string_view unit) { return ScaledValue(value, unit, 10, 1); }

std::string HundredthsValue(std::string_view value, std::string_view unit) { return ScaledValue(value, unit, 100, 2); }

std::string YesNoValue(std::string_view value) { return Choose(value, {{"1", "Yes"}, {"0", "No"}}); }

std::string DurationValue(std::string_view value, int unit_seconds) {
  const std::optional<int64_t> count = ParseInteger(value);
  if (!count) return std::string(kUnknown);
  if (unit_seconds > 1 && (*count > std::numeric_limits<int64_t>::max() / unit_seconds ||
                           *count < std::numeric_limits<int64_t>::min() / unit_seconds)) {
    return std::string(kUnknown);
  }
  int64_t n = *count * unit_seconds;
  std::string text;
  // One unit: written when it fits into what is left, or when nothing is left (so "0 minutes").
  auto write = [&](int64_t unit, std::string_view name, bool always = false) {
    if (!always && !(unit <= n || n == 0)) return false;
    const int64_t amount = n / unit;
    text += std::to_string(amount);
    text += ' ';
    text += name;
    if (amount > 1 || n == 0) text += 's';
    text += ' ';
    n %= unit;
    return true;
  };
  if (n > 59) {
    const bool year = write(31'536'000, "year");
    if (!year) write(2'592'000, "month");
    write(86'400, "day");
    write(3'600, "hour");
    write(60, "minute");
  }
  write(1, "second", true);
  return text;
}

std::string MarkedDuration(std::string_view value, int unit_seconds) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  return DurationValue(value, unit_seconds);
}

std::string LimitValue(std::string_view value) {
  if (std::optional<std::string> mark = MarkText(value)) return *mark;
  if (value == "0") return "Not limited";
  return DurationValue(value);
}

std::string StabiliserValue(std::string_view value) {
  return Choose(value, {{"1", "220 V"}, {"2", "230 V"}, {"3", "240 V"}});
}

std::string FrequencyValue(std::string_view value) { return Choose(value, {{"0", "50 Hz"}, {"1", "60 Hz"}}); }

std::string DipSpeedValue(std::string_view value) {
  return Choose(value, {{"1", "Fast"}, {"2", "Normal"}, {"3", "Low"}});
}

std::string ThresholdModeValue(std::string_view value) { return Choose(value, {{"0", "Manual"}, {"1", "Automatic"}}); }

std::string ExecutedValue(std::string_view value) { return Choose(value, {{"1", "Executed"}, {"0", "Not executed"}}); }

std::string PhaseConfigValue(std::string_view value, bool output, const RenderStyle& style) {
  if (value == "1" && output) return "Three Phase (120" + style.degree + ")";
  return Choose(value, {{"0", "Single Phase"}, {"1", "Three Phase"}, {"2", "Three Single Phases"}});
}

std::string OnOffValue(std::string_view value) { return Choose(value, {{"0", "Off"}, {"1", "On"}}); }

std::string ContactValue(std::string_view value) {
  return Choose(value, {{"1", "Normally Opened"}, {"0", "Normally Closed"}});
}

std::string MinChargeValue(std::string_view value) {
  if (value == "&") return std::string(kNotAvailable);
  if (value == "0") return "Disabled";
  return PlainValue(value) + " %";
}

std::string ClockValue(std::string_view year, std::string_view month, std::string_view day, std::string_view hour,
                       std::string_view minutes, std::string_view seconds, std::string_view weekday) {
  std::string text;
  if (!IsMark(hour) && !IsMark(minutes) && !IsMark(seconds)) {
    text += std::string(hour) + ":" + std::string(minutes) + ":" + std::string(seconds) + " ";
  }
  if (!IsMark(day) && !IsMark(month) && !IsMark(year)) {
    text += std::string(day) + "/" + std::string(month) + "/" + std::string(year) + " ";
  }
  if (!IsMark(weekday)) text += "(" + WeekdayValue(weekday) + ")";
  if (text.empty()) return std::string(kNotAvailable);
  return text;
}

std::string ListNameValue(std::string_view value) {
  if (value == "0") return "ALL";
  if (value == "1") return "CRITICAL";
  if (value == "2") return "WARNING";
  if (value == "3") return "INFO";
  return "UNKNOWN";
}

std::string WeekdayValue(int64_t day) {
  static constexpr std::string_view kNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                "Thursday", "Friday", "Saturday"};
  if (day < 0 || day > 6) return "Invalid parameter";
  return std::string(kNames[day]);
}

std::string WeekdayValue(std::string_view value) {
  const std::optional<int64_t> day = ParseInteger(value);
  return WeekdayValue(day.value_or(-1));
}

}  // namespace keep::console

#include "common/time_text.h"

#include <charconv>

namespace keep {

bool ParseDecimalInt64(std::string_view text, int64_t& value) {
  // from_chars takes "-" but not "+", and would also accept a sign followed by nothing else.
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') return false;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::optional<DateTime> SecondsToTime(std::string_view text) {
  int64_t seconds = 0;
  if (!ParseDecimalInt64(text, seconds)) return DateTime();
  if (seconds < 0 || seconds >= kSecondsPerDay) return std::nullopt;
  return DateTime::FromMilliseconds(seconds * 1000);
}

}  // namespace keep

#include "tools/upssim/sim_numbers.h"

#include <charconv>
#include <cmath>

namespace keep::tools {

std::string FormatFixed(double value, int decimals, int width) {
  if (!std::isfinite(value)) value = 0;
  // "-0.0" would read as a negative reading on the far side.
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return std::string(static_cast<size_t>(width > 0 ? width : 1), '0');
  std::string digits(buffer, end);
  std::string sign;
  if (!digits.empty() && digits.front() == '-') {
    sign = "-";
    digits.erase(0, 1);
  }
  const size_t wanted = width > 0 ? static_cast<size_t>(width) : 0;
  if (sign.size() + digits.size() < wanted) digits.insert(0, wanted - sign.size() - digits.size(), '0');
  return sign + digits;
}

std::optional<double> ParseDecimal(std::string_view text) {
  std::string_view rest = text;
  if (!rest.empty() && rest.front() == '-') rest.remove_prefix(1);
  const size_t dot = rest.find('.');
  const std::string_view whole = rest.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  const auto all_digits = [](std::string_view part) {
    for (char c : part) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  if (whole.empty() || !all_digits(whole)) return std::nullopt;
  if (dot != std::string_view::npos && (fraction.empty() || !all_digits(fraction))) return std::nullopt;
  // A long run of digits is no reading anyone types; refusing it keeps the conversion exact enough.
  if (rest.size() > 32) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> ParseWhole(std::string_view text, int max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

}  // namespace keep::tools

#include "common/format_settings.h"

#include <cctype>
#include <cstdint>

namespace keep {
namespace {

constexpr const char* kShortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kShortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                           "July",    "August",   "September", "October", "November", "December"};

void AppendNumber(std::string& out, int64_t value, size_t min_digits) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  if (digits.size() < min_digits) out.append(min_digits - digits.size(), '0');
  out += digits;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

std::string FormatDateTime(std::string_view pattern, const TFormatSettings& settings, DateTime when) {
  const CivilDateTime c = when.ToCivil();
  std::string out;
  // Letters are matched without regard to case, as in the classic format strings; "m" turns into
  // minutes when the previous token (separators do not count) was an hour.
  char last_token = 0;
  size_t i = 0;
  while (i < pattern.size()) {
    const char ch = pattern[i];
    const char token = Upper(ch);
    size_t count = 1;
    while (i + count < pattern.size() && Upper(pattern[i + count]) == token) ++count;
    switch (token) {
      case 'D':
        if (count <= 2) {
          AppendNumber(out, c.day, count);
        } else {
          out += (count == 3 ? kShortDayNames : kLongDayNames)[when.Weekday()];
        }
        break;
      case 'M':
        if (last_token == 'H') {
          AppendNumber(out, c.minute, count >= 2 ? 2 : 1);
        } else if (count <= 2) {
          AppendNumber(out, c.month, count);
        } else {
          out += (count == 3 ? kShortMonthNames : kLongMonthNames)[c.month - 1];
        }
        break;
      case 'Y':
        if (count <= 2) {
          AppendNumber(out, c.year % 100, 2);
        } else {
          AppendNumber(out, c.year, 4);
        }
        break;
      case 'H':
        AppendNumber(out, c.hour, count >= 2 ? 2 : 1);
        break;
      case 'N':
        AppendNumber(out, c.minute, count >= 2 ? 2 : 1);
        break;
      case 'S':
        AppendNumber(out, c.second, count >= 2 ? 2 : 1);
        break;
      case 'Z':
        AppendNumber(out, c.millisecond, count >= 2 ? 3 : 1);
        break;
      case '/':
        count = 1;
        out += settings.DateSeparator;
        break;
      case ':':
        count = 1;
        out += settings.TimeSeparator;
        break;
      default:
        count = 1;
        out += ch;
        break;
    }
    if (token >= 'A' && token <= 'Z') last_token = token == 'M' && last_token == 'H' ? 'N' : token;
    i += count;
  }
  return out;
}

}  // namespace keep

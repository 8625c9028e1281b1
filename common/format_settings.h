// The number and date formats every text of the system is printed and parsed with. Never the C
// locale's: the server's files and answers must read the same on every machine.
#pragma once

#include <string>
#include <string_view>

#include "common/date_time.h"

namespace keep {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd/MM/yyyy";
  std::string LongDateFormat = "dd/MM/yyyy";
  std::string LongTimeFormat = "hh:mm:ss";
};

// Formats `when` with a pattern of the classic kind: d dd ddd dddd M MM MMM MMMM yy yyyy h hh n nn
// s ss z zzz (letters in any case; ddd/dddd and MMM/MMMM give English names), "mm"
// meaning minutes right after an hour token and month otherwise, "/" and ":" standing for the
// settings' date and time separators, any other character copied.
std::string FormatDateTime(std::string_view pattern, const TFormatSettings& settings, DateTime when);

inline std::string FormatShortDate(const TFormatSettings& s, DateTime when) {
  return FormatDateTime(s.ShortDateFormat, s, when);
}
inline std::string FormatLongTime(const TFormatSettings& s, DateTime when) {
  return FormatDateTime(s.LongTimeFormat, s, when);
}

}  // namespace keep

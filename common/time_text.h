// Counts of seconds since midnight, as the scheduler and the client protocol carry them, turned
// into a time of day. Pure function, callable from any thread.
#pragma once

#include <optional>
#include <string_view>

#include "common/date_time.h"

namespace keep {

// The error text reported when a count lies outside a day.
inline constexpr char kTimeEncodeError[] = "Invalid argument to time encode";

inline constexpr int64_t kSecondsPerDay = 86'400;

// True when `text` is an optional "+" or "-" followed by one or more decimal digits whose value fits
// in 64 bits; the value is stored in `value`. No blanks, no hexadecimal.
bool ParseDecimalInt64(std::string_view text, int64_t& value);

// A valid integer S in 0..86399 gives the time of day S seconds after midnight of day 0. Text that
// is not a valid integer gives DateTime() (midnight, day 0). A valid integer outside 0..86399 gives
// nullopt; the caller reports kTimeEncodeError.
std::optional<DateTime> SecondsToTime(std::string_view text);

}  // namespace keep

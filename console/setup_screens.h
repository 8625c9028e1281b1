// Conversions the setting screens apply to what the user typed before it is sent.
#pragma once

#include <optional>

namespace keep::console {

// A decimal value rounded to one significant digit, then in tenths: 10.5 gives 100, 0.55 gives 6.
// Thresholds typed with more precision are thus coarsened before the UPS sees them. Results beyond
// the range of int are clamped to it.
int ToTenths(double value);

// The year field of the clock request: a four-digit year keeps its last two digits (2026 gives 26);
// any other year is sent as typed.
int ClockYearField(int year);

}  // namespace keep::console

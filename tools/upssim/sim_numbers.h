// Number texts of the simulator: the fixed-width decimals of UPS answers and the numbers typed on
// the control interface. Never the C locale's: "." is always the decimal separator. Pure functions,
// callable from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keep::tools {

// `value` with exactly `decimals` digits after "." (none and no "." when 0), padded on the left with
// zeros to at least `width` characters, a minus sign kept in front: (34, 0, 3) -> "034",
// (-5, 1, 5) -> "-05.0". A value that rounds to zero never shows a minus sign.
std::string FormatFixed(double value, int decimals, int width);

// A plain decimal: an optional "-", digits, optionally "." and more digits ("42", "-3.5", "2.27").
// Empty for anything else (blanks, "+", exponents, "inf", "nan", "1.", ".5").
std::optional<double> ParseDecimal(std::string_view text);

// A whole number of digits only, at most `max`. Empty for anything else.
std::optional<int> ParseWhole(std::string_view text, int max);

}  // namespace keep::tools

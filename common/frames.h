// Frames: every message between server and clients (and between servers of the remote shutdown
// network) travels as "<|" + fields joined with "|" + "|>". The receiver splits it with SplitText on
// "|", so "<" and ">" stand as its first and last fields. Fields must not contain "|" or line
// breaks; these builders do not check that. Pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/text_lists.h"

namespace keep {

inline constexpr std::string_view kFrameOpen = "<|";
inline constexpr std::string_view kFrameClose = "|>";

// "<|" + body + "|>", the body unchanged (callers join code and fields with "|" first).
std::string MakeFrame(std::string_view body);

// The frame of `n` in plain decimal: no leading zeros, "-" when negative.
std::string MakeCodeFrame(int64_t n);

// The entries joined with "|" and framed; when that body is blank (codes 0..32 only, or empty) it is
// returned unframed, so an empty list gives the empty text.
std::string MakeListFrame(const TStringList& list);

}  // namespace keep

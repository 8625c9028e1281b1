// Message templates: the language texts carry "$" placeholders, filled in order, and "^" for a line
// break. Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

#include "common/text_lists.h"

namespace keep {

inline constexpr char kParamMark = '$';
inline constexpr char kLineBreakMark = '^';

// Every "^" replaced by a single carriage return (code 13), not CR LF.
std::string ExpandLineBreaks(std::string_view text);

// ExpandLineBreaks(tmpl), then for each argument in order the first "$" of the whole text so far is
// replaced by it. The search starts again at the beginning every time, so a "$" inside an earlier
// argument is the one the next argument replaces. Surplus marks stay; surplus arguments do nothing.
std::string FillParams(std::string_view tmpl, const TStringList& args);

// FillParams with the one argument.
std::string FillParam(std::string_view tmpl, std::string_view arg);

}  // namespace keep

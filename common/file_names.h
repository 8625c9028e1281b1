// Recognising the scripts that are started through the command interpreter. Pure function.
#pragma once

#include <string_view>

namespace keep {

// The extension of the last path element ("\" and "/" both separate), from its last "." inclusive;
// empty when that element has no ".".
std::string_view FileExtension(std::string_view file_name);

// True when the extension, upper-cased, is ".BAT", ".CMD" or ".SH" (the POSIX shutdown script).
bool IsBatchFile(std::string_view file_name);

}  // namespace keep

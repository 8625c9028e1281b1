// Texts of system error codes.
#pragma once

#include <string>

namespace keep::platform {

// The operating system's description of `code` (errno on POSIX); never empty.
std::string SystemErrorText(int code);

}  // namespace keep::platform

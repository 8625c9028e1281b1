// Text between the program (UTF-8) and the wide-character calls of Windows. Internal to platform/:
// only _win files include it.
#pragma once

#include <string>
#include <string_view>

namespace keep::platform {

// Invalid UTF-8 becomes U+FFFD; a NUL inside the text is kept (the caller decides whether that is
// acceptable).
std::wstring WideFromUtf8(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace keep::platform

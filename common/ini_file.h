// Reading one value from an ini-style file (the language and message files), the way a
// profile-string reader does. Pure lookup plus a reader that opens the file anew on every call, so
// an edited language file is seen at once; nothing is cached. Callable from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace keep {

// Longest value returned; longer values are cut.
inline constexpr size_t kIniMaxValueLength = 2047;
// At most this much of a file is read; entries past it are not found.
inline constexpr size_t kIniMaxFileSize = 4 * 1024 * 1024;

// Looks `key` up in `section` of the ini text `content`. A line "[name]" opens a section; lines
// "key=value" hold its entries; lines whose first non-blank character is ";" are comments; lines end
// with LF or CR LF. Section and key names are trimmed of blanks and compared without regard to
// (ASCII) case; the first matching section and the first matching key in it win. The value is
// trimmed of blanks, a pair of enclosing quotes (both " or both ') is removed, and it is cut to
// kIniMaxValueLength characters. Missing section or key: "".
std::string LookupIniValue(std::string_view content, std::string_view section, std::string_view key);

// LookupIniValue on the first kIniMaxFileSize bytes of the file; "" when it cannot be read.
std::string ReadIniValue(const std::string& file_name, std::string_view section, std::string_view key);

}  // namespace keep

#include "platform/wide_text_win.h"

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace keep::platform {

std::wstring WideFromUtf8(std::string_view text) {
  // The conversion calls count in int; longer texts than that have no place in a system call.
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

}  // namespace keep::platform

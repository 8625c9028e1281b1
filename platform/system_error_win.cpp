#include <windows.h>

#include <string>

#include "platform/system_error.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

// Codes are GetLastError and WSAGetLastError values; the text comes in the user's language.
std::string SystemErrorText(int code) {
  wchar_t buffer[512] = {};
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                       buffer, static_cast<DWORD>(sizeof buffer / sizeof buffer[0]), nullptr);
  std::wstring_view text(buffer, length);
  // System texts end in a line break (and often a full stop) that would split a log line.
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  std::string result = Utf8FromWide(text);
  if (result.empty()) return "Unknown error " + std::to_string(code);
  return result;
}

}  // namespace keep::platform

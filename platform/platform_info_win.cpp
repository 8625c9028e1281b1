// Platform facts on Windows: the system's own version and name, and the version resource of a file.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform_info.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// Paths longer than this are not worth a bigger buffer.
constexpr DWORD kMaxPath = 32768;
// A version resource is a few kilobytes; a file claiming more is not read.
constexpr DWORD kMaxVersionBytes = 1024 * 1024;

}  // namespace

// The build targets Vista and later, which are all of the NT family.
bool IsNT() { return true; }

bool IsVistaOrLater() { return true; }

std::string VersionText(const std::string& file) {
  if (file.empty() || file.find('\0') != std::string::npos) return "";
  const std::wstring path = WideFromUtf8(file);
  DWORD unused = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &unused);
  if (size == 0 || size > kMaxVersionBytes) return "";
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return "";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return "";
  }
  VersionNumber version;
  version.major = static_cast<int>(HIWORD(fixed->dwFileVersionMS));
  version.minor = static_cast<int>(LOWORD(fixed->dwFileVersionMS));
  version.release = static_cast<int>(HIWORD(fixed->dwFileVersionLS));
  version.build = static_cast<int>(LOWORD(fixed->dwFileVersionLS));
  return FormatVersionText(version);
}

std::string ComputerName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buffer, &length)) return "";
  std::string name = Utf8FromWide(std::wstring_view(buffer, length));
  // ASCII only, as on POSIX: the locale must not change how names compare.
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (buffer.size() <= kMaxPath) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    // A full buffer means a cut-off path.
    if (length < buffer.size()) return Utf8FromWide(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
  return "";
}

}  // namespace keep::platform

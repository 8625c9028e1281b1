// On Windows the configuration is the registry: the "hive file" checked is a key, named in full
// ("HKEY_LOCAL_MACHINE\Software\..."). A missing key is the counterpart of a missing file; a key the
// account may not read, or one below another root, cannot serve.
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/hive_file_check.h"
#include "platform/hive_registry.h"
#include "platform/system_error.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

HiveFileCheck Failed(HiveFileState state, std::string reason) { return {state, std::move(reason)}; }

}  // namespace

HiveFileCheck CheckHiveFile(const std::string& path) {
  const std::string_view root = kSystemRegistryRoot;
  std::string_view key = path;
  if (key.size() <= root.size() || !SameLetters(key.substr(0, root.size()), root) || key[root.size()] != '\\') {
    return Failed(HiveFileState::kUnreadable, "not a key below " + std::string(root));
  }
  key.remove_prefix(root.size() + 1);
  // A NUL would end the name early in the system call and check another key.
  if (key.empty() || key.find('\0') != std::string_view::npos) {
    return Failed(HiveFileState::kUnreadable, "not a key name");
  }
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(key).c_str(), 0, KEY_READ, &opened);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
    return Failed(HiveFileState::kFileMissing, SystemErrorText(static_cast<int>(status)));
  }
  if (status != ERROR_SUCCESS) return Failed(HiveFileState::kUnreadable, SystemErrorText(static_cast<int>(status)));
  // Opening is not reading: ask the key what it holds, as the first setting read will.
  DWORD values = 0;
  const LSTATUS query = ::RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                           nullptr, nullptr, nullptr, nullptr);
  ::RegCloseKey(opened);
  if (query != ERROR_SUCCESS) return Failed(HiveFileState::kUnreadable, SystemErrorText(static_cast<int>(query)));
  return {};
}

}  // namespace keep::platform

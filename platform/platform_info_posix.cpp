// Platform facts on POSIX: the system counts as the newest Windows family the logic knows, and the
// version of every program is the one compiled in.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform_info.h"

namespace keep::platform {

namespace {

// Paths longer than this are not worth a bigger buffer.
constexpr size_t kMaxPath = 65536;

}  // namespace

bool IsNT() { return true; }

bool IsVistaOrLater() { return true; }

std::string VersionText(const std::string& file) {
  struct stat info;
  if (file.empty() || ::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  return FormatVersionText(ProgramVersion());
}

std::string ComputerName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return "";
  std::string name(buffer);
  // ASCII only: host names are, and the locale must not change how they compare.
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX);
  while (buffer.size() <= kMaxPath) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    // A full buffer may mean a cut-off path: readlink does not say.
    if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(length));
    buffer.resize(buffer.size() * 2);
  }
  return "";
}

}  // namespace keep::platform

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>

#include "platform/hive_file_check.h"
#include "platform/hive_format.h"
#include "platform/hive_registry.h"
#include "platform/system_error.h"

namespace keep::platform {

namespace {

HiveFileCheck Failed(HiveFileState state, std::string reason) { return {state, std::move(reason)}; }

// The file is not there: say whether its folder is, since that is a different mistake (a wrong
// path, or an installation never laid out) from a folder without its hive.
HiveFileCheck MissingFile(const std::string& path, int open_error) {
  struct stat folder {};
  if (::stat(HiveFolderOf(path).c_str(), &folder) != 0) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return Failed(HiveFileState::kFolderMissing, SystemErrorText(code));
    return Failed(HiveFileState::kUnreadable, SystemErrorText(code));
  }
  if (!S_ISDIR(folder.st_mode)) return Failed(HiveFileState::kFolderMissing, SystemErrorText(ENOTDIR));
  return Failed(HiveFileState::kFileMissing, SystemErrorText(open_error));
}

HiveFileCheck CheckOpened(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Failed(HiveFileState::kUnreadable, SystemErrorText(errno));
  if (S_ISDIR(info.st_mode)) return Failed(HiveFileState::kUnreadable, SystemErrorText(EISDIR));
  if (!S_ISREG(info.st_mode)) return Failed(HiveFileState::kUnreadable, "not a regular file");
  if (static_cast<uintmax_t>(info.st_size) > kHiveMaxBytes) {
    return Failed(HiveFileState::kUnreadable, "larger than " + std::to_string(kHiveMaxBytes) + " bytes");
  }
  // Opening is not reading: a file on a failing disk or a network share can refuse the read itself.
  char byte = 0;
  while (::read(fd, &byte, 1) < 0) {
    if (errno != EINTR) return Failed(HiveFileState::kUnreadable, SystemErrorText(errno));
  }
  return {};
}

}  // namespace

HiveFileCheck CheckHiveFile(const std::string& path) {
  // O_NONBLOCK so a FIFO put in the hive's place cannot hang the start in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return MissingFile(path, code);
    return Failed(HiveFileState::kUnreadable, SystemErrorText(code));
  }
  HiveFileCheck result = CheckOpened(fd);
  ::close(fd);
  return result;
}

}  // namespace keep::platform

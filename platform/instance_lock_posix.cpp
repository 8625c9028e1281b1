#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/instance_lock.h"
#include "platform/system_error.h"

namespace keep::platform {

namespace {

// The lock lives as long as the descriptor: closing it, or the process dying, releases it.
class PosixInstanceLock final : public InstanceLock {
 public:
  explicit PosixInstanceLock(int fd) : fd_(fd) {}
  PosixInstanceLock(const PosixInstanceLock&) = delete;
  PosixInstanceLock& operator=(const PosixInstanceLock&) = delete;
  ~PosixInstanceLock() override { ::close(fd_); }

 private:
  int fd_;
};

}  // namespace

InstanceLock::Result InstanceLock::Acquire(const std::string& folder, const std::string& name,
                                           std::unique_ptr<InstanceLock>* lock, std::string* error) {
  const std::string path = folder + "/" + name + ".lock";
  // Read-only is enough for flock, and lets a lock file created by another user be shared.
  // Close-on-exec keeps started programs from holding the lock after keepd has gone.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error != nullptr) *error = "cannot open " + path + ": " + SystemErrorText(errno);
    return Result::kError;
  }
  int result = 0;
  while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result != 0) {
    const int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) return Result::kAlreadyHeld;
    if (error != nullptr) *error = "cannot lock " + path + ": " + SystemErrorText(code);
    return Result::kError;
  }
  *lock = std::make_unique<PosixInstanceLock>(fd);
  return Result::kAcquired;
}

}  // namespace keep::platform

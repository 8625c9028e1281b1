// A machine-wide single-instance guard, held for the life of the process.
#pragma once

#include <memory>
#include <string>

namespace keep::platform {

class InstanceLock {
 public:
  enum class Result { kAcquired, kAlreadyHeld, kError };

  virtual ~InstanceLock() = default;  // releases the lock

  // Takes the lock called `name` (on POSIX: flock on "<folder>/<name>.lock", the file created when
  // missing). `*lock` is set only with kAcquired; `*error` says why with kError.
  static Result Acquire(const std::string& folder, const std::string& name, std::unique_ptr<InstanceLock>* lock,
                        std::string* error);
};

}  // namespace keep::platform

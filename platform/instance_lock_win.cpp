// The single-instance guard as a named mutex in the global namespace, so a second program is refused
// whichever session (service or desktop) started it.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/instance_lock.h"
#include "platform/system_error.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// The mutex lives as long as a handle to it: closing it, or the process ending, releases the name.
class MutexInstanceLock final : public InstanceLock {
 public:
  explicit MutexInstanceLock(HANDLE mutex) : mutex_(mutex) {}
  MutexInstanceLock(const MutexInstanceLock&) = delete;
  MutexInstanceLock& operator=(const MutexInstanceLock&) = delete;
  ~MutexInstanceLock() override { ::CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

}  // namespace

// `folder` has no part here: the name alone is machine-wide.
InstanceLock::Result InstanceLock::Acquire(const std::string& /*folder*/, const std::string& name,
                                           std::unique_ptr<InstanceLock>* lock, std::string* error) {
  // A backslash would name another namespace; the name must be the name.
  if (name.empty() || name.find_first_of(std::string("\\\0", 2)) != std::string::npos) {
    if (error != nullptr) *error = "invalid instance lock name";
    return Result::kError;
  }
  const std::wstring full = L"Global\\" + WideFromUtf8(name);
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, full.c_str());
  const DWORD code = ::GetLastError();
  if (mutex == nullptr) {
    // Another instance running under another account can deny us even the open.
    if (code == ERROR_ACCESS_DENIED) return Result::kAlreadyHeld;
    if (error != nullptr) *error = "cannot create mutex " + name + ": " + SystemErrorText(static_cast<int>(code));
    return Result::kError;
  }
  if (code == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return Result::kAlreadyHeld;
  }
  *lock = std::make_unique<MutexInstanceLock>(mutex);
  return Result::kAcquired;
}

}  // namespace keep::platform

// Keeps the system's socket library started while it lives. Internal to platform/: every object that
// owns sockets holds one, so the library is up before its first socket and down after its last.
// Windows counts the starts; POSIX needs none, and there it costs nothing.
#pragma once

#include <memory>

namespace keep::platform {

class SocketLibrary {
 public:
  SocketLibrary();
  // 0, or the code the library failed to start with (every socket call would fail too).
  int status() const { return status_; }

 private:
  std::shared_ptr<void> session_;  // shared by the copies
  int status_ = 0;
};

}  // namespace keep::platform

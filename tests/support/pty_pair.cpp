#include "tests/support/pty_pair.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace keep::test {

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    master_ = -1;
    return;
  }
  slave_path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0) return;
  // No echo and no line editing, so the bytes a test writes are the bytes that arrive.
  termios t{};
  if (::tcgetattr(slave_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
  }
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slave_ >= 0) ::close(slave_);
}

void PtyPair::WriteMaster(std::string_view bytes) {
  while (!bytes.empty() && master_ >= 0) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string PtyPair::ReadMaster(size_t count, std::chrono::milliseconds limit) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (text.size() < count && master_ >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd in{master_, POLLIN, 0};
    if (::poll(&in, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - text.size()));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

bool PtyPair::WaitSlaveQueue(int count, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int level = 0;
    if (::ioctl(slave_, FIONREAD, &level) == 0 && level >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

int CountProcessThreads() {
  int count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

bool ThreadsSettleAt(int expected, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (CountProcessThreads() != expected) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace keep::test

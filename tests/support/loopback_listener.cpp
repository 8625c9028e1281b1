#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>

namespace keep::test {

LoopbackListener::LoopbackListener(int backlog) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  // Port 0 lets the system pick a free port; getsockname tells which.
  ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::listen(fd_, backlog) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0;
  port_ = ntohs(local.sin_port);
}

LoopbackListener::~LoopbackListener() {
  ClosePeer();
  if (fd_ >= 0) ::close(fd_);
}

bool LoopbackListener::Accept(std::chrono::milliseconds limit) {
  pollfd entry{fd_, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(limit.count())) != 1) return false;
  ClosePeer();
  peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  return peer_ >= 0;
}

bool LoopbackListener::Pending() const {
  pollfd entry{fd_, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1;
}

bool LoopbackListener::Write(const std::string& data) {
  return ::send(peer_, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

std::string LoopbackListener::Read(size_t count, std::chrono::milliseconds limit) {
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    pollfd entry{peer_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) != 1) break;
    const ssize_t n = ::recv(peer_, buffer, std::min(sizeof buffer, count - data.size()), 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

bool LoopbackListener::SeesEnd(std::chrono::milliseconds limit) {
  pollfd entry{peer_, POLLIN, 0};
  char byte = 0;
  return ::poll(&entry, 1, static_cast<int>(limit.count())) == 1 && ::recv(peer_, &byte, 1, 0) == 0;
}

void LoopbackListener::ClosePeer(bool reset) {
  if (peer_ < 0) return;
  if (reset) {
    // A zero linger time makes close() abort the connection.
    const linger abort{1, 0};
    ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  ::close(peer_);
  peer_ = -1;
}

namespace {

// The first port the system hands out for outgoing connections; below it, no client socket of a
// parallel test can take a port between our check and the server's bind.
int FirstEphemeralPort() {
  std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
  int first = 0;
  return range >> first && first > 2048 ? first : 32768;
}

bool Bindable(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
  ::close(fd);
  return free;
}

}  // namespace

int ClosedLoopbackPort() {
  // Random ports below the ephemeral range: a port picked by the system (port 0) is one that the
  // very next outgoing connection of another test may get, which made servers under test fail to
  // bind now and then. Parallel test processes pick independently, so the draw is random.
  static std::mt19937 draw{std::random_device{}()};
  const int last = FirstEphemeralPort() - 1;
  const int first = std::max(1024, last - 16000);
  std::uniform_int_distribution<int> pick(first, last);
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = pick(draw);
    if (Bindable(port)) return port;
  }
  const LoopbackListener probe;
  return probe.Port();
}

}  // namespace keep::test

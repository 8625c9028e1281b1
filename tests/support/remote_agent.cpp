#include "tests/support/remote_agent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace keep::test {
namespace {

constexpr int kSliceMs = 10;
// Far more than any command; a peer that sends more is recorded only up to here.
constexpr size_t kMaxRecorded = 1024 * 1024;

}  // namespace

RemoteAgent::RemoteAgent(std::optional<std::string> greeting) : greeting_(std::move(greeting)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  ok_ = listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::listen(listener_, 16) == 0 && ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) == 0;
  port_ = ntohs(local.sin_port);
  if (ok_) acceptor_ = std::thread([this] { AcceptLoop(); });
}

RemoteAgent::~RemoteAgent() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& thread : threads_) thread.join();
  if (listener_ >= 0) ::close(listener_);
}

void RemoteAgent::AcceptLoop() {
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, kSliceMs) != 1) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    size_t index = 0;
    {
      const std::lock_guard lock(mutex_);
      index = sessions_.size();
      sessions_.emplace_back();
    }
    changed_.notify_all();
    threads_.emplace_back([this, fd, index] { Serve(fd, index); });
  }
}

void RemoteAgent::Serve(int fd, size_t index) {
  if (greeting_) {
    const std::string line = *greeting_ + "\r\n";
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  }
  char buffer[4096];
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, kSliceMs) != 1) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    const std::lock_guard lock(mutex_);
    if (n <= 0) {
      sessions_[index].closed = true;
      break;
    }
    std::string& received = sessions_[index].received;
    if (received.size() < kMaxRecorded) received.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  changed_.notify_all();
}

bool RemoteAgent::WaitForClosedSessions(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] {
    if (sessions_.size() < count) return false;
    size_t closed = 0;
    for (const Session& session : sessions_) closed += session.closed ? 1 : 0;
    return closed >= count;
  });
}

size_t RemoteAgent::Accepted() const {
  const std::lock_guard lock(mutex_);
  return sessions_.size();
}

std::string RemoteAgent::Received(size_t index) const {
  const std::lock_guard lock(mutex_);
  return index < sessions_.size() ? sessions_[index].received : std::string();
}

}  // namespace keep::test

// The loop's poller on Windows: WSAPoll over the watched sockets plus one socket of its own that
// Wake makes readable. (WSAPoll waits on sockets only; a loopback UDP socket sending to itself is
// the simplest wake-up it can see.)
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "platform/readiness_poller.h"
#include "platform/socket_win.h"

namespace keep::platform {
namespace {

struct Watched {
  unsigned events = 0;
  uint64_t token = 0;
};

class WsaPoller final : public ReadinessPoller {
 public:
  WsaPoller(std::unique_ptr<WinsockSession> session, SOCKET wake) : session_(std::move(session)), wake_(wake) {}
  WsaPoller(const WsaPoller&) = delete;
  WsaPoller& operator=(const WsaPoller&) = delete;
  ~WsaPoller() override { ::closesocket(wake_); }

  int Watch(int descriptor, unsigned events, uint64_t token) override {
    // Caught here rather than by the next WSAPoll, which would fail for every watch at once.
    int type = 0;
    int length = sizeof type;
    if (::getsockopt(AsSocket(descriptor), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0) {
      return LastSocketError();
    }
    watched_[descriptor] = Watched{events, token};
    return 0;
  }

  void Forget(int descriptor) override { watched_.erase(descriptor); }

  void Wait(int timeout_ms, std::vector<Ready>* ready) override {
    ready->clear();
    entries_.clear();
    entries_.push_back(WSAPOLLFD{wake_, POLLRDNORM, 0});
    for (const auto& [descriptor, watch] : watched_) {
      SHORT wanted = 0;
      if ((watch.events & kReadable) != 0) wanted |= POLLRDNORM;
      if ((watch.events & kWritable) != 0) wanted |= POLLWRNORM;
      entries_.push_back(WSAPOLLFD{AsSocket(descriptor), wanted, 0});
    }
    const int count = ::WSAPoll(entries_.data(), static_cast<ULONG>(entries_.size()), timeout_ms < 0 ? -1 : timeout_ms);
    if (count <= 0) return;
    if (entries_[0].revents != 0) Drain();
    for (size_t i = 1; i < entries_.size(); ++i) {
      const SHORT got = entries_[i].revents;
      if (got == 0) continue;
      const auto it = watched_.find(AsDescriptor(entries_[i].fd));
      if (it == watched_.end()) continue;
      const bool broken = (got & (POLLERR | POLLHUP | POLLNVAL)) != 0;
      unsigned reported = 0;
      if ((got & POLLRDNORM) != 0 || broken) reported |= kReadable;
      if ((got & POLLWRNORM) != 0 || broken) reported |= kWritable;
      reported &= it->second.events;
      if (reported != 0) ready->push_back({it->second.token, reported});
    }
  }

  void Wake() override {
    const char one = 1;
    ::send(wake_, &one, 1, 0);
  }

 private:
  // Every wake-up queued so far counts as one.
  void Drain() {
    char bytes[64];
    while (::recv(wake_, bytes, sizeof bytes, 0) > 0) {
    }
  }

  const std::unique_ptr<WinsockSession> session_;
  const SOCKET wake_;
  std::map<int, Watched> watched_;
  std::vector<WSAPOLLFD> entries_;  // kept to save an allocation per turn
};

// A non-blocking UDP socket on loopback, connected to itself.
SOCKET OpenWakeSocket() {
  const SOCKET wake = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (wake == INVALID_SOCKET) return INVALID_SOCKET;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  if (::bind(wake, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      ::getsockname(wake, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
      ::connect(wake, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 || MakeNonBlocking(wake) != 0) {
    ::closesocket(wake);
    return INVALID_SOCKET;
  }
  return wake;
}

}  // namespace

std::unique_ptr<ReadinessPoller> ReadinessPoller::Create() {
  auto session = std::make_unique<WinsockSession>();
  if (session->status() != 0) return nullptr;
  const SOCKET wake = OpenWakeSocket();
  if (wake == INVALID_SOCKET) return nullptr;
  return std::make_unique<WsaPoller>(std::move(session), wake);
}

}  // namespace keep::platform

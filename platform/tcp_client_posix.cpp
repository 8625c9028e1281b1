#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstring>

#include "platform/tcp_client.h"

namespace keep::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The time left until `deadline` in whole milliseconds for poll(), -1 for no deadline.
int RemainingMs(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline. 0 and *ready set, or a system code.
int PollUntil(int fd, short events, bool limited, Clock::time_point deadline, bool* ready) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int n = ::poll(&entry, 1, RemainingMs(limited, deadline));
    if (n >= 0) {
      *ready = n > 0;
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int AddressInfoError(int gai_code, int saved_errno) {
  if (gai_code == EAI_SYSTEM) return MapSocketError(saved_errno);
  if (gai_code == EAI_MEMORY) return ENOMEM;
  return kSocketErrorNotConnected;
}

class PosixTcpClient : public TcpClient {
 public:
  explicit PosixTcpClient(int fd) : fd_(fd) {}
  ~PosixTcpClient() override { Close(); }
  PosixTcpClient(const PosixTcpClient&) = delete;
  PosixTcpClient& operator=(const PosixTcpClient&) = delete;

  int Send(const char* data, int size, int timeout_ms, int* sent) override {
    *sent = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    while (*sent < size) {
      // MSG_NOSIGNAL: a peer that has gone must give an error code here, not end the process.
      const ssize_t n = ::send(fd_, data + *sent, static_cast<size_t>(size - *sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        *sent += static_cast<int>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return MapSocketError(errno);
      bool ready = false;
      const int code = PollUntil(fd_, POLLOUT, limited, deadline, &ready);
      if (code != 0) return MapSocketError(code);
      if (!ready) return ETIMEDOUT;
    }
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    *count = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    if (capacity <= 0) return 0;
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
      if (n >= 0) {
        *count = static_cast<int>(n);
        return 0;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return MapSocketError(errno);
    }
  }

  int Available(int* count) override {
    *count = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) return MapSocketError(errno);
    *count = waiting > 0 ? waiting : 0;
    return 0;
  }

  int WaitReadable(int timeout_ms, bool* readable) override {
    *readable = false;
    if (fd_ < 0) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    // POLLHUP and POLLERR come back whatever is asked: a read then tells what happened.
    const int code = PollUntil(fd_, POLLIN, limited, deadline, readable);
    return code == 0 ? 0 : MapSocketError(code);
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int Descriptor() const override { return fd_; }

 private:
  int fd_;
};

}  // namespace

int MapSocketError(int system_code) {
  switch (system_code) {
    case EADDRINUSE:
      return kSocketErrorAddressInUse;
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
      return kSocketErrorNotSupported;
    case ENOTCONN:
      return kSocketErrorNotConnected;
    default:
      return system_code;
  }
}

int ResolveIpv4(const std::string& host, bool numeric_only, Ipv4Address* address) {
  if (host.empty() || host.find('\0') != std::string::npos) return kSocketErrorNotConnected;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
  addrinfo* found = nullptr;
  const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (code != 0) return AddressInfoError(code, errno);
  int result = kSocketErrorNotConnected;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in peer{};
    std::memcpy(&peer, entry->ai_addr, sizeof peer);
    std::memcpy(address->octets.data(), &peer.sin_addr.s_addr, 4);
    result = 0;
    break;
  }
  ::freeaddrinfo(found);
  return result;
}

int ResolveTcpService(const std::string& service, uint16_t* port) {
  if (service.empty() || service.find('\0') != std::string::npos) return kSocketErrorNotConnected;
  if (service.find_first_not_of("0123456789") == std::string::npos) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(service.data(), service.data() + service.size(), value);
    if (error != std::errc() || end != service.data() + service.size() || value > 65535) {
      return kSocketErrorNotConnected;
    }
    *port = static_cast<uint16_t>(value);
    return 0;
  }
  servent entry{};
  servent* found = nullptr;
  char buffer[4096];
  if (::getservbyname_r(service.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
    return kSocketErrorNotConnected;
  }
  *port = ntohs(static_cast<uint16_t>(found->s_port));
  return 0;
}

int TcpClient::Connect(const Ipv4Address& address, uint16_t port, int timeout_ms, std::unique_ptr<TcpClient>* client) {
  // Close-on-exec: programs the server starts must not hold the link open. Non-blocking, so that
  // connecting and sending wait only as long as their callers allow.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return MapSocketError(errno);
  auto fail = [fd](int code) {
    ::close(fd);
    return MapSocketError(code);
  };

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.octets.data(), 4);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return fail(errno);
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    bool ready = false;
    const int code = PollUntil(fd, POLLOUT, limited, deadline, &ready);
    if (code != 0) return fail(code);
    if (!ready) return fail(ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return fail(errno);
    if (error != 0) return fail(error);
  }
  // The bytes of a UPS protocol go out as they are sent, as on the serial line the adapter stands
  // for; a protocol that sends one character at a time must not wait for acknowledgements.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  *client = std::make_unique<PosixTcpClient>(fd);
  return 0;
}

}  // namespace keep::platform

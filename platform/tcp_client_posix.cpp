// The TCP client's socket calls and look-ups on POSIX.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/tcp_client.h"
#include "platform/tcp_client_socket.h"

namespace keep::platform {

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

namespace client_socket {

namespace {

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

}  // namespace

int TimedOutCode() { return ETIMEDOUT; }

int LookUpIpv4(const std::string& host, bool numeric_only, Ipv4Address* address) {
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

int LookUpTcpService(const std::string& service, uint16_t* port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[4096];
  if (::getservbyname_r(service.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
    return kSocketErrorNotConnected;
  }
  *port = ntohs(static_cast<uint16_t>(found->s_port));
  return 0;
}

int Connect(const Ipv4Address& address, uint16_t port, bool limited, Clock::time_point deadline, int* fd_out) {
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
  *fd_out = fd;
  return 0;
}

int Send(int fd, const char* data, int size, int* sent) {
  for (;;) {
    // MSG_NOSIGNAL: a peer that has gone must give an error code here, not end the process.
    const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      *sent = static_cast<int>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    return MapSocketError(errno);
  }
}

int Receive(int fd, char* buffer, int capacity, int* count) {
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
    if (n >= 0) {
      *count = static_cast<int>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return MapSocketError(errno);
  }
}

int BytesWaiting(int fd, int* count) {
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0) return MapSocketError(errno);
  *count = waiting > 0 ? waiting : 0;
  return 0;
}

int WaitReady(int fd, Direction direction, bool limited, Clock::time_point deadline, bool* ready) {
  // POLLHUP and POLLERR come back whatever is asked: the next call then tells what happened.
  const int code = PollUntil(fd, direction == Direction::kReadable ? POLLIN : POLLOUT, limited, deadline, ready);
  return code == 0 ? 0 : MapSocketError(code);
}

void Close(int fd) { ::close(fd); }

}  // namespace client_socket

}  // namespace keep::platform

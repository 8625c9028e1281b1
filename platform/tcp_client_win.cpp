// The TCP client's socket calls and look-ups over Winsock. Codes are Winsock's (WSAETIMEDOUT, ...),
// which SystemErrorText describes; the three the logic tells apart keep their numbers through
// MapSocketError. The socket library is up while these run (tcp_client.cpp holds it).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <cstring>

#include "platform/socket_win.h"
#include "platform/tcp_client.h"
#include "platform/tcp_client_socket.h"

namespace keep::platform {

int MapSocketError(int system_code) {
  switch (system_code) {
    case WSAEADDRINUSE:
      return kSocketErrorAddressInUse;
    case WSAEAFNOSUPPORT:
    case WSAEPROTONOSUPPORT:
    case WSAESOCKTNOSUPPORT:
      return kSocketErrorNotSupported;
    case WSAENOTCONN:
      return kSocketErrorNotConnected;
    default:
      return system_code;
  }
}

namespace client_socket {

namespace {

// Waits for a connect in progress to end. select rather than WSAPoll: Windows before 10 (2004) never
// reports a refused connect to WSAPoll, which would wait out the whole time. 0 and *done set, or a
// Winsock code.
int WaitConnected(SOCKET socket, bool limited, Clock::time_point deadline, bool* done) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  const int ms = RemainingMs(limited, deadline);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  const int n = ::select(0, nullptr, &writable, &failed, ms < 0 ? nullptr : &limit);
  if (n < 0) return LastSocketError();
  *done = n > 0;
  return 0;
}

}  // namespace

int TimedOutCode() { return WSAETIMEDOUT; }

int LookUpIpv4(const std::string& host, bool numeric_only, Ipv4Address* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
  addrinfo* found = nullptr;
  const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (code != 0) return code == WSA_NOT_ENOUGH_MEMORY ? code : kSocketErrorNotConnected;
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
  // getaddrinfo rather than getservbyname, whose answer lives in a buffer shared by the thread.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (::getaddrinfo("127.0.0.1", service.c_str(), &hints, &found) != 0) return kSocketErrorNotConnected;
  int result = kSocketErrorNotConnected;
  if (found != nullptr && found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in)) {
    sockaddr_in entry{};
    std::memcpy(&entry, found->ai_addr, sizeof entry);
    *port = ntohs(entry.sin_port);
    result = 0;
  }
  ::freeaddrinfo(found);
  return result;
}

int Connect(const Ipv4Address& address, uint16_t port, bool limited, Clock::time_point deadline, int* fd) {
  SOCKET socket = INVALID_SOCKET;
  if (const int code = OpenTcpSocket(&socket); code != 0) return MapSocketError(code);
  auto fail = [socket](int code) {
    ::closesocket(socket);
    return MapSocketError(code);
  };

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.octets.data(), 4);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    const int code = LastSocketError();
    if (code != WSAEWOULDBLOCK) return fail(code);
    bool done = false;
    const int wait_code = WaitConnected(socket, limited, deadline, &done);
    if (wait_code != 0) return fail(wait_code);
    if (!done) return fail(WSAETIMEDOUT);
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
      return fail(LastSocketError());
    }
    if (error != 0) return fail(error);
  }
  // The bytes of a UPS protocol go out as they are sent, as on the serial line the adapter stands
  // for; a protocol that sends one character at a time must not wait for acknowledgements.
  const BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  *fd = AsDescriptor(socket);
  return 0;
}

int Send(int fd, const char* data, int size, int* sent) {
  const int n = ::send(AsSocket(fd), data, size, 0);
  if (n >= 0) {
    *sent = n;
    return 0;
  }
  const int code = LastSocketError();
  return code == WSAEWOULDBLOCK ? kWouldBlock : MapSocketError(code);
}

int Receive(int fd, char* buffer, int capacity, int* count) {
  const int n = ::recv(AsSocket(fd), buffer, capacity, 0);
  if (n >= 0) {
    *count = n;
    return 0;
  }
  const int code = LastSocketError();
  return code == WSAEWOULDBLOCK ? 0 : MapSocketError(code);
}

int BytesWaiting(int fd, int* count) {
  u_long waiting = 0;
  if (::ioctlsocket(AsSocket(fd), FIONREAD, &waiting) != 0) return MapSocketError(LastSocketError());
  *count = waiting > static_cast<u_long>(INT32_MAX) ? INT32_MAX : static_cast<int>(waiting);
  return 0;
}

int WaitReady(int fd, Direction direction, bool limited, Clock::time_point deadline, bool* ready) {
  // A hang-up or an error comes back as ready too: the next call then tells what happened.
  const SHORT events = direction == Direction::kReadable ? POLLRDNORM : POLLWRNORM;
  WSAPOLLFD entry{AsSocket(fd), events, 0};
  const int n = ::WSAPoll(&entry, 1, RemainingMs(limited, deadline));
  if (n < 0) return MapSocketError(LastSocketError());
  *ready = n > 0;
  return 0;
}

void Close(int fd) { ::closesocket(AsSocket(fd)); }

}  // namespace client_socket

}  // namespace keep::platform

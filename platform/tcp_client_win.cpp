// The TCP client and the name look-ups over Winsock. Codes are Winsock's (WSAETIMEDOUT, ...), which
// SystemErrorText describes; the three the logic tells apart keep their numbers through
// MapSocketError.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "platform/socket_win.h"
#include "platform/tcp_client.h"

namespace keep::platform {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `socket` until the deadline. 0 and *ready set, or a Winsock code.
int PollUntil(SOCKET socket, SHORT events, bool limited, Clock::time_point deadline, bool* ready) {
  WSAPOLLFD entry{socket, events, 0};
  const int n = ::WSAPoll(&entry, 1, RemainingMs(limited, deadline));
  if (n < 0) return LastSocketError();
  *ready = n > 0;
  return 0;
}

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

class WinsockTcpClient : public TcpClient {
 public:
  WinsockTcpClient(std::unique_ptr<WinsockSession> session, SOCKET socket)
      : session_(std::move(session)), socket_(socket) {}
  ~WinsockTcpClient() override { Close(); }
  WinsockTcpClient(const WinsockTcpClient&) = delete;
  WinsockTcpClient& operator=(const WinsockTcpClient&) = delete;

  int Send(const char* data, int size, int timeout_ms, int* sent) override {
    *sent = 0;
    if (socket_ == INVALID_SOCKET) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    while (*sent < size) {
      const int n = ::send(socket_, data + *sent, size - *sent, 0);
      if (n >= 0) {
        *sent += n;
        continue;
      }
      const int code = LastSocketError();
      if (code != WSAEWOULDBLOCK) return MapSocketError(code);
      bool ready = false;
      const int wait_code = PollUntil(socket_, POLLWRNORM, limited, deadline, &ready);
      if (wait_code != 0) return MapSocketError(wait_code);
      if (!ready) return WSAETIMEDOUT;
    }
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    *count = 0;
    if (socket_ == INVALID_SOCKET) return kSocketErrorNotConnected;
    if (capacity <= 0) return 0;
    const int n = ::recv(socket_, buffer, capacity, 0);
    if (n >= 0) {
      *count = n;
      return 0;
    }
    const int code = LastSocketError();
    return code == WSAEWOULDBLOCK ? 0 : MapSocketError(code);
  }

  int Available(int* count) override {
    *count = 0;
    if (socket_ == INVALID_SOCKET) return kSocketErrorNotConnected;
    u_long waiting = 0;
    if (::ioctlsocket(socket_, FIONREAD, &waiting) != 0) return MapSocketError(LastSocketError());
    *count = waiting > static_cast<u_long>(INT32_MAX) ? INT32_MAX : static_cast<int>(waiting);
    return 0;
  }

  int WaitReadable(int timeout_ms, bool* readable) override {
    *readable = false;
    if (socket_ == INVALID_SOCKET) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
    // A hang-up or an error comes back as readable too: the read then tells what happened.
    const int code = PollUntil(socket_, POLLRDNORM, limited, deadline, readable);
    return code == 0 ? 0 : MapSocketError(code);
  }

  void Close() override {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  int Descriptor() const override { return AsDescriptor(socket_); }

 private:
  const std::unique_ptr<WinsockSession> session_;
  SOCKET socket_;
};

}  // namespace

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

int ResolveIpv4(const std::string& host, bool numeric_only, Ipv4Address* address) {
  if (host.empty() || host.find('\0') != std::string::npos) return kSocketErrorNotConnected;
  WinsockSession session;
  if (session.status() != 0) return session.status();
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
  // getaddrinfo rather than getservbyname, whose answer lives in a buffer shared by the thread.
  WinsockSession session;
  if (session.status() != 0) return session.status();
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

int TcpClient::Connect(const Ipv4Address& address, uint16_t port, int timeout_ms, std::unique_ptr<TcpClient>* client) {
  auto session = std::make_unique<WinsockSession>();
  if (session->status() != 0) return session->status();
  // Not inherited by started programs: StartProgram passes no handles at all.
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) return MapSocketError(LastSocketError());
  auto fail = [socket](int code) {
    ::closesocket(socket);
    return MapSocketError(code);
  };
  if (const int code = MakeNonBlocking(socket); code != 0) return fail(code);

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr.s_addr, address.octets.data(), 4);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    const int code = LastSocketError();
    if (code != WSAEWOULDBLOCK) return fail(code);
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
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
  *client = std::make_unique<WinsockTcpClient>(std::move(session), socket);
  return 0;
}

}  // namespace keep::platform

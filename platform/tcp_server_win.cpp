// The line server's socket calls over Winsock. Only these and their error codes differ from POSIX.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

#include "platform/socket_win.h"
#include "platform/tcp_client.h"
#include "platform/tcp_server_socket.h"

namespace keep::platform::server_socket {

int OpenListener(uint16_t port, const std::string& address, int* fd_out, uint16_t* bound_port) {
  in_addr bind_to{};
  bind_to.s_addr = htonl(INADDR_ANY);
  if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &bind_to) != 1) return WSAEINVAL;
  SOCKET socket = INVALID_SOCKET;
  if (const int code = OpenTcpSocket(&socket); code != 0) return MapSocketError(code);
  auto fail = [socket](int code) {
    ::closesocket(socket);
    return MapSocketError(code);
  };
  // No address option: Windows lets a restarted listener take a port whose old connections are still
  // closing, and SO_REUSEADDR there would let a second server share a port in use (never 10048).
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr = bind_to;
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return fail(LastSocketError());
  if (::listen(socket, SOMAXCONN) != 0) return fail(LastSocketError());
  int length = sizeof local;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return fail(LastSocketError());
  *fd_out = AsDescriptor(socket);
  *bound_port = ntohs(local.sin_port);
  return 0;
}

int AlreadyListeningCode() { return WSAEISCONN; }

int WatchFailedCode() { return WSAENOBUFS; }

Accepted Accept(int listen_fd, int* fd, std::string* peer) {
  sockaddr_in address{};
  int length = sizeof address;
  const SOCKET accepted = ::accept(AsSocket(listen_fd), reinterpret_cast<sockaddr*>(&address), &length);
  if (accepted == INVALID_SOCKET) {
    const int code = LastSocketError();
    if (code == WSAECONNRESET || code == WSAEINTR) return Accepted::kSkipped;
    if (code == WSAEMFILE || code == WSAENOBUFS) return Accepted::kExhausted;
    return Accepted::kNone;
  }
  // An accepted socket takes the listener's blocking mode only on some systems: set it.
  if (MakeNonBlocking(accepted) != 0) {
    ::closesocket(accepted);
    return Accepted::kSkipped;
  }
  char text[INET_ADDRSTRLEN] = {};
  in_addr copy = address.sin_addr;
  *fd = AsDescriptor(accepted);
  peer->clear();
  if (::inet_ntop(AF_INET, &copy, text, sizeof text) != nullptr) peer->assign(text);
  return Accepted::kConnection;
}

ptrdiff_t Receive(int fd, char* buffer, size_t capacity) {
  const int size = capacity > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(capacity);
  const int n = ::recv(AsSocket(fd), buffer, size, 0);
  if (n >= 0) return n;
  return LastSocketError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

ptrdiff_t Send(int fd, const char* data, size_t size) {
  // send() takes an int count; a larger buffer goes out in several calls.
  const int count = size > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(size);
  const int n = ::send(AsSocket(fd), data, count, 0);
  if (n >= 0) return n;
  return LastSocketError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void ShutdownSending(int fd) { ::shutdown(AsSocket(fd), SD_SEND); }

void Close(int fd) { ::closesocket(AsSocket(fd)); }

}  // namespace keep::platform::server_socket

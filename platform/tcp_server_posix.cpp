// The line server's socket calls on POSIX.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/tcp_client.h"
#include "platform/tcp_server_socket.h"

namespace keep::platform::server_socket {

int OpenListener(uint16_t port, const std::string& address, int* fd_out, uint16_t* bound_port) {
  in_addr bind_to{};
  bind_to.s_addr = htonl(INADDR_ANY);
  if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &bind_to) != 1) return EINVAL;
  // Close-on-exec: the programs the server starts must not keep its port.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return MapSocketError(errno);
  auto fail = [fd](int code) {
    ::close(fd);
    return MapSocketError(code);
  };
  // A restarted server must not wait for the connections of its predecessor to time out.
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail(errno);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr = bind_to;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return fail(errno);
  if (::listen(fd, SOMAXCONN) != 0) return fail(errno);
  socklen_t length = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return fail(errno);
  *fd_out = fd;
  *bound_port = ntohs(local.sin_port);
  return 0;
}

int AlreadyListeningCode() { return EISCONN; }

int WatchFailedCode() { return MapSocketError(errno != 0 ? errno : ENOMEM); }

Accepted Accept(int listen_fd, int* fd, std::string* peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int accepted =
      ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (accepted < 0) {
    if (errno == EINTR || errno == ECONNABORTED) return Accepted::kSkipped;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) return Accepted::kExhausted;
    return Accepted::kNone;
  }
  char text[INET_ADDRSTRLEN] = {};
  *fd = accepted;
  peer->clear();
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) != nullptr) peer->assign(text);
  return Accepted::kConnection;
}

ptrdiff_t Receive(int fd, char* buffer, size_t capacity) {
  const ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
  if (n >= 0) return n;
  // Interrupted: the loop wakes again for what is there.
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kWouldBlock : kFailed;
}

ptrdiff_t Send(int fd, const char* data, size_t size) {
  for (;;) {
    // MSG_NOSIGNAL: a client that has gone gives an error here, not a signal that ends the process.
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
  }
}

void ShutdownSending(int fd) { ::shutdown(fd, SHUT_WR); }

void Close(int fd) { ::close(fd); }

}  // namespace keep::platform::server_socket

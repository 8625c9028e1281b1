// The socket calls of the TCP client (tcp_client.cpp), one implementation per system
// (tcp_client_posix.cpp, tcp_client_win.cpp), with the name look-ups. Internal to platform/. Sockets
// are carried as ints, as the event loop watches them.
//
// Codes are those of tcp_client.h: 0, or the system's code mapped by MapSocketError.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/tcp_client.h"

namespace keep::platform::client_socket {

using Clock = std::chrono::steady_clock;

// The time left until `deadline` in whole milliseconds for a wait, -1 for no deadline.
inline int RemainingMs(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The code of a wait whose time ran out.
int TimedOutCode();

// Looks up the IPv4 address of `host` (not empty, no NUL), see ResolveIpv4.
int LookUpIpv4(const std::string& host, bool numeric_only, Ipv4Address* address);
// Looks up the port of the service name `service` (not empty, no NUL, not a number).
int LookUpTcpService(const std::string& service, uint16_t* port);

// Opens a non-blocking connection to `address`:`port`, waiting for it until `deadline` when `limited`.
// 0 with *fd set, or the code why not (nothing is left open then).
int Connect(const Ipv4Address& address, uint16_t port, bool limited, Clock::time_point deadline, int* fd);

// A send that took nothing because the socket's buffer is full.
inline constexpr int kWouldBlock = -1;
// One non-blocking send of at most `size` bytes, never raising a signal for a peer that is gone: 0
// with *sent set, kWouldBlock, or a code.
int Send(int fd, const char* data, int size, int* sent);
// One non-blocking read of at most `capacity` (> 0) bytes: 0 with *count set (0 when nothing is there
// or the peer has closed), or a code.
int Receive(int fd, char* buffer, int capacity, int* count);
// The bytes arrived and not read: 0 with *count set, or a code.
int BytesWaiting(int fd, int* count);

enum class Direction { kReadable, kWritable };
// Waits until `fd` is ready for `direction`, or a hang-up or error that the next call reports, until
// the deadline. 0 with *ready set, or a code.
int WaitReady(int fd, Direction direction, bool limited, Clock::time_point deadline, bool* ready);

void Close(int fd);

}  // namespace keep::platform::client_socket

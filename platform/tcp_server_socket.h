// The socket calls of the line server (tcp_server.cpp), one implementation per system
// (tcp_server_posix.cpp, tcp_server_win.cpp). Internal to platform/. Sockets are carried as ints, as
// the event loop watches them; every call here is non-blocking and returns at once.
//
// Codes are those of tcp_server.h: the system's, with the ones the logic tells apart mapped by
// MapSocketError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keep::platform::server_socket {

// Opens a non-blocking listener on `port` (0: a free one) of `address` (dotted IPv4; empty: every
// address), bound and listening. 0 with *fd and *bound_port set, or the code why not (nothing is left
// open then).
int OpenListener(uint16_t port, const std::string& address, int* fd, uint16_t* bound_port);

// The code Start gives when the server already listens.
int AlreadyListeningCode();
// The code Start gives when the loop would not watch the listener; read right after Watch failed.
int WatchFailedCode();

enum class Accepted {
  kConnection,  // *fd is a new non-blocking connection from *peer (dotted IPv4)
  kSkipped,     // one attempt came to nothing (aborted, interrupted): try the next
  kExhausted,   // out of descriptors or memory: the pending connection stays until some are free
  kNone,        // nothing waits, or the listener failed otherwise
};
Accepted Accept(int listen_fd, int* fd, std::string* peer);

// What one non-blocking transfer did, when it moved no bytes (a receive of 0 is the peer's end).
inline constexpr ptrdiff_t kWouldBlock = -1;  // nothing to take or give now
inline constexpr ptrdiff_t kFailed = -2;      // the connection is broken
// One recv of at most `capacity` bytes: their count, 0, kWouldBlock or kFailed.
ptrdiff_t Receive(int fd, char* buffer, size_t capacity);
// One send of at most `size` bytes, never raising a signal for a peer that is gone: the count the
// socket took, kWouldBlock or kFailed.
ptrdiff_t Send(int fd, const char* data, size_t size);

// Ends the sending side, so the peer reads its end of input after what was sent.
void ShutdownSending(int fd);
void Close(int fd);

}  // namespace keep::platform::server_socket

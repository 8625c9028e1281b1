// What the Winsock files of platform/ share. Internal to platform/: only _win files include it.
//
// The event loop and the connection interfaces carry a socket as an int, as on POSIX. Windows socket
// handles are kernel handles, whose values fit in 32 bits on 64-bit Windows too, so the conversion
// loses nothing.
#pragma once

#include <winsock2.h>

namespace keep::platform {

// Holds Winsock started for as long as it lives; every object that owns sockets keeps one, so the
// library is up before its first socket and down after its last (Winsock counts the starts).
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  // 0, or the code WSAStartup failed with (every socket call then fails too).
  int status() const { return status_; }

 private:
  int status_;
};

inline SOCKET AsSocket(int descriptor) {
  return descriptor < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(descriptor));
}
inline int AsDescriptor(SOCKET socket) { return socket == INVALID_SOCKET ? -1 : static_cast<int>(socket); }

// The calling thread's last Winsock error.
inline int LastSocketError() { return ::WSAGetLastError(); }

// Switches a socket to non-blocking; 0 or the Winsock code.
int MakeNonBlocking(SOCKET socket);

// A new non-blocking IPv4 TCP socket in *socket; 0, or the Winsock code and nothing left open. Not
// inherited by started programs: StartProgram passes no handles at all.
inline int OpenTcpSocket(SOCKET* socket) {
  const SOCKET opened = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (opened == INVALID_SOCKET) return LastSocketError();
  if (const int code = MakeNonBlocking(opened); code != 0) {
    ::closesocket(opened);
    return code;
  }
  *socket = opened;
  return 0;
}

}  // namespace keep::platform

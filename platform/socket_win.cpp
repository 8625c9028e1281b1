#include "platform/socket_win.h"

namespace keep::platform {

WinsockSession::WinsockSession() {
  WSADATA data{};
  status_ = ::WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockSession::~WinsockSession() {
  if (status_ == 0) ::WSACleanup();
}

int MakeNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ::ioctlsocket(socket, FIONBIO, &on) == 0 ? 0 : ::WSAGetLastError();
}

}  // namespace keep::platform

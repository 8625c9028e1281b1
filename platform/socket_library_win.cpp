#include "platform/socket_library.h"
#include "platform/socket_win.h"

namespace keep::platform {

SocketLibrary::SocketLibrary() {
  auto session = std::make_shared<WinsockSession>();
  status_ = session->status();
  session_ = std::move(session);
}

}  // namespace keep::platform

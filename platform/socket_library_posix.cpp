#include "platform/socket_library.h"

namespace keep::platform {

SocketLibrary::SocketLibrary() = default;

}  // namespace keep::platform

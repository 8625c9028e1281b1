// No service manager to connect to: the body runs in the foreground, stopped by signals.
#include "platform/service_host.h"

namespace keep::platform {

int RunServiceHost(std::string_view, const std::function<int(ServiceHost&)>& body) {
  ForegroundServiceHost host;
  return body(host);
}

}  // namespace keep::platform

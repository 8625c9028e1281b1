// Running the server's body under the system's service manager, when the manager started the
// process. Windows: the process connects to the service control manager, reports its start and
// takes stop requests from it. POSIX has no such manager to connect to (systemd runs the server in
// the foreground), so the body simply runs.
#pragma once

#include <functional>
#include <string_view>

namespace keep::platform {

// What the body tells the service manager, and how a stop request reaches it. The calls are for the
// body's thread; the stop handler is called on another thread.
class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // True when the service manager started the process and the body runs as its service.
  virtual bool UnderServiceManager() const = 0;

  // The start sequence succeeded: the service now runs and accepts stop requests.
  virtual void ReportRunning() = 0;

  // Called, on a thread of the service manager's, for each stop or system-shutdown request; it
  // must only hand the request on (post it to the event loop). An empty function drops requests
  // from now on: set one before the loop it posts to goes away. The service is reported as
  // stopping, with a wait hint, before the handler is called.
  virtual void SetStopHandler(std::function<void()> on_stop) = 0;
};

// The host of a body the service manager did not start: reports nothing, and no stop request ever
// comes through it (signals or the console stop the body instead).
class ForegroundServiceHost final : public ServiceHost {
 public:
  bool UnderServiceManager() const override { return false; }
  void ReportRunning() override {}
  void SetStopHandler(std::function<void()>) override {}
};

// Runs `body` and returns its exit status. On Windows, when the service manager started the
// process, as the service `name` (the process's first thread then serves the manager, the body runs
// on the service's thread): reported as starting, then as stopped with the body's status as exit
// code once the body returns. When the process was not started by the service manager, and always
// on POSIX, `body` runs on the calling thread with a host that reports nothing.
int RunServiceHost(std::string_view name, const std::function<int(ServiceHost&)>& body);

}  // namespace keep::platform

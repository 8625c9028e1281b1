// The server's listener of the plain-text UPS network protocol (nut/nut_listener.h), fed from the
// server context: its settings (NutListenPort, NutListenAddress, NutUpsName, NutMonitorUser and
// NutMonitorPassword), the UPS record, and the age of the last reply from the UPS, which decides
// whether the data can still be vouched for.
//
// Main loop only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_loop.h"
#include "server/services/nut/nut_answer.h"
#include "server/services/nut/nut_listener.h"

namespace keep::server {

struct ServerContext;

// How old the record may be before it is stale: a poll period for the next poll to go out, another
// for it to be due, and the time its reply may take. Past that, a poll went unanswered.
int64_t NutStaleAfterMs(int poll_seconds, int64_t reply_timeout_ms);

// Whether `name` can stand as the protocol's UPS name: 1 to 64 letters, digits, '.', '_' or '-'.
bool ValidNutUpsName(const std::string& name);

class NutServer {
 public:
  // `context` must outlive the server; the UPS manager, when there is one, tells it of every reply.
  explicit NutServer(ServerContext& context);
  ~NutServer();  // Stop()
  NutServer(const NutServer&) = delete;
  NutServer& operator=(const NutServer&) = delete;

  // Listens as the settings say, and writes a log line of what came of it. Nothing listens while
  // NutListenPort is 0. 0 when it listens or is off, else the socket code of TcpLineServer::Start or
  // EINVAL for settings that are not valid (both logged): the server runs on without this listener.
  int Start();
  uint16_t Port() const;  // 0 when not listening
  // Closes every connection and the listener, and drops a wait for the secondaries. Safe twice.
  void Stop();

  // How far the server can vouch for the UPS data now.
  nut::NutDataState DataState() const;
  size_t LoginCount() const { return listener_ == nullptr ? 0 : listener_->LoginCount(); }

  // This computer is going down: from now on the status carries FSD, which tells the secondaries to
  // shut down too. It stays until keepd ends, whatever the UPS does meanwhile.
  void BeginForcedShutdown() { forced_shutdown_ = true; }
  bool ForcedShutdown() const { return forced_shutdown_; }
  // Runs `then` once, when no secondary is logged in any more or `limit_ms` has passed; at once when
  // none is logged in now. Logs how the wait ended. A later call replaces a wait still under way,
  // which then runs its own `then` at once.
  void AfterSecondariesLeft(std::function<void()> then, int64_t limit_ms);

 private:
  void EndSecondariesWait(bool all_gone);
  ServerContext& context_;
  std::unique_ptr<nut::NutListener> listener_;
  std::optional<int64_t> last_reply_ms_;
  bool forced_shutdown_ = false;
  std::function<void()> after_secondaries_;
  platform::EventLoop::TimerId secondaries_timer_ = 0;
  int64_t secondaries_limit_ms_ = 0;
};

}  // namespace keep::server

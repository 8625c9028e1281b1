// The listener of the plain-text UPS network protocol: a line server on the main loop that answers
// each connection's requests in order, keeps each connection's login state, and drops a connection
// that has sent nothing for kNutIdleMs. Its bounds are those of the client port: the line length of
// the line server, a client that stops reading is dropped once its answers pile up, and the number of
// connections is capped.
//
// Main loop only: every handler runs on the loop thread, and so must every method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_server.h"
#include "server/services/nut/nut_answer.h"

namespace keep::server::nut {

// A connection that has sent no line for this long is closed.
inline constexpr int64_t kNutIdleMs = 60'000;
// Answers waiting for one client, and for all of them together.
inline constexpr size_t kNutClientSendBytes = 1024 * 1024;
inline constexpr size_t kNutAllClientsSendBytes = 32 * 1024 * 1024;

struct NutListenerConfig {
  std::string ups_name;
  std::string ups_description;
  std::string monitor_user;  // empty: nobody may log in
  std::string monitor_password;
  std::string version;         // the VER line
  size_t max_connections = 0;  // 0: no cap
  int64_t idle_ms = kNutIdleMs;
};

// What the listener reads of the server, at the moment a request needs it.
struct NutListenerPorts {
  std::function<NutDataState()> data_state;
  std::function<std::vector<NutVariable>()> variables;
  // After the number of logged-in connections went down (a LOGOUT, a connection gone).
  std::function<void()> logins_dropped;
};

class NutListener {
 public:
  // `loop` and `clock` must outlive the listener. Nothing listens before Start.
  NutListener(platform::EventLoop& loop, const platform::MonotonicClock& clock, NutListenerConfig config,
              NutListenerPorts ports);
  ~NutListener();  // Stop()
  NutListener(const NutListener&) = delete;
  NutListener& operator=(const NutListener&) = delete;

  // Listens on `port` (0: a free one) of `address` (dotted IPv4; empty: every address). 0, or the
  // socket code of TcpLineServer::Start.
  int Start(uint16_t port, const std::string& address);
  uint16_t Port() const;
  // Closes the listener and every connection. Safe twice.
  void Stop();

  // Connections open now, and those of them logged in (NUMLOGINS).
  size_t ConnectionCount() const { return connections_.size(); }
  size_t LoginCount() const;

 private:
  struct Connection {
    NutSession session;
    int64_t last_line_ms = 0;
  };

  void OnLine(platform::ConnectionId id, const std::string& line);
  void OnDisconnect(platform::ConnectionId id);
  // Forgets the connection; tells the server when it was logged in.
  void Forget(platform::ConnectionId id);
  // Closes the connections idle for idle_ms and plans the next look for the earliest one left.
  void DropIdle();
  void PlanIdleCheck(int64_t delay_ms);
  std::vector<std::string> LoggedInPeers() const;

  platform::EventLoop& loop_;
  const platform::MonotonicClock& clock_;
  const NutListenerConfig config_;
  const NutListenerPorts ports_;
  NutServerView view_;
  std::unique_ptr<platform::TcpLineServer> server_;
  std::map<platform::ConnectionId, Connection> connections_;
  platform::EventLoop::TimerId idle_timer_ = 0;
};

}  // namespace keep::server::nut

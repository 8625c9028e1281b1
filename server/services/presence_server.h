// The presence server: answers a probe on RsAlivePort so that other programs can find out that a
// server runs at this address. One line per connection, answered and closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace keep::server {

struct ServerContext;

// A connection that has not sent its line after this long is closed unanswered.
inline constexpr int64_t kPresenceIdleLimitMs = 60 * 1000;
// Probes open at once; more are refused at the door (the client cap's descriptor reserve covers them).
inline constexpr size_t kMaxPresenceConnections = 16;

// The plain answer to the plain line `line`: the presence answer for a probe, else the refusal.
std::string PresenceAnswer(const std::string& line);

// Loop thread, as are all calls. Each connection's first line (unscrambled) is answered with the
// scrambled PresenceAnswer and the connection closed; a line over the server's line limit, or none
// within kPresenceIdleLimitMs (the loop's clock), closes it unanswered.
class PresenceServer {
 public:
  // `context` (its loop) must outlive the server.
  explicit PresenceServer(ServerContext& context);
  ~PresenceServer();  // Stop()
  PresenceServer(const PresenceServer&) = delete;
  PresenceServer& operator=(const PresenceServer&) = delete;

  // Listens on `port` of every local IPv4 address (0: a free one). 0, or the socket code (10048 port
  // taken, 10044 no IPv4 TCP, else the system's) for the start sequence to map.
  int Start(uint16_t port);
  uint16_t Port() const;
  // The connections open now (accepted and not yet closed).
  size_t Connections() const;
  // Closes every connection and the listener. Safe twice.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace keep::server

// The TCP server for clients: every line a client sends is unscrambled, checked and either answered
// at once, queued for the UPS in the context's request queue, or handled specially (file downloads,
// the scheduler upload, the shutdown request). Answers and notices go out scrambled, one whole line
// each, so answers never interleave within a line.
//
// Main loop only: the connections' threads only read and write their sockets and post each line to
// the loop, so checks, queueing and answers all run beside the main cycle, never against it. A client
// that stops reading is disconnected once its answers pass kClientSendBufferBytes; the others go on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_loop.h"
#include "platform/tcp_server.h"
#include "server/core/file_transfer.h"

namespace keep::server {

struct ServerContext;
struct CheckResult;

// Answers waiting for one client. Downloads are sliced (kTransferSliceBytes per turn) but the loop
// cannot see how far a client has read, so the buffer must hold a whole scrambled log file for a
// client that reads slowly; it bounds memory per client, it is not allocated up front.
inline constexpr size_t kClientSendBufferBytes = 64 * 1024 * 1024;

class ClientServer {
 public:
  // `context` must outlive the server; its env.loop runs everything.
  explicit ClientServer(ServerContext& context);
  ~ClientServer();  // Stop()
  ClientServer(const ClientServer&) = delete;
  ClientServer& operator=(const ClientServer&) = delete;

  // Listens on `port` of every local IPv4 address (0: a free one, see Port()). 0, or the socket code
  // of TcpLineServer::Start (10048 port taken, 10044 no IPv4 TCP) for the caller to map.
  int Start(uint16_t port);
  uint16_t Port() const;
  // Closes every connection and the listener, drops the downloads under way. Safe twice.
  void Stop();

  // Checks `line` (a plain frame) and routes it: answered to the connection, queued with the
  // requester's address (or "@" without a connection) at the front when `at_front`, or handled
  // specially. Without a connection nothing is sent. Writes the log line the check prepared. Returns
  // whether the request was valid; the caller answers 502 to an invalid one.
  bool DispatchRequest(const std::string& line, std::optional<platform::ConnectionId> connection, bool at_front);

  // Sends the answer for `code` (parameter may be null) to the first connection, in accept order,
  // whose peer address is `target`. False when none matches ("@" never does) or the send failed.
  bool SendToClient(const std::string& target, const std::string* parameter, int code);
  // Sends the answer for `code` to every connection once.
  void NotifyAllClients(int code, const std::string* parameter);

  // Runs after a client's shutdown request was granted (TServerData::ShutdownNowNoRestart is set):
  // the status evaluation that starts the shutdown.
  std::function<void()> on_shutdown_requested;
  // Runs after a client stored a new scheduler file: the scheduler reloads it.
  std::function<void()> on_schedule_stored;
  // Whether the UPS is connected; when empty, the UPS manager's Connected flag (false without one).
  std::function<bool()> connected;

 private:
  void OnLine(platform::ConnectionId id, const std::string& scrambled);
  void OnOverlong(platform::ConnectionId id);
  void OnDisconnect(platform::ConnectionId id);
  bool IsConnected() const;
  // Sends the answer for `code` to connection `id` (not by address: two clients may share one).
  bool Answer(platform::ConnectionId id, int code, const std::string* parameter);
  void RunSpecial(platform::ConnectionId id, int code, const CheckResult& result);
  void ReceiveSchedule(platform::ConnectionId id, const std::string& bytes);
  void SendFile(platform::ConnectionId id, const std::string& file_name, int code);
  void PumpTransfers();
  void ArmPump();

  ServerContext& context_;
  std::unique_ptr<platform::TcpLineServer> server_;
  std::map<platform::ConnectionId, std::string> peers_;
  // Downloads per connection, run one after another so their answers do not mix.
  std::map<platform::ConnectionId, std::deque<std::unique_ptr<FileTransfer>>> transfers_;
  platform::EventLoop::TimerId pump_timer_ = 0;
  uint64_t transfer_serial_ = 0;
};

}  // namespace keep::server

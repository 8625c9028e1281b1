// The TCP server for clients: every line a client sends is unscrambled, checked and either answered
// at once, queued for the UPS in the context's request queue, or handled specially (file downloads,
// the scheduler upload, the shutdown request). Answers and notices go out scrambled, one whole line
// each, so answers never interleave within a line.
//
// Main loop only: the loop watches the connections' sockets beside its timers, so checks, queueing
// and answers all run beside the main cycle, never against it. No
// client can exhaust the server: connections are capped (with descriptors kept for the server's own
// work), a client that stops reading is dropped once its answers pass kClientSendBufferBytes (or all
// clients' pass kAllClientsSendBufferBytes), downloads are paced, and an address may queue only
// kMaxQueuedPerAddress requests. Addresses may be kept out, or allowed to read but not to control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/text_lists.h"
#include "platform/event_loop.h"
#include "platform/tcp_server.h"
#include "server/services/client_access.h"
#include "server/services/status_answer_cache.h"
#include "server/services/transfer_pump.h"

namespace keep::server {

struct ServerContext;
struct CheckResult;

// Answers waiting for one client: downloads are paced by what the client has read (transfer_pump.h),
// so this only has to hold a burst of ordinary answers. A client past it is dropped.
inline constexpr size_t kClientSendBufferBytes = 4 * 1024 * 1024;
// Answers waiting for all clients together: the client whose answer would pass it is dropped.
inline constexpr size_t kAllClientsSendBufferBytes = 32 * 1024 * 1024;
// Requests one client address may have in the queue at once; more are refused (502), so one address
// cannot hold up everybody else's requests.
inline constexpr size_t kMaxQueuedPerAddress = 8;
// Descriptors a connection costs (its socket), and those kept free for the server's own work (files,
// the UPS link, programs it starts, remote commands, the presence port).
inline constexpr uint64_t kDescriptorsPerClient = 1;
inline constexpr uint64_t kReservedDescriptors = 128;
inline constexpr size_t kMinClientCap = 8;
// Refusals at the door are logged once for each burst: again only after this long without one.
inline constexpr int64_t kRefusalQuietMs = 60'000;

// The clients served at once: `configured` (SrvMaxClients), lowered so that the connections leave
// kReservedDescriptors of `descriptor_limit` free (0: the limit is unknown); never below kMinClientCap.
size_t ClientCap(int64_t configured, uint64_t descriptor_limit);

class ClientServer {
 public:
  // `context` must outlive the server; its env.loop runs everything. Who may connect and control,
  // and how many may connect, come from the context's settings and DescriptorLimit as they are now.
  explicit ClientServer(ServerContext& context);
  ~ClientServer();  // Stop()
  ClientServer(const ClientServer&) = delete;
  ClientServer& operator=(const ClientServer&) = delete;

  // Listens on `port` (0: a free one, see Port()) of the address SrvListenAddress names, or of every
  // local IPv4 address. 0, or the socket code of TcpLineServer::Start (10048 port taken, 10044 no IPv4
  // TCP) for the caller to map.
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

  // Clients connected and not yet reported gone, and downloads running or waiting.
  size_t ClientCount() const { return peers_.size(); }
  size_t DownloadCount() const { return transfers_->Running() + transfers_->Waiting(); }

  // Runs after a client's shutdown request was granted (TServerData::ShutdownNowNoRestart is set):
  // the status evaluation that starts the shutdown.
  std::function<void()> on_shutdown_requested;
  // Runs after a client stored a new scheduler file: the scheduler reloads it.
  std::function<void()> on_schedule_stored;
  // Whether the UPS is connected; when empty, the UPS manager's Connected flag (false without one).
  std::function<bool()> connected;

 private:
  void OnLine(platform::ConnectionId id, const std::string& scrambled);
  void OnRefused(const std::string& peer, platform::Refusal reason, size_t count);
  // A control request from an address that may not control: answered 502, nothing done (an upload's
  // payload is read and dropped, or the connection closed when it is too large to skip).
  void RefuseControl(platform::ConnectionId id, int code, const TStringList& fields);
  const std::string& PeerOf(platform::ConnectionId id) const;
  void OnOverlong(platform::ConnectionId id);
  void OnDisconnect(platform::ConnectionId id);
  bool IsConnected() const;
  // Sends the answer for `code` to connection `id` (not by address: two clients may share one).
  bool Answer(platform::ConnectionId id, int code, const std::string* parameter);
  void RunSpecial(platform::ConnectionId id, int code, const CheckResult& result);
  void ReceiveSchedule(platform::ConnectionId id, const std::string& bytes);

  ServerContext& context_;
  const ClientAccess access_;
  std::unique_ptr<platform::TcpLineServer> server_;
  std::map<platform::ConnectionId, std::string> peers_;
  std::unique_ptr<TransferPump> transfers_;
  StatusAnswerCache status_answer_;
  // The last refusal of each reason, for logging once a burst.
  std::optional<int64_t> last_refusal_ms_[2];
};

}  // namespace keep::server

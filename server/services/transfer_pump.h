// The file downloads under way (requests 200-202), paced by the clients: a connection has at most
// one download at a time and sends nothing else meanwhile (its next request waits until the file is
// out); at most kMaxTransfers downloads run over all clients, the others wait their turn in order;
// and a slice goes out only once the client has read most of the one before, so a slow reader holds
// a bounded amount of memory and a single temporary copy. A client that reads nothing for
// kTransferStallMs is dropped, so it cannot keep a turn from the others for ever.
//
// Main loop only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_server.h"
#include "server/services/file_transfer.h"

namespace keep::server {

inline constexpr size_t kMaxTransfers = 4;
// Bytes waiting for a client below which its download's next slice goes out.
inline constexpr size_t kTransferLowWaterBytes = 256 * 1024;
inline constexpr int64_t kTransferStallMs = 60'000;

// What the pump needs of the connections. Every member must be set.
struct TransferPorts {
  // Sends the answer for `code` with `parameter`; false when the client is gone.
  std::function<bool(platform::ConnectionId, int code, const std::string& parameter)> answer;
  // Bytes still waiting to be written to the client.
  std::function<size_t(platform::ConnectionId)> pending;
  // The client's next request may be taken now.
  std::function<void(platform::ConnectionId)> resume;
  // Closes a client that stopped reading.
  std::function<void(platform::ConnectionId)> drop;
};

class TransferPump {
 public:
  // `loop` and `clock` must outlive the pump. Copies go to `install_path` + "srvtemp/".
  TransferPump(platform::EventLoop& loop, const platform::MonotonicClock& clock, std::string install_path,
               TransferPorts ports);
  ~TransferPump();
  TransferPump(const TransferPump&) = delete;
  TransferPump& operator=(const TransferPump&) = delete;

  // A download of `file_name` (relative to the installation) for connection `id`, whose next request
  // the caller holds back until the pump lets it go (ports.resume). A file that cannot be copied is
  // answered "0" at once.
  void Request(platform::ConnectionId id, const std::string& file_name, int code);
  // The connection is gone: its download, running or waiting, is dropped with its copy.
  void Forget(platform::ConnectionId id);
  // Drops every download.
  void Clear();

  size_t Running() const { return running_.size(); }
  size_t Waiting() const { return waiting_.size(); }

 private:
  struct ActiveTransfer {
    std::unique_ptr<FileTransfer> transfer;
    int64_t progress_ms = 0;  // the last moment a slice went out
  };
  struct QueuedTransfer {
    platform::ConnectionId id = 0;
    std::string file_name;
    int code = 0;
  };

  void Start(const QueuedTransfer& request);
  void StartWaiting();
  void Pump();
  void Arm(int64_t delay_ms);

  platform::EventLoop& loop_;
  const platform::MonotonicClock& clock_;
  const std::string install_path_;
  const TransferPorts ports_;
  std::map<platform::ConnectionId, ActiveTransfer> running_;
  std::deque<QueuedTransfer> waiting_;
  platform::EventLoop::TimerId timer_ = 0;
  uint64_t serial_ = 0;
};

// Removes what earlier runs left in "srvtemp/" (copies of a server that was killed, say).
void ClearTransferFolder(const std::string& install_path);

}  // namespace keep::server

// The line server's logic, the same on every system; the socket calls it makes are in
// tcp_server_socket.h.
#include "platform/tcp_server.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "platform/socket_library.h"
#include "platform/tcp_server_socket.h"

namespace keep::platform {

namespace {

using RawBlockHandler = TcpLineServer::RawBlockHandler;

// How long a connection closed after its last answer keeps swallowing what the client still sends, so
// that closing with unread input (which resets the connection) cannot destroy that answer in transit.
constexpr int64_t kLingerLimitMs = 1000;
constexpr size_t kReadChunkBytes = 64 * 1024;
// Compacting the outgoing buffer only once this much was written keeps a slow client from making
// every write copy the whole buffer.
constexpr size_t kCompactOutgoingBytes = 64 * 1024;
// Items one connection gets delivered in one turn of the loop, and connections taken in one turn, so
// that a client sending a flood of short lines (or a flood of connections) cannot starve the others.
constexpr int kItemsPerTurn = 16;
constexpr int kAcceptsPerTurn = 64;
// Out of descriptors or memory, the pending connection would wake the loop at once again: the
// listener rests this long instead.
constexpr int64_t kAcceptRetryMs = 100;

// Splits what a client sent into lines or, when asked, one raw block.
class Splitter {
 public:
  enum class Item { kNone, kLine, kRaw, kOverlong };

  // The next whole item in `in`, if there is one; `raw_wanted` > 0 asks for a block of that size.
  Item Next(std::string& in, size_t raw_wanted, std::string* out) {
    if (raw_wanted > 0) {
      if (in.size() < raw_wanted) return Item::kNone;
      out->assign(in, 0, raw_wanted);
      in.erase(0, raw_wanted);
      scanned_ = 0;
      return Item::kRaw;
    }
    const size_t end = in.find('\n', scanned_);
    if (end == std::string::npos) {
      scanned_ = in.size();
      // One byte more than a full line may still be the CR of its end.
      if (in.size() > kMaxClientLineBytes + 1) return Item::kOverlong;
      return Item::kNone;
    }
    size_t length = end;
    if (length > 0 && in[length - 1] == '\r') --length;
    if (length > kMaxClientLineBytes) return Item::kOverlong;
    out->assign(in, 0, length);
    in.erase(0, end + 1);
    scanned_ = 0;
    return Item::kLine;
  }

 private:
  size_t scanned_ = 0;  // bytes already known to hold no LF
};

// One client. Everything here belongs to the loop thread.
struct Connection {
  Connection(ConnectionId id_in, std::string peer_in, int fd_in) : id(id_in), peer(std::move(peer_in)), fd(fd_in) {}

  const ConnectionId id;
  const std::string peer;
  int fd;
  EventLoop::WatchId watch = 0;
  unsigned watching = 0;  // what the watch waits for now

  std::string in;
  Splitter splitter;
  std::string outgoing;
  size_t written = 0;  // bytes at the front of `outgoing` already on the socket

  bool end_of_input = false;      // the client closed its side
  bool reading_over = false;      // overlong or at the end: nothing more is delivered
  bool close_after_send = false;  // closing once `outgoing` is written
  bool closed = false;            // the socket is gone (or lingering); nothing more happens here
  bool in_item_handler = false;
  bool hold_requested = false;  // asked inside the item's handler
  bool held = false;            // the next item waits for ResumeItems
  bool pump_posted = false;     // a task to deliver more items is on its way
  size_t raw_wanted = 0;        // > 0: the next bytes form one block of this size
  size_t raw_requested = 0;
  RawBlockHandler raw_handler;

  bool HasOutput() const { return written < outgoing.size(); }
  size_t Waiting() const { return outgoing.size() - written; }
};

// A connection closed after its last answer: its write side is shut, and what the client still sends
// is read and dropped until it closes or the limit passes.
struct Lingering {
  int fd = -1;
  EventLoop::WatchId watch = 0;
  EventLoop::TimerId timer = 0;
};

// The server's state. Posted tasks hold it shared and carry the generation they were posted in, so
// a task that outlives a Stop finds it changed and does nothing.
struct Core : std::enable_shared_from_this<Core> {
  Core(EventLoop& loop_in, TcpLineServerHandlers handlers_in, TcpLineServerLimits limits_in)
      : loop(loop_in), handlers(std::move(handlers_in)), limits(std::move(limits_in)), chunk(kReadChunkBytes) {}

  EventLoop& loop;
  const TcpLineServerHandlers handlers;
  const TcpLineServerLimits limits;

  struct RefusalReport {
    std::string first_peer;
    size_t count = 0;
    bool posted = false;
  };

  int listen_fd = -1;
  uint16_t port = 0;
  EventLoop::WatchId listen_watch = 0;
  EventLoop::TimerId accept_retry = 0;
  std::map<ConnectionId, std::shared_ptr<Connection>> connections;  // ids grow: accept order
  std::map<ConnectionId, Lingering> lingering;
  ConnectionId next_id = 1;
  RefusalReport refusals[2];
  uint64_t generation = 0;   // grows at every Stop
  size_t total_waiting = 0;  // bytes queued for every client together and not yet written
  std::vector<char> chunk;   // one read's bytes
  SocketLibrary library;

  std::shared_ptr<Connection> Find(ConnectionId id) const {
    const auto it = connections.find(id);
    return it == connections.end() ? nullptr : it->second;
  }

  // Runs `task` on the loop later, unless the server stopped in between.
  template <typename Task>
  void PostLater(Task task) {
    loop.Post([core = shared_from_this(), generation_then = generation, task = std::move(task)]() mutable {
      if (core->generation == generation_then) task(*core);
    });
  }

  // --- Listening ---

  void OnListenReady() {
    const uint64_t generation_then = generation;
    for (int i = 0; i < kAcceptsPerTurn && generation == generation_then && listen_fd >= 0; ++i) {
      int fd = -1;
      std::string peer;
      const server_socket::Accepted accepted = server_socket::Accept(listen_fd, &fd, &peer);
      if (accepted == server_socket::Accepted::kConnection) {
        Admit(fd, std::move(peer));
        continue;
      }
      if (accepted == server_socket::Accepted::kSkipped) continue;
      if (accepted == server_socket::Accepted::kExhausted) RestListener();
      return;
    }
  }

  void RestListener() {
    if (accept_retry != 0) return;
    loop.ChangeWatch(listen_watch, 0);
    accept_retry = loop.AddTimer(kAcceptRetryMs, false, [this] {
      accept_retry = 0;
      loop.ChangeWatch(listen_watch, EventLoop::kReadable);
    });
  }

  // Counts a refusal and makes sure one report of its reason is on its way.
  void Refuse(int fd, std::string peer, Refusal reason) {
    server_socket::Close(fd);
    RefusalReport& report = refusals[static_cast<size_t>(reason)];
    if (report.count == 0) report.first_peer = std::move(peer);
    ++report.count;
    if (report.posted) return;
    report.posted = true;
    PostLater([reason](Core& core) { core.ReportRefusals(reason); });
  }

  void ReportRefusals(Refusal reason) {
    RefusalReport report;
    std::swap(report, refusals[static_cast<size_t>(reason)]);
    if (report.count > 0 && handlers.on_refused) handlers.on_refused(report.first_peer, reason, report.count);
  }

  void Admit(int fd, std::string peer) {
    if (limits.admit && !limits.admit(peer)) return Refuse(fd, std::move(peer), Refusal::kNotAdmitted);
    // Counted with the connections still lingering: their descriptors are not free yet either.
    if (limits.max_connections > 0 && connections.size() + lingering.size() >= limits.max_connections) {
      return Refuse(fd, std::move(peer), Refusal::kTooMany);
    }
    const ConnectionId id = next_id++;
    auto connection = std::make_shared<Connection>(id, std::move(peer), fd);
    connection->watch = loop.Watch(fd, EventLoop::kReadable, [this, id](unsigned events) { OnReady(id, events); });
    if (connection->watch == 0) {
      server_socket::Close(fd);
      return;
    }
    connection->watching = EventLoop::kReadable;
    connections.emplace(id, connection);
    if (handlers.on_connect) handlers.on_connect(id, connection->peer);
  }

  // --- One connection ---

  void OnReady(ConnectionId id, unsigned events) {
    const std::shared_ptr<Connection> connection = Find(id);
    if (connection == nullptr) return;
    Connection& c = *connection;
    if ((events & EventLoop::kWritable) != 0 && c.HasOutput()) {
      Flush(c);
      if (c.closed) return;
    }
    if ((events & EventLoop::kReadable) != 0 && WantsInput(c)) {
      const ptrdiff_t n = server_socket::Receive(c.fd, chunk.data(), chunk.size());
      if (n > 0) {
        c.in.append(chunk.data(), static_cast<size_t>(n));
      } else if (n == 0) {
        c.end_of_input = true;
      } else if (n != server_socket::kWouldBlock) {
        return Drop(c);
      }
    }
    Pump(connection);
  }

  // Read ahead while an item is handled or held, but only so far: a client that floods the server
  // fills its own socket buffer, not our memory.
  static bool WantsInput(const Connection& c) {
    const size_t read_limit = std::max(c.raw_wanted, kMaxClientLineBytes + 2);
    return !c.end_of_input && !c.reading_over && !c.close_after_send && c.in.size() < read_limit;
  }

  // Delivers the items the connection holds, a few per turn, then writes and settles what the socket
  // is watched for.
  void Pump(const std::shared_ptr<Connection>& connection) {
    Connection& c = *connection;
    const uint64_t generation_then = generation;
    int delivered = 0;
    for (;;) {
      if (c.closed || c.held || c.reading_over || c.close_after_send || c.in_item_handler) break;
      if (delivered == kItemsPerTurn) {
        PostPump(c);
        break;
      }
      std::string item;
      const Splitter::Item kind = c.splitter.Next(c.in, c.raw_wanted, &item);
      if (kind == Splitter::Item::kNone) {
        // After the client's end of input, what is left can never become an item.
        if (c.end_of_input) c.reading_over = true;
        break;
      }
      ++delivered;
      if (kind == Splitter::Item::kOverlong) {
        c.reading_over = true;
        c.in.clear();
        c.in.shrink_to_fit();
        if (handlers.on_overlong) handlers.on_overlong(c.id);
        if (generation != generation_then) return;
        CloseAfterSending(c);
        break;
      }
      if (kind == Splitter::Item::kRaw) {
        c.raw_wanted = 0;
        RawBlockHandler handler = std::move(c.raw_handler);
        c.raw_handler = nullptr;
        RunItem(c, [&] {
          if (handler) handler(std::move(item));
        });
      } else {
        RunItem(c, [&] {
          if (handlers.on_line) handlers.on_line(c.id, std::move(item));
        });
      }
      if (generation != generation_then) return;
    }
    Settle(c);
  }

  template <typename Handler>
  void RunItem(Connection& c, Handler&& handler) {
    c.in_item_handler = true;
    c.raw_requested = 0;
    handler();
    c.in_item_handler = false;
    c.held = c.hold_requested;
    c.hold_requested = false;
    c.raw_wanted = c.raw_requested;
    c.raw_requested = 0;
  }

  void PostPump(Connection& c) {
    if (c.pump_posted) return;
    c.pump_posted = true;
    PostLater([id = c.id](Core& core) {
      const std::shared_ptr<Connection> connection = core.Find(id);
      if (connection == nullptr) return;
      connection->pump_posted = false;
      core.Pump(connection);
    });
  }

  // Writes what waits, then closes a connection that is done, or waits for what it still needs.
  void Settle(Connection& c) {
    if (c.closed) return;
    if (c.HasOutput()) {
      Flush(c);
      if (c.closed) return;
    }
    if (!c.HasOutput()) {
      if (c.close_after_send) return Linger(c);
      // The client is gone and every item it sent has been handled and answered.
      if (c.end_of_input && c.reading_over && !c.held) return Drop(c);
    }
    const unsigned want = (WantsInput(c) ? EventLoop::kReadable : 0u) | (c.HasOutput() ? EventLoop::kWritable : 0u);
    if (want == c.watching) return;
    if (!loop.ChangeWatch(c.watch, want)) return Drop(c);
    c.watching = want;
  }

  // Hands the socket what it takes now; a failed write drops the client.
  void Flush(Connection& c) {
    while (c.HasOutput()) {
      const ptrdiff_t n = server_socket::Send(c.fd, c.outgoing.data() + c.written, c.Waiting());
      if (n < 0) {
        if (n != server_socket::kWouldBlock) Drop(c);
        break;
      }
      c.written += static_cast<size_t>(n);
      total_waiting -= static_cast<size_t>(n);
    }
    if (c.closed) return;
    if (!c.HasOutput()) {
      c.outgoing.clear();
      c.written = 0;
    } else if (c.written >= kCompactOutgoingBytes && c.written * 2 >= c.outgoing.size()) {
      c.outgoing.erase(0, c.written);
      c.written = 0;
    }
  }

  // Takes the connection off the list and out of the loop; on_disconnect follows as a task of its
  // own, so it never runs inside another handler of the server.
  void Retire(Connection& c) {
    c.closed = true;
    loop.Unwatch(c.watch);
    c.watch = 0;
    total_waiting -= c.Waiting();
    c.outgoing.clear();
    c.written = 0;
    c.raw_handler = nullptr;
    const ConnectionId id = c.id;
    connections.erase(id);
    if (handlers.on_disconnect) {
      PostLater([id](Core& core) { core.handlers.on_disconnect(id); });
    }
  }

  void Drop(Connection& c) {
    if (c.closed) return;
    const int fd = c.fd;
    c.fd = -1;
    Retire(c);
    server_socket::Close(fd);
  }

  void Linger(Connection& c) {
    if (c.closed) return;
    const int fd = c.fd;
    const ConnectionId id = c.id;
    c.fd = -1;
    Retire(c);
    server_socket::ShutdownSending(fd);
    Lingering entry;
    entry.fd = fd;
    entry.watch = loop.Watch(fd, EventLoop::kReadable, [this, id](unsigned) { OnLingerReady(id); });
    if (entry.watch == 0) {
      server_socket::Close(fd);
      return;
    }
    entry.timer = loop.AddTimer(kLingerLimitMs, false, [this, id] { EndLinger(id); });
    lingering.emplace(id, entry);
  }

  void OnLingerReady(ConnectionId id) {
    const auto it = lingering.find(id);
    if (it == lingering.end()) return;
    const ptrdiff_t n = server_socket::Receive(it->second.fd, chunk.data(), chunk.size());
    if (n == 0 || (n < 0 && n != server_socket::kWouldBlock)) EndLinger(id);
  }

  void EndLinger(ConnectionId id) {
    const auto it = lingering.find(id);
    if (it == lingering.end()) return;
    loop.Unwatch(it->second.watch);
    loop.CancelTimer(it->second.timer);
    server_socket::Close(it->second.fd);
    lingering.erase(it);
  }

  void CloseAfterSending(Connection& c) {
    if (c.closed) return;
    c.close_after_send = true;
    if (!c.in_item_handler) Settle(c);
  }

  // --- Server ---

  void StopAll() {
    ++generation;
    if (listen_watch != 0) loop.Unwatch(listen_watch);
    listen_watch = 0;
    if (accept_retry != 0) loop.CancelTimer(accept_retry);
    accept_retry = 0;
    if (listen_fd >= 0) server_socket::Close(listen_fd);
    listen_fd = -1;
    port = 0;
    std::map<ConnectionId, std::shared_ptr<Connection>> open;
    open.swap(connections);
    for (auto& [id, connection] : open) {
      connection->closed = true;
      loop.Unwatch(connection->watch);
      server_socket::Close(connection->fd);
      connection->fd = -1;
      connection->raw_handler = nullptr;
    }
    while (!lingering.empty()) EndLinger(lingering.begin()->first);
    total_waiting = 0;
    for (RefusalReport& report : refusals) report = RefusalReport{};
  }
};

class LineServer final : public TcpLineServer {
 public:
  LineServer(EventLoop& loop, TcpLineServerHandlers handlers, TcpLineServerLimits limits)
      : core_(std::make_shared<Core>(loop, std::move(handlers), std::move(limits))) {}
  ~LineServer() override { Stop(); }
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  int Start(uint16_t port) override { return Start(port, std::string()); }

  int Start(uint16_t port, const std::string& address) override {
    Core& core = *core_;
    if (core.listen_fd >= 0) return server_socket::AlreadyListeningCode();
    if (core.library.status() != 0) return core.library.status();
    int fd = -1;
    uint16_t bound_port = 0;
    if (const int code = server_socket::OpenListener(port, address, &fd, &bound_port); code != 0) return code;
    const EventLoop::WatchId watch =
        core.loop.Watch(fd, EventLoop::kReadable, [&core](unsigned) { core.OnListenReady(); });
    if (watch == 0) {
      const int code = server_socket::WatchFailedCode();
      server_socket::Close(fd);
      return code;
    }
    core.listen_fd = fd;
    core.listen_watch = watch;
    core.port = bound_port;
    return 0;
  }

  uint16_t Port() const override { return core_->port; }

  bool Send(ConnectionId id, std::string_view line) override {
    Core& core = *core_;
    const std::shared_ptr<Connection> connection = core.Find(id);
    if (connection == nullptr) return false;
    Connection& c = *connection;
    const size_t adding = line.size() + 2;
    const TcpLineServerLimits& limits = core.limits;
    if (c.Waiting() + adding > limits.send_buffer_bytes ||
        (limits.total_send_bytes > 0 && core.total_waiting + adding > limits.total_send_bytes)) {
      core.Drop(c);
      return false;
    }
    c.outgoing.append(line);
    c.outgoing.append("\r\n");
    core.total_waiting += adding;
    // Inside the client's own handler the answer goes out with whatever else it sends, when the
    // handler returns; otherwise now.
    if (!c.in_item_handler) core.Settle(c);
    return !c.closed;
  }

  bool ReadRawNext(ConnectionId id, size_t count, RawBlockHandler handler) override {
    if (count == 0 || count > kMaxRawBlockBytes) return false;
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection == nullptr || !connection->in_item_handler) return false;
    connection->raw_requested = count;
    connection->raw_handler = std::move(handler);
    return true;
  }

  size_t Pending(ConnectionId id) const override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    return connection == nullptr ? 0 : connection->Waiting();
  }

  bool HoldItems(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection == nullptr || !connection->in_item_handler) return false;
    connection->hold_requested = true;
    return true;
  }

  void ResumeItems(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection == nullptr) return;
    if (connection->in_item_handler) {
      // Let go before the item was even over: nothing to hold.
      connection->hold_requested = false;
      return;
    }
    if (!connection->held) return;
    connection->held = false;
    // The next item comes as a task of its own, never inside the caller.
    core_->PostPump(*connection);
  }

  void CloseAfterSending(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection != nullptr) core_->CloseAfterSending(*connection);
  }

  void Close(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection != nullptr) core_->Drop(*connection);
  }

  std::vector<ClientConnection> Connections() const override {
    std::vector<ClientConnection> open;
    for (const auto& [id, connection] : core_->connections) {
      if (!connection->close_after_send) open.push_back({id, connection->peer});
    }
    return open;
  }

  void Stop() override { core_->StopAll(); }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<TcpLineServer> TcpLineServer::Create(EventLoop& loop, TcpLineServerHandlers handlers,
                                                     size_t send_buffer_bytes) {
  TcpLineServerLimits limits;
  limits.send_buffer_bytes = send_buffer_bytes;
  return Create(loop, std::move(handlers), std::move(limits));
}

std::unique_ptr<TcpLineServer> TcpLineServer::Create(EventLoop& loop, TcpLineServerHandlers handlers,
                                                     TcpLineServerLimits limits) {
  return std::make_unique<LineServer>(loop, std::move(handlers), std::move(limits));
}

}  // namespace keep::platform

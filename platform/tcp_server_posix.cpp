#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/tcp_client.h"
#include "platform/tcp_server.h"

namespace keep::platform {

namespace {

using SteadyClock = std::chrono::steady_clock;
using RawBlockHandler = TcpLineServer::RawBlockHandler;

// How long a connection closed after its last answer keeps swallowing what the client still sends, so
// that closing with unread input (which resets the connection) cannot destroy that answer in transit.
constexpr std::chrono::milliseconds kLingerLimit{1000};
constexpr size_t kReadChunkBytes = 64 * 1024;
// Compacting the outgoing buffer only once this much was written keeps a slow client from making
// every write copy the whole buffer.
constexpr size_t kCompactOutgoingBytes = 64 * 1024;

// A pipe whose read end joins a thread's poll, so that another thread can wake it.
class WakePipe {
 public:
  WakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      read_ = fds[0];
      write_ = fds[1];
    }
  }
  ~WakePipe() {
    if (read_ >= 0) ::close(read_);
    if (write_ >= 0) ::close(write_);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  bool Ok() const { return read_ >= 0; }
  int ReadEnd() const { return read_; }
  // A full pipe already wakes the reader, so a failed write loses nothing.
  void Wake() const {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(write_, &byte, 1);
  }
  void Drain() const {
    char buffer[64];
    while (::read(read_, buffer, sizeof buffer) > 0) {
    }
  }

 private:
  int read_ = -1;
  int write_ = -1;
};

struct Connection {
  Connection(ConnectionId id_in, std::string peer_in, int fd_in) : id(id_in), peer(std::move(peer_in)), fd(fd_in) {}
  ~Connection() {
    if (fd >= 0) ::close(fd);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const ConnectionId id;
  const std::string peer;
  int fd;  // the connection thread's alone once it runs; it closes the socket when it ends
  WakePipe wake;
  std::thread thread;

  // Shared between the loop and the connection thread.
  std::mutex mu;
  std::string outgoing;
  size_t written = 0;  // bytes at the front of `outgoing` already on the socket
  bool item_in_flight = false;
  size_t raw_wanted = 0;  // > 0: the next bytes form one block of this size
  bool close_now = false;
  bool close_after_send = false;
  bool finished = false;

  // Loop thread only.
  bool announced = false;
  bool closed_by_loop = false;
  bool in_item_handler = false;
  bool hold_requested = false;  // asked inside the item's handler
  bool held = false;            // the next item waits for ResumeItems
  size_t raw_requested = 0;
  TcpLineServer::RawBlockHandler raw_handler;
};

std::string DottedText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return {};
  return text;
}

// State the server's threads and posted tasks share; it lives as long as any of them holds it.
struct Core : std::enable_shared_from_this<Core> {
  Core(EventLoop& loop_in, TcpLineServerHandlers handlers_in, TcpLineServerLimits limits_in)
      : loop(loop_in), handlers(std::move(handlers_in)), limits(std::move(limits_in)) {}

  EventLoop& loop;
  const TcpLineServerHandlers handlers;
  const TcpLineServerLimits limits;
  // Bytes queued for every client together and not yet written. Grows only on the loop (Send), so the
  // bound checked there holds; the connection threads only lower it.
  std::atomic<size_t> total_waiting{0};

  // The refusals not yet reported, one report for each reason.
  struct RefusalReport {
    std::string first_peer;
    size_t count = 0;
    bool posted = false;
  };

  mutable std::mutex mu;
  std::map<ConnectionId, std::shared_ptr<Connection>> connections;  // ids grow: accept order
  ConnectionId next_id = 1;
  RefusalReport refusals[2];
  bool stopped = false;  // no refusal report runs after Stop

  std::shared_ptr<Connection> Find(ConnectionId id) const {
    std::lock_guard lock(mu);
    const auto it = connections.find(id);
    return it == connections.end() ? nullptr : it->second;
  }

  // A connection that is still listed and not given up by the loop: the items of any other are stale.
  std::shared_ptr<Connection> FindLive(ConnectionId id) const {
    std::shared_ptr<Connection> connection = Find(id);
    return connection != nullptr && !connection->closed_by_loop ? connection : nullptr;
  }

  void AcceptLoop(int listen_fd, const WakePipe& stop) {
    for (;;) {
      pollfd entries[2] = {{listen_fd, POLLIN, 0}, {stop.ReadEnd(), POLLIN, 0}};
      if (::poll(entries, 2, -1) < 0 && errno != EINTR) return;
      if (entries[1].revents != 0) return;
      if (entries[0].revents == 0) continue;
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      const int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors or memory: the pending connection would wake us at once again, so back
          // off a little (still stoppable) instead of spinning.
          pollfd wait_stop{stop.ReadEnd(), POLLIN, 0};
          if (::poll(&wait_stop, 1, 100) > 0) return;
        }
        continue;
      }
      Admit(fd, DottedText(peer));
    }
  }

  // Holding `mu`: counts a refusal and makes sure one report of its reason is on its way to the loop.
  void RefuseLocked(int fd, std::string peer, Refusal reason) {
    ::close(fd);
    RefusalReport& report = refusals[static_cast<size_t>(reason)];
    if (report.count == 0) report.first_peer = std::move(peer);
    ++report.count;
    if (report.posted) return;
    report.posted = true;
    loop.Post([core = shared_from_this(), reason] { core->ReportRefusals(reason); });
  }

  void ReportRefusals(Refusal reason) {
    RefusalReport report;
    {
      std::lock_guard lock(mu);
      if (stopped) return;
      std::swap(report, refusals[static_cast<size_t>(reason)]);
    }
    if (report.count > 0 && handlers.on_refused) handlers.on_refused(report.first_peer, reason, report.count);
  }

  void Admit(int fd, std::string peer) {
    const bool admitted = !limits.admit || limits.admit(peer);
    std::lock_guard lock(mu);
    if (!admitted) return RefuseLocked(fd, std::move(peer), Refusal::kNotAdmitted);
    // Counted with the connections still winding down: their descriptors are not free yet either.
    if (limits.max_connections > 0 && connections.size() >= limits.max_connections) {
      return RefuseLocked(fd, std::move(peer), Refusal::kTooMany);
    }
    auto connection = std::make_shared<Connection>(next_id, std::move(peer), fd);
    if (!connection->wake.Ok()) return;  // its destructor closes the socket
    const ConnectionId id = next_id++;
    // Posted before the thread starts, so on_connect reaches the loop before any item of the client.
    loop.Post([core = shared_from_this(), id] { core->Announce(id); });
    try {
      connection->thread = std::thread([core = shared_from_this(), connection] { core->Serve(*connection); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the client is refused; the posted task finds nothing
    }
    connections.emplace(id, std::move(connection));
  }

  void Announce(ConnectionId id) {
    const std::shared_ptr<Connection> connection = FindLive(id);
    if (connection == nullptr) return;
    connection->announced = true;
    if (handlers.on_connect) handlers.on_connect(id, connection->peer);
  }

  // The connection thread's last task: reports the end and frees the connection.
  void Retire(ConnectionId id) {
    std::shared_ptr<Connection> connection;
    {
      std::lock_guard lock(mu);
      const auto it = connections.find(id);
      if (it == connections.end()) return;  // Stop took it
      connection = std::move(it->second);
      connections.erase(it);
    }
    // The thread has nothing left to do but return.
    if (connection->thread.joinable()) connection->thread.join();
    if (connection->announced && handlers.on_disconnect) handlers.on_disconnect(id);
  }

  // Runs the handler of one item, then lets the connection's thread go on (with a raw block when the
  // handler asked for one).
  template <typename Handler>
  void RunItem(ConnectionId id, Handler&& handler) {
    const std::shared_ptr<Connection> connection = FindLive(id);
    if (connection == nullptr) return;
    connection->in_item_handler = true;
    connection->raw_requested = 0;
    handler(*connection);
    connection->in_item_handler = false;
    if (connection->closed_by_loop) return;
    const bool hold = connection->hold_requested;
    connection->hold_requested = false;
    connection->held = hold;
    {
      std::lock_guard lock(connection->mu);
      if (!hold) connection->item_in_flight = false;
      connection->raw_wanted = connection->raw_requested;
    }
    connection->raw_requested = 0;
    connection->wake.Wake();
  }

  void DeliverLine(ConnectionId id, std::string line) {
    RunItem(id, [&](Connection&) {
      if (handlers.on_line) handlers.on_line(id, std::move(line));
    });
  }

  void DeliverRaw(ConnectionId id, std::string block) {
    RunItem(id, [&](Connection& connection) {
      RawBlockHandler handler = std::move(connection.raw_handler);
      connection.raw_handler = nullptr;
      if (handler) handler(std::move(block));
    });
  }

  void DeliverOverlong(ConnectionId id) {
    const std::shared_ptr<Connection> connection = FindLive(id);
    if (connection == nullptr) return;
    if (handlers.on_overlong) handlers.on_overlong(id);
    CloseAfterSending(*connection);
  }

  void CloseAfterSending(Connection& connection) {
    {
      std::lock_guard lock(connection.mu);
      if (connection.finished) return;
      connection.close_after_send = true;
    }
    connection.wake.Wake();
  }

  void CloseNow(Connection& connection) {
    {
      std::lock_guard lock(connection.mu);
      if (connection.finished) return;
      connection.close_now = true;
    }
    connection.wake.Wake();
  }

  void Serve(Connection& connection);
};

// What a connection thread does between polls with the bytes it holds.
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

void Core::Serve(Connection& connection) {
  const int fd = connection.fd;
  std::string in;
  Splitter splitter;
  bool end_of_input = false;  // the client closed its side
  bool reading_over = false;  // overlong or closing: nothing more is delivered
  bool linger = false;
  char chunk[kReadChunkBytes];

  for (;;) {
    bool in_flight = false;
    size_t raw_wanted = 0;
    bool has_output = false;
    {
      std::lock_guard lock(connection.mu);
      if (connection.close_now) break;
      if (connection.close_after_send) reading_over = true;
      if (!reading_over && !connection.item_in_flight) {
        std::string item;
        const Splitter::Item kind = splitter.Next(in, connection.raw_wanted, &item);
        const ConnectionId id = connection.id;
        auto core = shared_from_this();
        switch (kind) {
          case Splitter::Item::kNone:
            // After the client's end of input, what is left can never become an item.
            if (end_of_input) reading_over = true;
            break;
          case Splitter::Item::kLine:
            loop.Post([core, id, line = std::move(item)]() mutable { core->DeliverLine(id, std::move(line)); });
            connection.item_in_flight = true;
            break;
          case Splitter::Item::kRaw:
            connection.raw_wanted = 0;
            loop.Post([core, id, block = std::move(item)]() mutable { core->DeliverRaw(id, std::move(block)); });
            connection.item_in_flight = true;
            break;
          case Splitter::Item::kOverlong:
            reading_over = true;
            in.clear();
            in.shrink_to_fit();
            loop.Post([core, id] { core->DeliverOverlong(id); });
            connection.item_in_flight = true;
            break;
        }
      }
      in_flight = connection.item_in_flight;
      raw_wanted = connection.raw_wanted;
      has_output = connection.written < connection.outgoing.size();
      if (!has_output && connection.close_after_send) {
        linger = true;
        break;
      }
      // The client is gone and every item it sent has been handled and answered.
      if (end_of_input && reading_over && !in_flight && !has_output) break;
    }

    // Read ahead while an item is in flight, but only so far: a client that floods the server while its
    // request is handled fills its own socket buffer, not our memory.
    const size_t read_limit = std::max(raw_wanted, kMaxClientLineBytes + 2);
    const bool want_input = !end_of_input && !reading_over && in.size() < read_limit;
    pollfd entries[2] = {
        {fd, static_cast<short>((want_input ? POLLIN : 0) | (has_output ? POLLOUT : 0)), 0},
        {connection.wake.ReadEnd(), POLLIN, 0},
    };
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (entries[1].revents != 0) connection.wake.Drain();
    const short events = entries[0].revents;
    // A reset or a connection closed both ways: nothing can be read or written any more. (A plain end
    // of the client's input comes as POLLIN and is read as such.)
    if ((events & (POLLERR | POLLNVAL)) != 0) break;
    if ((events & POLLHUP) != 0 && !want_input) break;
    if ((events & POLLIN) != 0) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        in.append(chunk, static_cast<size_t>(n));
      } else if (n == 0) {
        end_of_input = true;
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        break;
      }
    }
    if ((events & POLLOUT) != 0) {
      std::lock_guard lock(connection.mu);
      std::string& out = connection.outgoing;
      // MSG_NOSIGNAL: a client that has gone gives an error here, not a signal that ends the process.
      const ssize_t n =
          ::send(fd, out.data() + connection.written, out.size() - connection.written, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
      } else {
        connection.written += static_cast<size_t>(n);
        total_waiting -= static_cast<size_t>(n);
        if (connection.written == out.size()) {
          out.clear();
          connection.written = 0;
        } else if (connection.written >= kCompactOutgoingBytes && connection.written * 2 >= out.size()) {
          out.erase(0, connection.written);
          connection.written = 0;
        }
      }
    }
  }

  if (linger) {
    ::shutdown(fd, SHUT_WR);
    const SteadyClock::time_point deadline = SteadyClock::now() + kLingerLimit;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      if (left <= 0) break;
      pollfd entries[2] = {{fd, POLLIN, 0}, {connection.wake.ReadEnd(), POLLIN, 0}};
      const int ready = ::poll(entries, 2, static_cast<int>(left));
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      if (entries[1].revents != 0) {
        connection.wake.Drain();
        std::lock_guard lock(connection.mu);
        if (connection.close_now) break;
      }
      if (entries[0].revents != 0) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
      }
    }
  }

  ::close(fd);
  {
    std::lock_guard lock(connection.mu);
    connection.fd = -1;
    connection.finished = true;
    total_waiting -= connection.outgoing.size() - connection.written;
    connection.outgoing.clear();
    connection.written = 0;
  }
  loop.Post([core = shared_from_this(), id = connection.id] { core->Retire(id); });
}

class PosixTcpLineServer final : public TcpLineServer {
 public:
  PosixTcpLineServer(EventLoop& loop, TcpLineServerHandlers handlers, TcpLineServerLimits limits)
      : core_(std::make_shared<Core>(loop, std::move(handlers), std::move(limits))) {}
  ~PosixTcpLineServer() override { Stop(); }
  PosixTcpLineServer(const PosixTcpLineServer&) = delete;
  PosixTcpLineServer& operator=(const PosixTcpLineServer&) = delete;

  int Start(uint16_t port) override { return Start(port, std::string()); }

  int Start(uint16_t port, const std::string& address) override {
    if (listen_fd_ >= 0) return EISCONN;
    in_addr bind_to{};
    bind_to.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &bind_to) != 1) return EINVAL;
    // Close-on-exec: the programs the server starts must not keep its port.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return MapSocketError(errno);
    auto fail = [fd](int code) {
      ::close(fd);
      return MapSocketError(code);
    };
    // A restarted server must not wait for the connections of its predecessor to time out.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail(errno);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr = bind_to;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return fail(errno);
    if (::listen(fd, SOMAXCONN) != 0) return fail(errno);
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return fail(errno);
    auto stop = std::make_unique<WakePipe>();
    if (!stop->Ok()) return fail(errno);
    try {
      accept_thread_ = std::thread([core = core_, fd, pipe = stop.get()] { core->AcceptLoop(fd, *pipe); });
    } catch (const std::system_error& e) {
      return fail(e.code().value());
    }
    listen_fd_ = fd;
    port_ = ntohs(local.sin_port);
    stop_accepting_ = std::move(stop);
    return 0;
  }

  uint16_t Port() const override { return port_; }

  bool Send(ConnectionId id, std::string_view line) override {
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection == nullptr) return false;
    bool overflow = false;
    {
      std::lock_guard lock(connection->mu);
      if (connection->close_now || connection->finished) return false;
      const size_t waiting = connection->outgoing.size() - connection->written;
      const size_t adding = line.size() + 2;
      const TcpLineServerLimits& limits = core_->limits;
      overflow = waiting + adding > limits.send_buffer_bytes ||
                 (limits.total_send_bytes > 0 && core_->total_waiting.load() + adding > limits.total_send_bytes);
      if (overflow) {
        connection->close_now = true;
      } else {
        connection->outgoing.append(line);
        connection->outgoing.append("\r\n");
        core_->total_waiting += adding;
      }
    }
    connection->wake.Wake();
    return !overflow;
  }

  bool ReadRawNext(ConnectionId id, size_t count, RawBlockHandler handler) override {
    if (count == 0 || count > kMaxRawBlockBytes) return false;
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection == nullptr || !connection->in_item_handler) return false;
    connection->raw_requested = count;
    connection->raw_handler = std::move(handler);
    return true;
  }

  size_t Pending(ConnectionId id) const override {
    const std::shared_ptr<Connection> connection = core_->Find(id);
    if (connection == nullptr) return 0;
    std::lock_guard lock(connection->mu);
    return connection->outgoing.size() - connection->written;
  }

  bool HoldItems(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection == nullptr || !connection->in_item_handler) return false;
    connection->hold_requested = true;
    return true;
  }

  void ResumeItems(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection == nullptr) return;
    if (connection->in_item_handler) {
      // Let go before the item was even over: nothing to hold.
      connection->hold_requested = false;
      return;
    }
    if (!connection->held) return;
    connection->held = false;
    {
      std::lock_guard lock(connection->mu);
      connection->item_in_flight = false;
    }
    connection->wake.Wake();
  }

  void CloseAfterSending(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection != nullptr) core_->CloseAfterSending(*connection);
  }

  void Close(ConnectionId id) override {
    const std::shared_ptr<Connection> connection = core_->FindLive(id);
    if (connection == nullptr) return;
    connection->closed_by_loop = true;
    core_->CloseNow(*connection);
  }

  std::vector<ClientConnection> Connections() const override {
    std::vector<ClientConnection> open;
    std::lock_guard lock(core_->mu);
    for (const auto& [id, connection] : core_->connections) {
      if (!connection->announced || connection->closed_by_loop) continue;
      std::lock_guard connection_lock(connection->mu);
      if (connection->close_now || connection->close_after_send || connection->finished) continue;
      open.push_back({id, connection->peer});
    }
    return open;
  }

  void Stop() override {
    if (accept_thread_.joinable()) {
      stop_accepting_->Wake();
      accept_thread_.join();
    }
    stop_accepting_.reset();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    port_ = 0;
    std::map<ConnectionId, std::shared_ptr<Connection>> connections;
    {
      std::lock_guard lock(core_->mu);
      connections.swap(core_->connections);
      core_->stopped = true;
    }
    for (auto& [id, connection] : connections) core_->CloseNow(*connection);
    for (auto& [id, connection] : connections) {
      if (connection->thread.joinable()) connection->thread.join();
    }
  }

 private:
  std::shared_ptr<Core> core_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::unique_ptr<WakePipe> stop_accepting_;
  std::thread accept_thread_;
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
  return std::make_unique<PosixTcpLineServer>(loop, std::move(handlers), std::move(limits));
}

}  // namespace keep::platform

// A TCP server for line-oriented clients over IPv4: it accepts connections up to its bound, splits what
// each client sends into lines and hands them to its handlers, and writes the answers without ever
// making the loop wait on a socket.
//
// Threads: none of its own. The listener and every connection are descriptors the event loop watches
// beside its timers, so the server costs the same threads for one client as for a thousand. Every
// handler runs on the loop thread, and every method below is for the loop thread only (the server
// checks nothing of the kind itself, so calling from elsewhere is a data race).
//
// Order: a connection has at most one item (a line, an overlong notice or a raw block) in flight: the
// next is split off only after the handler of the last has returned, and a few at most per connection
// and turn of the loop, so one client's flood cannot starve the others. A handler that wants the bytes
// after its line unsplit calls ReadRawNext before it returns. So items reach the handlers strictly in
// the order the client sent them, and a raw block can never be overtaken by the lines behind it.
//
// Errors are codes like those of TcpClient (0 for success, see MapSocketError in tcp_client.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"

namespace keep::platform {

using ConnectionId = uint64_t;

// A line whose text (without its LF and one CR before it) is longer than this is never delivered.
inline constexpr size_t kMaxClientLineBytes = 64 * 1024;
// The default bound of the answers waiting for one client.
inline constexpr size_t kDefaultSendBufferBytes = 1024 * 1024;
// The largest raw block ReadRawNext accepts, whatever its caller's own limit.
inline constexpr size_t kMaxRawBlockBytes = 16 * 1024 * 1024;

// Why a connection was closed as soon as it was accepted.
enum class Refusal {
  kNotAdmitted,  // the admission check said no (an address not allowed)
  kTooMany,      // the server holds its maximum of connections
};

// Bounds of a server. Zero in a bound means none.
struct TcpLineServerLimits {
  // The answers waiting for one client; a client that lets more pile up is disconnected.
  size_t send_buffer_bytes = kDefaultSendBufferBytes;
  // The answers waiting for all clients together; the client whose answer would pass it is
  // disconnected instead, so the server's memory stays bounded whatever many clients do.
  size_t total_send_bytes = 0;
  // Connections open at once (each costs a descriptor and its buffers); more are refused at accept.
  size_t max_connections = 0;
  // Whether a client from `peer` (dotted IPv4) may connect; empty admits everyone. Runs on the loop.
  std::function<bool(const std::string& peer)> admit;
};

struct ClientConnection {
  ConnectionId id = 0;
  std::string peer;  // the peer's IPv4 address in dotted form, "127.0.0.1"
  bool operator==(const ClientConnection&) const = default;
};

// Run on the loop thread. Any of them may be empty. A handler may call every method of the server,
// Stop() included.
struct TcpLineServerHandlers {
  // A client connected; it is listed by Connections() from now on.
  std::function<void(ConnectionId, const std::string& peer)> on_connect;
  // One line the client sent, without its LF and without one CR before the LF. A last piece of text
  // that no LF ends when the client closes is dropped.
  std::function<void(ConnectionId, std::string line)> on_line;
  // The client sent a line longer than kMaxClientLineBytes. Nothing more it sends is read. Whatever
  // the handler sends is written, then the connection closes (as by CloseAfterSending).
  std::function<void(ConnectionId)> on_overlong;
  // Connections were refused at accept: the peer of the first, why, and how many since the last report.
  // Reports are coalesced (at most one waits on the loop for each reason), so a flood of attempts costs
  // the loop next to nothing.
  std::function<void(const std::string& peer, Refusal reason, size_t count)> on_refused;
  // The connection is gone (the client closed it, an error, an overflow, Close or CloseAfterSending).
  // Exactly once for each connection that had on_connect, except when Stop() closed it. No handler runs
  // for the id afterwards and the id is never given again.
  std::function<void(ConnectionId)> on_disconnect;
};

class TcpLineServer {
 public:
  using RawBlockHandler = std::function<void(std::string block)>;

  // `loop` must outlive the server. `send_buffer_bytes` bounds the answers waiting for one client
  // (see Send). Nothing listens before Start.
  static std::unique_ptr<TcpLineServer> Create(EventLoop& loop, TcpLineServerHandlers handlers,
                                               size_t send_buffer_bytes = kDefaultSendBufferBytes);
  static std::unique_ptr<TcpLineServer> Create(EventLoop& loop, TcpLineServerHandlers handlers,
                                               TcpLineServerLimits limits);

  // Stop(), so on the loop thread too.
  virtual ~TcpLineServer() = default;

  // Listens on `port` of every local IPv4 address (0: a free port, see Port()), with the local address
  // reusable at once after a previous server. 10048 when the port is taken, 10044 when IPv4 TCP is not
  // available, another system code otherwise; EISCONN when already listening. Nothing is left open on
  // failure. A server may start again after Stop.
  virtual int Start(uint16_t port) = 0;
  // The same on the one local address `address` (dotted IPv4); empty means every address. EINVAL for
  // a text that is no IPv4 address.
  virtual int Start(uint16_t port, const std::string& address) = 0;
  // The port listened on; 0 when not listening.
  virtual uint16_t Port() const = 0;

  // Queues `line` plus CR LF for the client; the line must not hold line breaks itself. Never waits:
  // what the socket takes now is written (inside the client's own item handler, when the handler
  // returns), the rest as the client reads. False when the connection is unknown or gone. When the
  // queued bytes would exceed the send buffer, the client (which has stopped reading) is disconnected
  // instead, and false is returned; other clients are not affected.
  virtual bool Send(ConnectionId id, std::string_view line) = 0;

  // Only inside on_line or a raw-block handler of `id`: the next `count` bytes the client sends after
  // the item being handled (bytes already received count first) are delivered as one block to
  // `handler`, unsplit, before any later line. Then lines go on as before. False, and nothing changes,
  // when called elsewhere, when `count` is 0 or above kMaxRawBlockBytes, or for an unknown connection.
  // If the client closes before all bytes came, the block is never delivered (on_disconnect is).
  virtual bool ReadRawNext(ConnectionId id, size_t count, RawBlockHandler handler) = 0;

  // The bytes queued for the client and not yet handed to its socket; 0 for an unknown connection.
  virtual size_t Pending(ConnectionId id) const = 0;

  // Only inside on_line or a raw-block handler of `id`: the client's next item waits, after this one
  // returns, until ResumeItems(id), so a long answer (a file) is sent before the client's next request
  // is taken. False when called elsewhere or for an unknown connection.
  virtual bool HoldItems(ConnectionId id) = 0;
  // Lets a held connection's items go on (inside the item's handler: takes the hold back); nothing for
  // a connection that is not held.
  virtual void ResumeItems(ConnectionId id) = 0;

  // Reads nothing more from the client (no further item is delivered), writes what was sent to it,
  // then closes the connection: on_disconnect is reported once all is written, while the socket still
  // takes (and drops) what the client sends for a second, so that its unread input cannot reset the
  // connection and destroy the last answer in transit. Unknown ids are ignored.
  virtual void CloseAfterSending(ConnectionId id) = 0;
  // Closes the connection at once; queued answers are dropped and no further item is delivered.
  // on_disconnect follows. Unknown ids are ignored.
  virtual void Close(ConnectionId id) = 0;

  // The open connections in the order they were accepted: announced by on_connect and neither closing
  // nor reported gone.
  virtual std::vector<ClientConnection> Connections() const = 0;

  // Closes the listener and every connection. No handler runs after it returns (reports already on
  // their way are dropped; on_disconnect is not reported). Doing it again does nothing.
  virtual void Stop() = 0;
};

}  // namespace keep::platform

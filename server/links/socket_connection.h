// A TCP client link: a communication connection to a peer given by address or host name and by port
// or service name, that reports the number of bytes arrived through OnRxChar. Packets that arrive
// before the report runs are reported as one count; bytes the handler leaves unread are reported
// again kSocketPollIntervalMs later (not at once, so a handler that ignores them is not called over
// and over).
//
// Threads: the connection is configured, opened and closed from one thread, the loop thread when an
// event loop is given. With a loop (SetEventLoop) and DontSynchronize false, the loop watches the
// socket and DoRxChar runs on it as soon as bytes arrive: no thread of its own. Otherwise a receive
// thread looks every kSocketPollIntervalMs and runs DoRxChar on itself. InQueue, PurgeIn, PurgeOut,
// WriteData and ReadData may be called from either thread; they are serialised by the socket's lock.
// A handler that runs on the receive thread must not close the connection.
//
// Errors: failures raise EConnectError (ESocketError when a socket call failed, with its code).
// A connection the peer drops is not noticed: nothing more arrives, and a send on it fails with a
// socket error, never with a signal. The connection stays active until it is closed.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/event_loop.h"
#include "platform/tcp_client.h"
#include "server/links/log_connection.h"

namespace keep::server {

inline constexpr char kCannotOpenSocket[] = "Cannot open socket";
inline constexpr char kNoSocketAddress[] = "No address or host name given";

// How long opening waits for the peer by default. The system's own limit for an address that does not
// answer is minutes, during which the thread that opens (the server's loop) would stand still.
inline constexpr int kDefaultConnectTimeoutMs = 5000;
// How long a send waits for the system to take the bytes of a peer that has stopped reading.
inline constexpr int kSocketSendTimeoutMs = 5000;
// The interval at which the receive thread looks for arrived bytes, and after which bytes a handler
// left unread are reported again.
inline constexpr int kSocketPollIntervalMs = 100;

class ESocketError : public EConnectError {
 public:
  // `code` as platform/tcp_client.h gives it. The message is `message` when given, otherwise
  // "Socket error <code> (<system text>) in <api>".
  ESocketError(int code, const std::string& api, const std::string& message = "");
  int Code() const { return code_; }

 private:
  int code_;
};

class TClientSocketConnection : public TCommunicationConnection {
 public:
  TClientSocketConnection();
  ~TClientSocketConnection() override;

  // Every setter below is refused while active (EConnectError kConnectionIsActive).
  // The peer's IPv4 address in dotted form; used when Host is empty.
  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& value);
  // A host name to look up; when not empty it takes precedence over Address.
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& value);
  // The peer's TCP port, 1-65535; used when Service is empty.
  int Port() const { return port_; }
  void SetPort(int value);
  // A service name or number to look up; when not empty it takes precedence over Port.
  const std::string& Service() const { return service_; }
  void SetService(const std::string& value);
  // Negative: as long as the system's connect takes.
  int ConnectTimeoutMs() const { return connect_timeout_ms_; }
  void SetConnectTimeoutMs(int value);
  // The loop that watches the socket and runs OnRxChar when DontSynchronize is false; not owned, must
  // outlive the connection. Null: OnRxChar runs on the receive thread.
  void SetEventLoop(platform::EventLoop* loop);

  // -1 when inactive; otherwise the bytes waiting to be read (0 when the socket cannot say).
  int InQueue() override;
  // Drops the bytes waiting now. Nothing when inactive.
  void PurgeIn() override;
  // Nothing: sent bytes are the system's once it has taken them.
  void PurgeOut() override;
  // Sends all Count bytes (waiting at most kSocketSendTimeoutMs) and returns Count. ESocketError when
  // the send fails or times out; EConnectError kConnectionIsInactive when not open.
  int WriteData(const char* Buffer, int Count) override;
  // Reads up to Count waiting bytes without waiting and returns how many. ESocketError when the read
  // fails; EConnectError kConnectionIsInactive when not open.
  int ReadData(char* Buffer, int Count) override;

 protected:
  // Looks up the peer (Host, else Address; Service, else Port), connects within ConnectTimeoutMs and
  // starts watching it (or the receive thread). An empty Address without Host raises EConnectError kNoSocketAddress; a
  // failed look-up ESocketError 10057; a port outside 1-65535 or a failed connect ESocketError with
  // the message kCannotOpenSocket. After a failure nothing is left open or running.
  void DoOpen() override;
  // Stops watching (or stops the receive thread), then closes the socket. Bytes not yet read are
  // dropped with it.
  void DoClose() override;

 private:
  class TClientSocketThread;
  void ReleaseSocket();
  // The loop's watch found the socket readable.
  void OnReadable();
  void StopWatching();

  std::string address_;
  std::string host_;
  int port_ = 0;
  std::string service_;
  int connect_timeout_ms_ = kDefaultConnectTimeoutMs;
  platform::EventLoop* event_loop_ = nullptr;

  // socket_ is set and reset under lock_ and only while no receive thread runs.
  std::unique_ptr<platform::TcpClient> socket_;
  std::mutex lock_;
  std::unique_ptr<TClientSocketThread> thread_;
  // Loop thread only: the watch on the socket, and the pause after a report whose bytes were left.
  platform::EventLoop* watching_loop_ = nullptr;
  platform::EventLoop::WatchId watch_ = 0;
  platform::EventLoop::TimerId resume_ = 0;
};

}  // namespace keep::server

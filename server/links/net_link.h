// The UPS link over TCP to a serial-to-network adapter: the operations the UPS manager calls to set up,
// open, use and free its one connection to the adapter. The bytes on the wire are the UPS protocol's
// own; the link adds no framing. Owned by the server; there is at most one connection at a time.
//
// Threads: every call comes from the loop thread. Received bytes are noticed by the connection's
// receive thread within about 100 ms and read on the loop, where `on_receive` gets them in the order
// they arrived. Failures are result codes or dropped; nothing is thrown.
//
// A connection the adapter drops is not noticed by the link: nothing more arrives, sends fail quietly,
// and the link counts as open until OpenNetLink opens it again. The UPS manager's reply time-out is
// what notices the silence.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_loop.h"
#include "server/links/logger.h"
#include "server/links/socket_connection.h"
#include "server/records/setup_data.h"

namespace keep::server {

// The adapter's TCP port for the UPS's serial line.
inline constexpr int kNetAdapterPort = 2101;

// The adapter connection: its RxChar handler reads what arrived and hands it on.
class TDigiTcpClient : public TClientSocketConnection {
 public:
  // `on_received` gets every non-empty block read by RxChar, on the thread where RxChar runs.
  explicit TDigiTcpClient(std::function<void(std::string)> on_received) : on_received_(std::move(on_received)) {}
  ~TDigiTcpClient() override;

  // The handler OnRxChar is set to: Receive(Count) (logged on channel 2), then on_received.
  void RxChar(TConnection& Sender, int Count);

 private:
  std::function<void(std::string)> on_received_;
};

// The adapter's address setting: "a.b.c.d" (port 2101) or "a.b.c.d:port" for an adapter that
// listens elsewhere. A suffix that is no port 1-65535 stays part of the address (which then fails
// to open, as any bad address does).
struct NetAdapterAddress {
  std::string address;
  int port = kNetAdapterPort;
};
NetAdapterAddress SplitAdapterAddress(std::string_view setting, int default_port = kNetAdapterPort);

class NetLink {
 public:
  // `on_receive` runs on `loop` with each received block, in order. The loop must outlive the link.
  NetLink(platform::EventLoop& loop, std::function<void(std::string)> on_receive);
  ~NetLink();  // frees the connection
  NetLink(const NetLink&) = delete;
  NetLink& operator=(const NetLink&) = delete;

  // Creates the connection if there is none (100002 when that fails), closes it if open, and sets it
  // up for setup.ServerSetup.UpsNetCardAddress (an IPv4 address in dotted form, optionally with
  // ":port"; see SplitAdapterAddress) on port 2101, received
  // data handled on the loop. `traffic_logger` (may be null; not owned, must outlive the connection or
  // be replaced first) receives sent bytes on channel 1 and received bytes on channel 2. 100007 when
  // the set-up fails; otherwise 0. The connection must be opened again afterwards.
  int CreateNetLink(const TSetupData& setup, TLogger* traffic_logger);
  // Closes the connection if open, then opens it, waiting at most kDefaultConnectTimeoutMs for the
  // adapter. A failure (no address, an address that is no IPv4 address, nothing answering, refused)
  // is dropped: the connection stays closed and the UPS simply seems silent. Returns 0; 100002 when no
  // connection was created.
  int OpenNetLink();
  // Sends `text` when the connection is open (logged on channel 1); nothing, and nothing logged, when
  // it is closed. A failed send (the adapter dropped the connection, or took nothing for
  // kSocketSendTimeoutMs) is dropped: the UPS manager's reply time-out notices the missing answer.
  void SendNetLink(std::string_view text);
  // Closes and frees the connection. Returns after its receive thread has ended; blocks received but
  // not yet delivered are dropped.
  void FreeNetLink();
  // Null when there is none.
  TDigiTcpClient* Client() { return client_.get(); }

  // The port that connections set up from now on use instead of 2101: tests run their adapter on a
  // free loopback port.
  void SetPortForTests(int port) { port_ = port; }

 private:
  platform::EventLoop& loop_;
  std::function<void(std::string)> on_receive_;
  int port_ = kNetAdapterPort;
  std::unique_ptr<TDigiTcpClient> client_;
  // Deliveries posted to the loop check this there: it is false once the connection they came from
  // has been freed.
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace keep::server

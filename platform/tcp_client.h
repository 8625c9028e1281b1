// A TCP client connection over IPv4, with the name and service look-ups it needs. Used by the UPS
// link to a serial-to-network adapter; the socket interface of the system lives behind it.
//
// Errors are codes, 0 for success: the socket failures the server's logic knows keep their Windows
// numbers (see MapSocketError); every other code is the system's (errno on POSIX).
//
// Threads: one connection may be used from several threads at once (one reading, one sending, one
// asking what is waiting), except Close and destruction, which nothing else may overlap.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace keep::platform {

// The Windows numbers of the socket failures the server's logic tells apart.
inline constexpr int kSocketErrorNotSupported = 10044;  // address family or protocol not supported
inline constexpr int kSocketErrorAddressInUse = 10048;  // the local address is taken
inline constexpr int kSocketErrorNotConnected = 10057;  // not connected; also a name that does not resolve

// The system's code of a failed socket call turned into the number the server's logic uses:
// EADDRINUSE gives 10048; EAFNOSUPPORT, EPROTONOSUPPORT and ESOCKTNOSUPPORT give 10044; ENOTCONN gives
// 10057; any other code is returned unchanged.
int MapSocketError(int system_code);

struct Ipv4Address {
  std::array<uint8_t, 4> octets{};  // in the order written: 127.0.0.1 is {127, 0, 0, 1}
  bool operator==(const Ipv4Address&) const = default;
};

// The IPv4 address of `host`. With `numeric_only` the text must be an address in dotted form (the
// short forms "127.1" included) and nothing is looked up; otherwise a name is looked up through the
// system's resolver (the hosts file, then DNS), which may wait as long as the resolver's own time-outs
// allow. A name without an IPv4 address, an empty text or a failed look-up gives 10057.
int ResolveIpv4(const std::string& host, bool numeric_only, Ipv4Address* address);

// The TCP port of `service`: a decimal number 0-65535, or a service name from the system's services
// database ("http" gives 80). Anything else gives 10057.
int ResolveTcpService(const std::string& service, uint16_t* port);

class TcpClient {
 public:
  // Connects to `address`:`port`, waiting at most `timeout_ms` (negative: as long as the system's
  // connect takes, which can be minutes for an address that does not answer). A client object is
  // created only on success. ETIMEDOUT when the time ran out; ECONNREFUSED when nothing listens.
  static int Connect(const Ipv4Address& address, uint16_t port, int timeout_ms, std::unique_ptr<TcpClient>* client);

  virtual ~TcpClient() = default;  // closes the connection

  // Sends all `size` bytes, waiting at most `timeout_ms` for the system to take them (negative: without
  // limit). *sent says how many it took; 0 only when that is all of them, ETIMEDOUT when the time ran
  // out first. A connection the peer has dropped gives an error code (EPIPE, ECONNRESET) and never
  // raises a signal.
  virtual int Send(const char* data, int size, int timeout_ms, int* sent) = 0;
  // Reads what has arrived, at most `capacity` bytes, never waiting; *count is 0 when nothing is there,
  // and also once the peer has closed the connection and everything before was read.
  virtual int Read(char* buffer, int capacity, int* count) = 0;
  // Bytes that have arrived and not been read yet.
  virtual int Available(int* count) = 0;
  // Waits up to `timeout_ms` (negative: without limit) until a Read would not come back empty-handed
  // for lack of data: bytes arrived, or the peer closed or reset the connection. *readable is false
  // when the time ran out.
  virtual int WaitReadable(int timeout_ms, bool* readable) = 0;
  // Closes the connection; afterwards every call gives 10057. Closing again does nothing.
  virtual void Close() = 0;
  // What an event loop watches for the bytes arriving (EventLoop::Watch); -1 once closed. It stays
  // the client's: unwatch it before Close.
  virtual int Descriptor() const = 0;
};

}  // namespace keep::platform

// The connection of the console to its server: lines out, lines in. An interface so that the
// client's logic can be tested against a scripted server; the real one is TCP (CreateTcpServerLink).
//
// Threads: Connect and Close from the menu thread only, never while a ReadLine runs (the receive
// thread is stopped first). Write (menu thread) and ReadLine (receive thread) may run at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace keep::console {

// A received line longer than this is dropped up to its line end: the server never sends one.
inline constexpr size_t kMaxReceivedLine = 1024 * 1024;

enum class LinkRead { kLine, kTimeout, kClosed };

class ServerLink {
 public:
  virtual ~ServerLink() = default;
  // Closes any previous connection, then connects to `host` (a name or an address) on `port` (a
  // decimal number), waiting at most `timeout_ms`. True when connected.
  virtual bool Connect(const std::string& host, const std::string& port, int timeout_ms) = 0;
  // True from a successful Connect until Close, or until the peer closed the connection or a read
  // or write failed.
  virtual bool Connected() const = 0;
  // Sends all of `bytes`; false when they could not all be sent (the link is then not connected).
  virtual bool Write(std::string_view bytes) = 0;
  // Waits up to `timeout_ms` for one line and stores it without its line end (LF, CR LF).
  virtual LinkRead ReadLine(std::string* line, int timeout_ms) = 0;
  virtual void Close() = 0;
};

// The TCP link; null when it cannot be created.
std::unique_ptr<ServerLink> CreateTcpServerLink();

}  // namespace keep::console

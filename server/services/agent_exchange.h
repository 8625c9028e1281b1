// The blocking half of a remote command: connect to the agent, wait for its greeting line and send
// the scrambled command. It runs on a thread of its own (never on the main loop) and touches nothing
// of the server; its owner turns the outcome into a log line on the loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/tcp_client.h"

namespace keep::server {

// A greeting line longer than this is not the greeting; the agent is not read any further.
inline constexpr size_t kMaxAgentLineBytes = 4096;
// How often a wait looks whether its owner has given up.
inline constexpr int kExchangeSliceMs = 20;

// What the exchange asks of its owner while it runs. Called from the exchange's thread.
class ExchangeControl {
 public:
  virtual ~ExchangeControl() = default;
  // The owner's monotonic time in milliseconds, or nothing once the owner has given up on the
  // exchange (which then ends as soon as it can, sending nothing more).
  virtual std::optional<int64_t> NowMs() = 0;
};

enum class LineEnd {
  kLine,       // a whole line arrived (its LF and one CR before it removed)
  kTimedOut,   // the deadline passed first
  kClosed,     // the peer closed the connection before an LF
  kTooLong,    // more than kMaxAgentLineBytes without an LF
  kCancelled,  // the owner gave up
};

// Reads one line from `client`, one byte at a time so nothing after the LF is taken, until
// `deadline_ms` of control's clock. 0, or the socket code of a failed read (then `end` says
// nothing). `line` holds what arrived, whatever the end.
int ReadLineUntil(platform::TcpClient& client, int64_t deadline_ms, ExchangeControl& control, std::string* line,
                  LineEnd* end);

struct AgentExchangeOutcome {
  // 0, or the code of the socket failure (the Windows numbers for the failures the log tells apart,
  // see MapSocketError; the system's code otherwise).
  int error = 0;
  bool sent = false;       // the greeting was right and the whole command went out
  bool cancelled = false;  // the owner gave up; nothing is to be reported
};

// Looks `host` up, connects to it on `port` waiting at most `timeout_ms`, waits at most `timeout_ms`
// more for the greeting line and, when CheckAgentGreeting accepts it, sends the scrambled `frame`
// with CR LF. Awaits no answer. The connection is closed before it returns. `timeout_ms` must be
// positive. Never throws.
AgentExchangeOutcome RunAgentExchange(const std::string& host, uint16_t port, const std::string& frame, int timeout_ms,
                                      ExchangeControl& control);

}  // namespace keep::server

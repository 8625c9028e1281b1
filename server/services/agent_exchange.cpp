#include "server/services/agent_exchange.h"

#include <algorithm>
#include <memory>

#include "common/scrambling.h"
#include "server/services/remote_command.h"

namespace keep::server {

int ReadLineUntil(platform::TcpClient& client, int64_t deadline_ms, ExchangeControl& control, std::string* line,
                  LineEnd* end) {
  line->clear();
  for (;;) {
    const std::optional<int64_t> now = control.NowMs();
    if (!now) {
      *end = LineEnd::kCancelled;
      return 0;
    }
    if (*now >= deadline_ms) {
      *end = LineEnd::kTimedOut;
      return 0;
    }
    // Short slices, so an owner that gives up is noticed soon and the deadline is read from the
    // owner's clock rather than from the socket's wait.
    bool readable = false;
    const int wait = static_cast<int>(std::min<int64_t>(deadline_ms - *now, kExchangeSliceMs));
    if (const int code = client.WaitReadable(wait, &readable); code != 0) return code;
    if (!readable) continue;
    // Readable with nothing to read means the peer has closed; reading stops at the LF so the bytes
    // after it stay in the connection.
    for (;;) {
      char byte = 0;
      int count = 0;
      if (const int code = client.Read(&byte, 1, &count); code != 0) return code;
      if (count == 0) {
        int waiting = 0;
        if (client.Available(&waiting) == 0 && waiting > 0) continue;
        bool still = false;
        client.WaitReadable(0, &still);
        if (!still) break;  // the data was taken by the reads above; wait for more
        *end = LineEnd::kClosed;
        return 0;
      }
      if (byte == '\n') {
        if (!line->empty() && line->back() == '\r') line->pop_back();
        *end = LineEnd::kLine;
        return 0;
      }
      if (line->size() >= kMaxAgentLineBytes) {
        *end = LineEnd::kTooLong;
        return 0;
      }
      line->push_back(byte);
    }
  }
}

AgentExchangeOutcome RunAgentExchange(const std::string& host, uint16_t port, const std::string& frame, int timeout_ms,
                                      ExchangeControl& control) {
  AgentExchangeOutcome outcome;
  platform::Ipv4Address address;
  if (const int code = platform::ResolveIpv4(host, false, &address); code != 0) {
    outcome.error = code;
    return outcome;
  }
  if (!control.NowMs()) {
    outcome.cancelled = true;
    return outcome;
  }
  std::unique_ptr<platform::TcpClient> client;
  if (const int code = platform::TcpClient::Connect(address, port, timeout_ms, &client); code != 0) {
    outcome.error = code;
    return outcome;
  }
  const std::optional<int64_t> start = control.NowMs();
  if (!start) {
    outcome.cancelled = true;
    return outcome;
  }
  // The greeting is awaited for a bounded time: an agent that accepts and stays silent must not
  // hold a command (and the local shutdown behind it) for ever.
  std::string greeting;
  LineEnd end = LineEnd::kTimedOut;
  if (const int code = ReadLineUntil(*client, *start + timeout_ms, control, &greeting, &end); code != 0) {
    outcome.error = code;
    return outcome;
  }
  if (end == LineEnd::kCancelled) {
    outcome.cancelled = true;
    return outcome;
  }
  // Anything but a whole greeting line (silence, a closed connection, a line without end) is an
  // agent that did not greet as expected.
  if (end != LineEnd::kLine || !CheckAgentGreeting(greeting)) return outcome;
  const std::string line = ScrambleText(frame) + "\r\n";
  int sent = 0;
  if (const int code = client->Send(line.data(), static_cast<int>(line.size()), timeout_ms, &sent); code != 0) {
    outcome.error = code;
    return outcome;
  }
  outcome.sent = true;
  return outcome;
}

}  // namespace keep::server

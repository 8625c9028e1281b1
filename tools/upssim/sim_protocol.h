// One UPS protocol as the simulator speaks it: bytes from the link in, answers out. A protocol keeps
// only its framing state (a partly received query); everything the UPS knows lives in SimState, so
// the answers are a pure function of the state, the bytes and the time given. Not thread-safe: one
// protocol object belongs to the simulator's loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/upssim/sim_state.h"

namespace keep::tools {

// One query the link delivered and what the UPS answers to it (empty when it stays silent).
struct SimExchange {
  std::string query;  // printable form, for the record and the control interface
  std::string answer;
};

class SimProtocol {
 public:
  virtual ~SimProtocol() = default;

  // Takes the bytes received at `now_ms` (monotonic milliseconds), which may hold part of a query,
  // one or several; returns the queries they complete, in order. Any byte sequence is safe, and the
  // framing state stays bounded whatever arrives.
  virtual std::vector<SimExchange> OnBytes(std::string_view in, SimState& state, int64_t now_ms) = 0;

  // Forgets a partly received query (a new peer took the link).
  virtual void Reset() = 0;
};

// The protocol numbers of the model database run from 0 to this.
inline constexpr int kHighestSimProtocol = 99;

// True for the protocol numbers CreateSimProtocol knows.
bool IsSimProtocolSupported(int number);
// Those numbers, ascending.
std::vector<int> SupportedSimProtocols();
// The protocol of UPS protocol number `number`; null when it is not supported.
std::unique_ptr<SimProtocol> CreateSimProtocol(int number);

}  // namespace keep::tools

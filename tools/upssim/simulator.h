// The simulated UPS as the link sees it: one protocol, the UPS state, the queries received so far and
// the link faults that shape the answers (silence, noise, pieces, delay). Pure: time comes in as
// monotonic milliseconds and planned answer bytes come out with the time they are due, so the loop
// that owns the sockets only moves bytes, and tests need no sleeps. Not thread-safe: it belongs to
// the simulator's loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/upssim/sim_protocol.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

// Sent before each answer while the garbage fault is on: no status or information marker, no CR,
// so a sound reader skips it and still finds the answer.
inline constexpr std::string_view kGarbageBytes = "\xFF\xFE\x80~?";
// The queries the control interface can list; older ones are forgotten (the record file keeps all).
inline constexpr std::size_t kQueryLogLimit = 1000;
// Answer bytes waiting for their time; answers beyond this are dropped, as a UPS whose peer stopped
// reading would lose them.
inline constexpr std::size_t kPlannedBytesLimit = 64 * 1024;

struct LinkFaults {
  bool silent = false;   // queries are received and take effect, but nothing is answered
  bool garbage = false;  // kGarbageBytes before each answer
  int split_pieces = 0;  // 2 or more: each answer goes out in that many pieces; 0 and 1 mean whole
  int split_gap_ms = 100;
  int delay_ms = 0;  // each answer leaves this long after its query arrived
};

class Simulator {
 public:
  // `protocol` must not be null.
  Simulator(std::unique_ptr<SimProtocol> protocol, SimState state);

  // Bytes the link delivered at `now_ms`. Answers are planned (see TakeDue) and the queries they
  // complete are logged and returned, in order, for the record file.
  std::vector<std::string> OnLinkBytes(std::string_view bytes, int64_t now_ms);

  // Removes and returns, in order, the planned bytes due at `now_ms`. A piece is never handed out
  // before an earlier one, whatever the faults were when each was planned.
  std::string TakeDue(int64_t now_ms);
  // When the first planned piece is due; empty when nothing is planned.
  std::optional<int64_t> NextDueMs() const;

  // A new peer took the link (or it was dropped): planned answers and a partial query are dropped.
  void ResetLink();

  SimState& State() { return state_; }
  const SimState& State() const { return state_; }
  LinkFaults& Faults() { return faults_; }
  const LinkFaults& Faults() const { return faults_; }
  // The last kQueryLogLimit queries, oldest first.
  const std::deque<std::string>& Queries() const { return queries_; }
  void ClearQueries() { queries_.clear(); }

 private:
  struct Piece {
    int64_t due_ms;
    std::string bytes;
  };
  void Plan(std::string answer, int64_t now_ms);

  std::unique_ptr<SimProtocol> protocol_;
  SimState state_;
  LinkFaults faults_;
  std::deque<std::string> queries_;
  std::deque<Piece> planned_;
  std::size_t planned_bytes_ = 0;
};

}  // namespace keep::tools

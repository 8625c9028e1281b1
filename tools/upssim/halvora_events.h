// The event list a simulated single-phase binary UPS keeps: a few events from before the simulator
// started, then one for each change the UPS notices (mains failure and return, low battery,
// bypass, overload, fault), newest first and at most kMaxHalvoraEvents. Read whole (command 7) or
// page by page (command 46 of variant 2). Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "tools/upssim/halvora_clock.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

inline constexpr std::size_t kMaxHalvoraEvents = 64;

// The event codes this UPS writes.
enum HalvoraEventCode : uint8_t {
  kEventMainsFailure = 1,
  kEventMainsReturn = 2,
  kEventLowBattery = 3,
  kEventBypass = 4,
  kEventOverload = 5,
  kEventUpsFault = 6,
  kEventBatteryTest = 7,
};

struct HalvoraEvent {
  ClockTime time;
  uint8_t code = 0;
  uint8_t extra = 0;  // a number no other event in the list carries
};

class HalvoraEventLog {
 public:
  // Starts with a few events dated before `now`.
  explicit HalvoraEventLog(const ClockTime& now);

  // Adds the events that lead from what the UPS last noticed to `state` (nothing the first time);
  // returns their codes.
  std::vector<int> Observe(const SimState& state, const ClockTime& now);
  void Add(uint8_t code, const ClockTime& now);
  void Clear();

  const std::deque<HalvoraEvent>& Events() const { return events_; }

  // The reply data of command 7: the number of events, then their codes, newest first.
  std::string CodesReply() const;
  // The reply data of command 46: the first (newest) event when `first`, else the one after the
  // last page sent; past the last event nine zero bytes. Layout: year, month, day, hour, minute
  // as BCD, code, two zero bytes, extra.
  std::string PageReply(bool first);

 private:
  struct Seen {
    PowerSource power;
    bool overload;
    bool failed;
  };

  std::deque<HalvoraEvent> events_;  // newest first
  uint8_t next_extra_ = 1;
  std::size_t page_ = 0;  // the index the next page sends
  std::optional<Seen> seen_;
};

}  // namespace keep::tools

// The main cycle: once a second it polls the UPS status, advances the battery estimate, counts the
// seconds on battery, repeats the shutdown countdown, asks for data samples and refreshes the UPS
// event list. (The scheduler has a timer of its own, which keeps running while the UPS link is down
// and this cycle is stopped.) Main loop only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/event_loop.h"

namespace keep::server {

struct ServerContext;

inline constexpr int64_t kMainCycleIntervalMs = 1000;
// Seconds between two reads of the UPS event list.
inline constexpr uint16_t kEventListSeconds = 1800;

// Adds 1 to `counter`; true (and the counter back to 0) when it has reached `limit`. A limit of 0
// or 1 fires every time.
bool TickCounter(uint16_t& counter, uint16_t limit);

// Seconds / 60 rounded to the nearest whole minute, halves to even (90 -> 2, 150 -> 2, -90 -> -2).
int32_t RoundedMinutes(int32_t seconds);

// Seconds / 60 rounded to the nearest whole minute (halves to even); "0" for negative results.
std::string MinutesText(int32_t seconds);

// Seconds left before the automatic shutdown on battery (<= 0: now), by the protocol's formula.
int32_t ShutdownSecondsLeft(const ServerContext& context);

class MainCycle {
 public:
  // `context` (and its loop) must outlive the cycle. The timer is created disabled.
  explicit MainCycle(ServerContext& context);
  MainCycle(const MainCycle&) = delete;
  MainCycle& operator=(const MainCycle&) = delete;

  // Starts or stops the one-second timer. Stopping it from inside a tick (the link was lost during
  // that tick's evaluation) keeps it stopped after the tick instead of being undone by the tick's
  // own restart.
  void Enable(bool enabled);
  bool Enabled() const;

  // The status evaluation the cycle runs (battery exhausted, countdown notice); EvaluateUpsState of
  // the context unless set otherwise (a rehearsal watches the events it raises).
  void SetEvaluate(std::function<void()> evaluate) { evaluate_ = std::move(evaluate); }

  // One tick (one second of every counter). The timer is stopped while it runs and running again
  // afterwards, unless something stopped the cycle during the tick. Also run directly by tests.
  void Tick();

 private:
  void OnTimer();

  void Evaluate();

  ServerContext& context_;
  std::function<void()> evaluate_;
  bool in_tick_ = false;
  bool stopped_in_tick_ = false;
  platform::Timer timer_;
};

}  // namespace keep::server

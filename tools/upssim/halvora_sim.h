// The single-phase binary family (protocol numbers 0, 2, 5 and 6) as a UPS answers it: every
// numbered command its peer sends, with the reply layouts of halvora_readings.h and
// halvora_settings.h and these:
//
//   0   identification: model code, installed modules, nominal W (word), firmware major and minor,
//       serial number (12 characters)
//   4   battery: voltage of the whole battery in tenths of a volt, reserve and exhaust threshold V
//   5   counters: UPS and inverter hours (double words), mains interventions, full discharges,
//       bypass interventions, overheatings (words)
//   7   event codes, all at once (not variant 2);  46  one event per request (variant 2 only)
//   10  shutdown after two 32-bit delays: recorded in SimState, the delays echoed
//   14  battery test: 0 the short test (reply: its result, see HalvoraTestResult), 1 starts the
//       autonomy calibration (held on battery like "set test on") until 2 stops it
//   15, 18  battery history and event list reset, answered "Ok"
//   37  autonomy: 0, seconds (word), charge % (variants 2, 5 and 6; the others answer 1)
//   41  autonomy reserve time in minutes (word)
//   48 / 49  clock as BCD year, month, day, hour, minute, second and the day of the week
//   52 / 53 / 54  calendar steps (halvora_calendar.h) and its switch (2 reads, 1 / 0 sets)
//
// Any other command, and a request whose data does not fit its command, gets no answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/halvora_calendar.h"
#include "tools/upssim/halvora_clock.h"
#include "tools/upssim/halvora_events.h"
#include "tools/upssim/halvora_settings.h"

namespace keep::tools {

bool IsHalvoraVariant(int protocol);

class HalvoraDialect final : public BinaryDialect {
 public:
  // `variant` must satisfy IsHalvoraVariant.
  explicit HalvoraDialect(int variant);

  std::optional<std::string> Answer(const BinaryRequest& request, SimState& state, int64_t now_ms) override;

 private:
  struct Counters {
    uint32_t ups_hours = 12873;
    uint32_t inverter_hours = 12790;
    uint16_t interventions = 37;
    uint16_t full_discharges = 2;
    uint16_t bypass_interventions = 5;
    uint16_t overheatings = 0;
  };

  // Notes what changed since the last request: events and the counters they drive.
  void Notice(const SimState& state, const ClockTime& now);
  std::optional<std::string> Measurement(uint8_t cmd, const SimState& state, int64_t now_ms) const;
  std::optional<std::string> BatteryTest(uint8_t mode, SimState& state, const ClockTime& now, int64_t now_ms);
  std::optional<std::string> Clock(const BinaryRequest& request, int64_t now_ms);
  std::optional<std::string> Calendar(const BinaryRequest& request);

  int variant_;
  HalvoraSettings settings_;
  Counters counters_;
  UpsClock clock_;
  HalvoraEventLog events_;
  HalvoraCalendar calendar_;
  std::optional<int64_t> first_ms_;  // the first request, from which the hour counters run
};

}  // namespace keep::tools

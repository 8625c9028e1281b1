// The switching calendar a simulated single-phase binary UPS stores: numbered steps of seven bytes
// (index, two BCD values, a mark, two BCD values, a code) that the UPS keeps as they were written,
// and a switch that enables the calendar. A step whose code is kCalendarEnd ends the calendar at
// its index. Not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keep::tools {

inline constexpr std::size_t kMaxCalendarSteps = 32;
inline constexpr uint8_t kCalendarEnd = 255;
inline constexpr std::size_t kCalendarStepBytes = 7;

class HalvoraCalendar {
 public:
  // Two steps (on in the morning, off in the evening, every day); disabled.
  HalvoraCalendar();

  // The reply data of command 53 for step `index`: the step, or past the last one the index, five
  // zero bytes and kCalendarEnd.
  std::string StepReply(uint8_t index) const;
  // Stores the seven bytes of command 52 (index first): a step at an index up to the number of
  // steps replaces or appends it, a kCalendarEnd code cuts the calendar there. Returns the reply
  // (the step as stored, in the layout of StepReply); empty, storing nothing, for a step that does
  // not fit (wrong length, an index past the end or beyond kMaxCalendarSteps).
  std::optional<std::string> Store(std::string_view step);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  std::size_t StepCount() const { return steps_.size(); }

 private:
  std::vector<std::array<uint8_t, kCalendarStepBytes - 1>> steps_;  // without the index
  bool enabled_ = false;
};

}  // namespace keep::tools

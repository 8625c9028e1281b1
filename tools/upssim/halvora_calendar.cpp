#include "tools/upssim/halvora_calendar.h"

#include "tools/upssim/binary_bytes.h"

namespace keep::tools {
namespace {

constexpr uint8_t kAnyDay = 170;  // the mark that matches every day

}  // namespace

HalvoraCalendar::HalvoraCalendar()
    : steps_{{ToBcd(7), ToBcd(30), kAnyDay, ToBcd(0), ToBcd(0), 1},
             {ToBcd(19), ToBcd(0), kAnyDay, ToBcd(0), ToBcd(0), 0}} {}

std::string HalvoraCalendar::StepReply(uint8_t index) const {
  std::string data;
  PutByte(data, index);
  if (index < steps_.size()) {
    for (const uint8_t byte : steps_[index]) PutByte(data, byte);
  } else {
    data.append(kCalendarStepBytes - 2, '\0');
    PutByte(data, kCalendarEnd);
  }
  return data;
}

std::optional<std::string> HalvoraCalendar::Store(std::string_view step) {
  if (step.size() != kCalendarStepBytes) return std::nullopt;
  const uint8_t index = ByteAt(step, 0);
  if (index > steps_.size()) return std::nullopt;
  std::array<uint8_t, kCalendarStepBytes - 1> values{};
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = ByteAt(step, i + 1);
  if (values.back() == kCalendarEnd) {
    steps_.resize(index);
    // The end marker is echoed as sent, so the peer sees which index it cut at.
    return std::string(step);
  }
  if (index == steps_.size()) {
    if (steps_.size() >= kMaxCalendarSteps) return std::nullopt;
    steps_.push_back(values);
  } else {
    steps_[index] = values;
  }
  return StepReply(index);
}

}  // namespace keep::tools

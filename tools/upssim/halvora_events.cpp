#include "tools/upssim/halvora_events.h"

#include "tools/upssim/binary_bytes.h"

namespace keep::tools {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;
constexpr std::size_t kPageBytes = 9;

uint8_t PowerEvent(PowerSource power) {
  switch (power) {
    case PowerSource::kMains:
      return kEventMainsReturn;
    case PowerSource::kBattery:
      return kEventMainsFailure;
    case PowerSource::kLowBattery:
      return kEventLowBattery;
    case PowerSource::kBypass:
      return kEventBypass;
  }
  return kEventMainsReturn;
}

}  // namespace

HalvoraEventLog::HalvoraEventLog(const ClockTime& now) {
  // A short outage three days ago and the battery test of last week, oldest added first.
  Add(kEventBatteryTest, ShiftClockTime(now, -9 * kDay - 3600));
  Add(kEventMainsFailure, ShiftClockTime(now, -3 * kDay - 7200));
  Add(kEventMainsReturn, ShiftClockTime(now, -3 * kDay - 7200 + 95));
}

std::vector<int> HalvoraEventLog::Observe(const SimState& state, const ClockTime& now) {
  const Seen seen{state.power, state.load_percent > 100, state.ups_failed};
  std::vector<int> codes;  // not uint8_t: g++ 12 sees a false overflow in its push_back
  if (seen_) {
    if (seen.power != seen_->power) codes.push_back(PowerEvent(seen.power));
    if (seen.overload && !seen_->overload) codes.push_back(kEventOverload);
    if (seen.failed && !seen_->failed) codes.push_back(kEventUpsFault);
  }
  seen_ = seen;
  for (const int code : codes) Add(static_cast<uint8_t>(code), now);
  return codes;
}

void HalvoraEventLog::Add(uint8_t code, const ClockTime& now) {
  events_.push_front({now, code, next_extra_});
  // Wraps after 256 events; the list never holds that many, so the number stays unique in it.
  ++next_extra_;
  if (events_.size() > kMaxHalvoraEvents) events_.pop_back();
}

void HalvoraEventLog::Clear() {
  events_.clear();
  page_ = 0;
}

std::string HalvoraEventLog::CodesReply() const {
  std::string data;
  PutByte(data, static_cast<int>(events_.size()));
  for (const HalvoraEvent& event : events_) PutByte(data, event.code);
  return data;
}

std::string HalvoraEventLog::PageReply(bool first) {
  if (first) page_ = 0;
  if (page_ >= events_.size()) return std::string(kPageBytes, '\0');
  const HalvoraEvent& event = events_[page_++];
  std::string data;
  for (const int field : {event.time.year, event.time.month, event.time.day, event.time.hour, event.time.minute}) {
    PutByte(data, ToBcd(field));
  }
  PutByte(data, event.code);
  PutByte(data, 0);
  PutByte(data, 0);
  PutByte(data, event.extra);
  return data;
}

}  // namespace keep::tools

// The replies of the single-phase protocol that fill lists (event list, calendar) or the clock.
// Lists read one entry per exchange ask for the next entry through `next` and stop at the UPS's end
// marker, at a repeat, or at their bound, whichever comes first.
#include <string_view>

#include "server/ups/halvora_commands.h"
#include "server/ups/halvora_replies.h"
#include "server/ups/halvora_requests.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

std::string Decimal(int64_t value) { return std::to_string(value); }

// A BCD byte as its two digits; kHalvoraBcdAny gives "*".
std::string BcdText(uint8_t byte) { return byte == kHalvoraBcdAny ? "*" : QuadrelBcdText(byte); }

// Codes of the list of protocols other than 2: one event per byte from byte 3 on.
bool StoreEventCodes(TUpsEventListData& events, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) return true;
  events.Items.clear();
  const std::string na(kNotAvailable);
  for (size_t n = 3; n <= reply.Size() && events.Items.size() < kHalvoraMaxEvents; ++n) {
    events.Items.push_back(TUpsEventRecord{na, na, na, na, na, Decimal(reply.Byte(n)), na});
  }
  events.Count = Decimal(static_cast<int64_t>(events.Items.size()));
  return true;
}

bool SameEvent(const TUpsEventRecord& a, const TUpsEventRecord& b) {
  return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour && a.Minute == b.Minute &&
         a.Code == b.Code && a.Extra == b.Extra;
}

// One event of protocol 2's list, newest first. A fresh read appends until the UPS's list ends or
// comes round to its first event again; a later read puts the events newer than those held in front,
// stopping at the first one already held.
bool StoreEventPage(DriverContext& context, const HalvoraReplyInput& input, const QuadrelReply& reply,
                    std::optional<std::string>& next) {
  if (!input.refused && !reply.Has(10)) return false;
  TUpsEventListData& events = context.Ups.Events;
  bool stored = false;
  if (!input.refused && (reply.Byte(2) != 0 || reply.Byte(3) != 0 || reply.Byte(4) != 0) &&
      events.Items.size() < kHalvoraMaxEvents) {
    const TUpsEventRecord event{BcdText(reply.Byte(2)), BcdText(reply.Byte(3)), BcdText(reply.Byte(4)),
                                BcdText(reply.Byte(5)), BcdText(reply.Byte(6)), Decimal(reply.Byte(7)),
                                Decimal(reply.Byte(10))};
    const size_t at = events.ReadIndex > 0 ? static_cast<size_t>(events.ReadIndex - 1) : 0;
    if (context.Server.ProtocolReset) {
      if (events.Items.empty() || event.Extra != events.Items.front().Extra) {
        events.Items.push_back(event);
        stored = true;
      }
    } else if (at <= events.Items.size() && (at == events.Items.size() || !SameEvent(events.Items[at], event))) {
      events.Items.insert(events.Items.begin() + static_cast<std::ptrdiff_t>(at), event);
      stored = true;
    }
  }
  if (!stored) {
    context.Server.ProtocolReset = false;
    return true;
  }
  events.Count = Decimal(static_cast<int64_t>(events.Items.size()));
  ++events.ReadIndex;
  next = HalvoraItemText(kHalvoraEventPage, kHalvoraNextEntry);
  return true;
}

TUpsCalendarStepData Step(const QuadrelReply& reply) {
  const uint8_t mark = reply.Byte(5);
  return TUpsCalendarStepData{Decimal(reply.Byte(2)),
                              BcdText(reply.Byte(3)),
                              BcdText(reply.Byte(4)),
                              mark == kHalvoraBcdAny ? "*" : Decimal(mark),
                              BcdText(reply.Byte(6)),
                              BcdText(reply.Byte(7)),
                              Decimal(reply.Byte(8))};
}

bool StoreCalendarStep(TUpsCalendarData& calendar, const HalvoraReplyInput& input, const QuadrelReply& reply,
                       std::optional<std::string>& next) {
  if (input.refused) {
    calendar.StepCount = 0;
    return true;
  }
  if (!reply.Has(8)) return false;
  if (reply.Byte(8) == kHalvoraCalendarEnd || calendar.Steps.size() >= kHalvoraMaxCalendarSteps) return true;
  calendar.Steps.push_back(Step(reply));
  calendar.StepCount = static_cast<uint8_t>(calendar.Steps.size());
  // Asking for the step after the one answered; a UPS that answers a lower index cannot make us go round.
  const int64_t following = static_cast<int64_t>(reply.Byte(2)) + 1;
  if (following > input.hint && following <= static_cast<int64_t>(kHalvoraMaxCalendarSteps)) {
    next = HalvoraItemText(kHalvoraReadCalendarStep, following);
  }
  return true;
}

bool StoreWrittenStep(TUpsCalendarData& calendar, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) return true;
  if (!reply.Has(8)) return false;
  if (calendar.Steps.size() >= kHalvoraMaxCalendarSteps) return true;
  if (reply.Byte(8) == kHalvoraCalendarEnd) {
    const std::string na(kNotAvailable);
    calendar.Steps.push_back(TUpsCalendarStepData{Decimal(reply.Byte(2)), na, na, na, na, na, na});
    return true;
  }
  calendar.Steps.push_back(Step(reply));
  ++calendar.StepCount;
  return true;
}

bool StoreClock(TUpsClockData& clock, const HalvoraReplyInput& input, const QuadrelReply& reply) {
  if (input.refused) return true;
  if (!reply.Has(8)) return false;
  std::string* const fields[] = {&clock.Year,   &clock.Month,  &clock.Day,      &clock.Hour,
                                 &clock.Minute, &clock.Second, &clock.DayOfWeek};
  for (size_t i = 0; i < 7; ++i) *fields[i] = BcdText(reply.Byte(2 + i));
  return true;
}

}  // namespace

std::optional<bool> StoreHalvoraListReply(DriverContext& context, const HalvoraReplyInput& input,
                                          const QuadrelReply& reply, std::optional<std::string>& next) {
  TUpsData& ups = context.Ups;
  switch (reply.Byte(1)) {
    case kHalvoraEvents:
      return StoreEventCodes(ups.Events, input, reply);
    case kHalvoraEventPage:
      return StoreEventPage(context, input, reply, next);
    case kHalvoraReadCalendarStep:
      return StoreCalendarStep(ups.Calendar, input, reply, next);
    case kHalvoraWriteCalendarStep:
      return StoreWrittenStep(ups.Calendar, input, reply);
    case kHalvoraCalendarSwitch:
      if (!input.refused && !reply.Has(2)) return false;
      ups.Calendar.Enabled = input.refused ? std::string_view(kNotAvailable) : (reply.Byte(2) == 0 ? "0" : "1");
      return true;
    case kHalvoraSetClock:
    case kHalvoraClock:
      return StoreClock(ups.Clock, input, reply);
    default:
      return std::nullopt;
  }
}

}  // namespace keep::server

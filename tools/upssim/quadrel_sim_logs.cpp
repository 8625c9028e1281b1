#include "tools/upssim/quadrel_sim_logs.h"

#include <span>
#include <string_view>
#include <vector>

#include "tools/upssim/quadrel_sim_format.h"

namespace keep::tools {
namespace {

constexpr uint8_t kAll = 0;
constexpr uint8_t kCritical = 1;
constexpr uint8_t kWarning = 2;
constexpr uint8_t kInfo = 3;

constexpr uint8_t kLogRecord = 0;
constexpr uint8_t kLogUnavailable = 1;
constexpr uint8_t kLogEmpty = 2;
constexpr uint8_t kLogFirst = 4;
constexpr uint8_t kLogNext = 1;

struct Entry {
  uint8_t status;
  uint8_t selection;  // of events only
  std::string_view text;
};

constexpr Entry kEventTexts[] = {
    {kQuadrelEntryText, kCritical, "Mains failure"},
    {kQuadrelEntryText, kInfo, "Mains restored"},
    {kQuadrelEntryText, kCritical, "Battery low"},
    {kQuadrelEntryText, kWarning, "Load on bypass"},
    {kQuadrelEntryText, kWarning, "Overload"},
    {kQuadrelEntryText, kInfo, "Battery test started"},
    {kQuadrelEntryText, kInfo, "Battery test ended"},
    {kQuadrelEntryNoText, kInfo, ""},  // a code the firmware has no description for
    {kQuadrelEntrySkip, kInfo, ""},    // a retired code
    {kQuadrelEntryText, kWarning, "Output switched off"},
};

constexpr Entry kAlarmTexts[] = {
    {kQuadrelEntryText, 0, "Module overload"}, {kQuadrelEntryText, 0, "Module overheat"},
    {kQuadrelEntryText, 0, "Inverter fault"},  {kQuadrelEntryText, 0, "Charger fault"},
    {kQuadrelEntryText, 0, "Fan failure"},
};

uint8_t SelectionOf(uint8_t code) { return code < std::size(kEventTexts) ? kEventTexts[code].selection : kInfo; }

bool InSelection(uint8_t code, uint8_t selection) { return selection == kAll || SelectionOf(code) == selection; }

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;

}  // namespace

std::optional<std::string> QuadrelTextEntry(const BinaryRequest& request) {
  if (request.data.size() < 2) return std::nullopt;
  const std::span<const Entry> table =
      request.cmd == kQuadrelAlarmTexts ? std::span<const Entry>(kAlarmTexts) : std::span<const Entry>(kEventTexts);
  const uint8_t index = QuadrelDataByte(request, 1);
  const Entry end{kQuadrelEntryEnd, 0, ""};
  const Entry& entry = index < table.size() ? table[index] : end;
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, index);
  AppendQuadrelByte(reply, entry.status);
  std::string text(entry.text.substr(0, kQuadrelEntryTextBytes));
  text.resize(kQuadrelEntryTextBytes, ' ');
  return reply + text;
}

QuadrelEventLog::QuadrelEventLog(uint32_t start_seconds) {
  // Records from the weeks before: a short mains failure, an overload, a battery test.
  const int64_t start = start_seconds;
  const struct {
    int64_t before;
    uint8_t code;
  } history[] = {
      {12 * kDay - 7 * kHour, kQuadrelEventMainsFailure},
      {12 * kDay - 7 * kHour - 95, kQuadrelEventMainsRestored},
      {5 * kDay + 2 * kHour, kQuadrelEventOverload},
      {kDay, kQuadrelEventTestStarted},
      {kDay - 12, kQuadrelEventTestEnded},
  };
  for (const auto& record : history) {
    if (record.before < start) Add(record.code, static_cast<uint32_t>(start - record.before));
  }
}

void QuadrelEventLog::Add(uint8_t code, uint32_t seconds) {
  records_.push_front({seconds, code});
  if (records_.size() > kQuadrelMaxLogRecords) records_.pop_back();
}

void QuadrelEventLog::Observe(const SimState& state, bool output_on, uint32_t seconds) {
  const bool overload = state.load_percent > 100;
  if (last_power_ && *last_power_ != state.power) {
    switch (state.power) {
      case PowerSource::kBattery:
        if (*last_power_ != PowerSource::kLowBattery) Add(kQuadrelEventMainsFailure, seconds);
        break;
      case PowerSource::kLowBattery:
        Add(kQuadrelEventBatteryLow, seconds);
        break;
      case PowerSource::kBypass:
        Add(kQuadrelEventBypass, seconds);
        break;
      case PowerSource::kMains:
        if (*last_power_ != PowerSource::kBypass) Add(kQuadrelEventMainsRestored, seconds);
        break;
    }
  }
  if (last_power_ && overload && !last_overload_) Add(kQuadrelEventOverload, seconds);
  if (last_power_ && !output_on && last_output_on_) Add(kQuadrelEventOutputOff, seconds);
  last_power_ = state.power;
  last_overload_ = overload;
  last_output_on_ = output_on;
}

std::optional<std::string> QuadrelEventLog::Answer(const BinaryRequest& request) {
  if (request.data.size() < 3) return std::nullopt;
  const uint8_t selection = QuadrelDataByte(request, 1);
  const uint8_t step = QuadrelDataByte(request, 2);
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, selection);
  AppendQuadrelByte(reply, step);

  std::vector<Record> listed;
  if (selection <= kInfo) {
    for (const Record& record : records_) {
      if (InSelection(record.code, selection)) listed.push_back(record);
    }
  }
  if (step == kLogFirst) {
    cursor_ = 0;
  } else if (step == kLogNext && cursor_ < listed.size()) {
    ++cursor_;
  }
  uint8_t status = kLogRecord;
  Record record{0, 0};
  if (selection > kInfo) {
    status = kLogUnavailable;
  } else if (listed.empty()) {
    status = kLogEmpty;
  } else {
    record = cursor_ < listed.size() ? listed[cursor_] : listed.front();
  }
  AppendQuadrelByte(reply, status);
  AppendQuadrelDword(reply, record.seconds);
  AppendQuadrelByte(reply, record.code);
  return reply;
}

std::optional<std::string> QuadrelEventLog::Reset(const BinaryRequest& request) {
  if (request.data.size() < 2) return std::nullopt;
  const uint8_t selection = QuadrelDataByte(request, 1);
  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelByte(reply, selection);
  if (selection > kInfo) {
    AppendQuadrelByte(reply, 1);
    return reply;
  }
  std::erase_if(records_, [selection](const Record& record) { return InSelection(record.code, selection); });
  cursor_ = 0;
  AppendQuadrelByte(reply, 0);
  return reply;
}

}  // namespace keep::tools

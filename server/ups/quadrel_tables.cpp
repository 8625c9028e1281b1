#include "server/ups/quadrel_tables.h"

#include <utility>

#include "common/date_time.h"
#include "server/ups/quadrel_commands.h"
#include "server/ups/quadrel_requests.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

constexpr size_t kTextFirst = 5;
constexpr size_t kTextLast = 39;
constexpr uint8_t kLastIndex = 255;

// Event log status bytes.
constexpr uint8_t kLogRecord = 0;
constexpr uint8_t kLogEmpty = 2;
constexpr uint8_t kLogLastRecord = 3;
constexpr uint8_t kLogUnavailable = 1;
constexpr uint8_t kLogNoAnswer = 255;
constexpr int64_t kLogNextRecord = 1;

bool IsNumberByte(uint8_t raw) { return raw != kRaw8NotAvailable && raw != kRaw8Overrange; }

}  // namespace

bool StoreQuadrelModuleAlarms(TQuadrelAlarmsEventsTableData& table, const QuadrelReply& reply) {
  if (!reply.Has(3)) return false;
  const uint8_t count = reply.Byte(3);
  if (!IsNumberByte(count)) {
    table = TQuadrelAlarmsEventsTableData{std::string(kNotAvailable), {}};
    return true;
  }
  if (count > 0 && !reply.Has(3 + 2 * size_t{count})) return false;
  TQuadrelAlarmsEventsTableData stored{std::to_string(count), {}};
  for (size_t i = 0; i < count; ++i) {
    stored.Items.push_back({std::to_string(reply.Byte(4 + 2 * i)), std::to_string(reply.Byte(5 + 2 * i))});
  }
  table = std::move(stored);
  return true;
}

bool StoreQuadrelTableEntry(TQuadrelAlarmsEventsTableData& table, const QuadrelReply& reply,
                            std::optional<std::string>& next) {
  next.reset();
  if (!reply.Has(4)) return false;
  const uint8_t cmd = reply.Byte(1);
  const uint8_t index = reply.Byte(3);
  const uint8_t status = reply.Byte(4);
  if (!IsNumberByte(status)) {
    table = TQuadrelAlarmsEventsTableData{std::string(kNotAvailable), {}};
    return true;
  }
  if (status == kQuadrelEntryEnd) {
    table.Count = std::to_string(table.Items.size());
    return true;
  }
  if (status != kQuadrelEntrySkip && status != kQuadrelEntryText && status != kQuadrelEntryNoText) return true;
  if (status != kQuadrelEntrySkip) {
    const std::string text =
        status == kQuadrelEntryText ? reply.Text(kTextFirst, kTextLast) : std::string(kNotAvailable);
    table.Items.push_back({std::to_string(index), text});
  }
  // The index is one byte: after the last one there is nothing more to ask for. A UPS that repeats
  // indexes cannot make the table grow past what the byte can number.
  if (index == kLastIndex || table.Items.size() >= kQuadrelMaxTableEntries) {
    table.Count = std::to_string(table.Items.size());
  } else {
    next = QuadrelItem(cmd, {index + 1});
  }
  return true;
}

TQuadrelEventRecord QuadrelEventTime(uint32_t seconds, const TFormatSettings& format) {
  constexpr int64_t kSecondsPerDay = 86'400;
  CivilDateTime first_day;
  first_day.year = kQuadrelEpochYear;
  first_day.month = 1;
  first_day.day = 1;
  const DateTime epoch = DateTime::FromCivil(first_day).value_or(DateTime());
  const int64_t day_ms = (seconds / kSecondsPerDay) * DateTime::kMsPerDay;
  const int64_t time_ms = (seconds % kSecondsPerDay) * 1000;
  TQuadrelEventRecord record;
  record.Date = FormatShortDate(format, epoch + day_ms);
  record.Time = FormatLongTime(format, DateTime() + time_ms);
  return record;
}

bool StoreQuadrelEventRecord(TQuadrelEventsList& log, const QuadrelReply& reply, const TFormatSettings& format,
                             std::optional<std::string>& next) {
  next.reset();
  if (!reply.Has(5)) return false;
  const uint8_t selector = reply.Byte(3);
  const uint8_t status = reply.Byte(5);
  const bool record = status == kLogRecord || status == kLogLastRecord;
  if (record && !reply.Has(10)) return false;

  // Only the four lists exist; any other byte would be cut to one character of a wrong number.
  log.Selector = selector <= 3 ? std::to_string(selector) : std::string(kNotAvailable);
  if (status == kLogEmpty) {
    log.Items.clear();
    log.Count = "0";
    return true;
  }
  if (status == kLogUnavailable || status == kLogNoAnswer) {
    log.Count = kNotAvailable;
    return true;
  }
  if (!record) return true;

  TQuadrelEventRecord event = QuadrelEventTime(reply.Dword(6), format);
  event.Code = std::to_string(reply.Byte(10));
  const bool wrapped = !log.Items.empty() && log.Items.front().Date == event.Date &&
                       log.Items.front().Time == event.Time && log.Items.front().Code == event.Code;
  if (wrapped) {
    log.Count = std::to_string(log.Items.size());
    return true;
  }
  log.Items.push_back(std::move(event));
  if (log.Items.size() >= kQuadrelMaxEventRecords) {
    log.Count = std::to_string(log.Items.size());
    return true;
  }
  next = QuadrelItem(kQuadrelEventLog, {selector, kLogNextRecord});
  return true;
}

}  // namespace keep::server

// The lists of the modular UPS (protocol number 4) that are read one entry per exchange: the alarm
// and event text tables, the event log, and the active module alarms (one reply). A reply that asks
// for more gives the queue item of the next exchange; the caller queues it right after the one in
// progress. Main loop only.
#pragma once

#include <optional>
#include <string>

#include "common/format_settings.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// Entry status bytes of the text tables.
inline constexpr uint8_t kQuadrelEntryText = 0;
inline constexpr uint8_t kQuadrelEntrySkip = 16;
inline constexpr uint8_t kQuadrelEntryNoText = 64;
inline constexpr uint8_t kQuadrelEntryEnd = 128;

// The event log stops growing here even if the UPS never repeats its first record, so a
// misbehaving UPS cannot keep the manager busy or the list growing without end.
inline constexpr size_t kQuadrelMaxEventRecords = 2048;

// A text table has at most one entry per index byte.
inline constexpr size_t kQuadrelMaxTableEntries = 256;

// Event log times count seconds from this day, local time.
inline constexpr int kQuadrelEpochYear = 2000;

// Reply 96: byte 3 the number of alarms, then module and alarm code byte pairs. False, storing
// nothing, when the reply holds fewer pairs than it announces.
bool StoreQuadrelModuleAlarms(TQuadrelAlarmsEventsTableData& table, const QuadrelReply& reply);

// Replies 97 and 100: one table entry (byte 3 its index, byte 4 its status, text from byte 5).
// `next` is the item asking for the following index while the table goes on. False when the reply
// has no status byte.
bool StoreQuadrelTableEntry(TQuadrelAlarmsEventsTableData& table, const QuadrelReply& reply,
                            std::optional<std::string>& next);

// Reply 98: one event log record (byte 3 the list, byte 5 the status, bytes 6-10 the record). A
// record equal to the list's first one ends the reading; otherwise `next` asks for the following
// record. False, storing nothing, when the reply is too short for its status.
bool StoreQuadrelEventRecord(TQuadrelEventsList& log, const QuadrelReply& reply, const TFormatSettings& format,
                             std::optional<std::string>& next);

// Date (the settings' short date) and time of day of a log time in seconds since the epoch day.
TQuadrelEventRecord QuadrelEventTime(uint32_t seconds, const TFormatSettings& format);

}  // namespace keep::server

// Command numbers of the binary single-phase UPS protocol (protocol numbers 0, 2, 5 and 6) and the
// form of the manager's queue items for it: the command in decimal, optionally followed by "," and
// one number that the data bytes need besides the request's fields ("46,1" asks for the next
// event, "53,4" for calendar step 4, "52,3" sends the step in request field 3, "54,1" switches the
// calendar on). Constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keep::server {

inline constexpr uint8_t kHalvoraIdentification = 0;
inline constexpr uint8_t kHalvoraOutput = 1;
inline constexpr uint8_t kHalvoraInput = 2;
inline constexpr uint8_t kHalvoraStatus = 3;
inline constexpr uint8_t kHalvoraBattery = 4;
inline constexpr uint8_t kHalvoraCounters = 5;
inline constexpr uint8_t kHalvoraEvents = 7;
inline constexpr uint8_t kHalvoraBatteryTimes = 8;
inline constexpr uint8_t kHalvoraNeutralSense = 9;
inline constexpr uint8_t kHalvoraShutdown = 10;
inline constexpr uint8_t kHalvoraSetNeutralSense = 11;
inline constexpr uint8_t kHalvoraSetBatteryTimes = 12;
inline constexpr uint8_t kHalvoraBeeper = 13;
inline constexpr uint8_t kHalvoraBatteryTest = 14;
inline constexpr uint8_t kHalvoraHistoryReset = 15;
inline constexpr uint8_t kHalvoraEventReset = 18;
inline constexpr uint8_t kHalvoraStabiliser = 19;
inline constexpr uint8_t kHalvoraSetStabiliser = 20;
inline constexpr uint8_t kHalvoraSetLoadWaiting = 21;
inline constexpr uint8_t kHalvoraLoadWaiting = 22;
inline constexpr uint8_t kHalvoraSetOutputSettings = 23;
inline constexpr uint8_t kHalvoraOutputSettings = 24;
inline constexpr uint8_t kHalvoraSetBypassFlags = 25;
inline constexpr uint8_t kHalvoraBypassFlags = 26;
inline constexpr uint8_t kHalvoraFaults = 27;
inline constexpr uint8_t kHalvoraOutputSamples = 28;
inline constexpr uint8_t kHalvoraInputSamples = 29;
inline constexpr uint8_t kHalvoraConverters = 30;
inline constexpr uint8_t kHalvoraBus = 31;
inline constexpr uint8_t kHalvoraSetThresholds = 32;
inline constexpr uint8_t kHalvoraThresholdFlags = 33;
inline constexpr uint8_t kHalvoraFrequencyAutoselect = 36;
inline constexpr uint8_t kHalvoraAutonomy = 37;
inline constexpr uint8_t kHalvoraReserveTime = 41;
// Protocol number 2 keeps its output settings under these in place of 23 and 24.
inline constexpr uint8_t kHalvoraSetOutputSettingsP2 = 44;
inline constexpr uint8_t kHalvoraOutputSettingsP2 = 45;
inline constexpr uint8_t kHalvoraEventPage = 46;
inline constexpr uint8_t kHalvoraSetClock = 48;
inline constexpr uint8_t kHalvoraClock = 49;
inline constexpr uint8_t kHalvoraWriteCalendarStep = 52;
inline constexpr uint8_t kHalvoraReadCalendarStep = 53;
inline constexpr uint8_t kHalvoraCalendarSwitch = 54;
inline constexpr uint8_t kHalvoraLastCommand = 54;

// The protocol number whose event list is read one event per exchange.
inline constexpr int kHalvoraPagedEventsProtocol = 2;

// Data of the event page and calendar switch commands.
inline constexpr uint8_t kHalvoraFirstEntry = 0;
inline constexpr uint8_t kHalvoraNextEntry = 1;
inline constexpr uint8_t kHalvoraReadState = 2;

// Calendar step byte 8 that marks the end of the calendar.
inline constexpr uint8_t kHalvoraCalendarEnd = 255;
// A BCD byte of this value stands for "any" ("*").
inline constexpr uint8_t kHalvoraBcdAny = 170;

// Bounds on what a UPS can make us hold: a list read one entry per exchange ends here even when the
// UPS never says it has ended.
inline constexpr std::size_t kHalvoraMaxEvents = 256;
inline constexpr std::size_t kHalvoraMaxCalendarSteps = 254;

}  // namespace keep::server

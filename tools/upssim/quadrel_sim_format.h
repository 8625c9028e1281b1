// The modular three-phase dialect (protocol number 4) as the simulated UPS writes it: the command
// codes, the status bytes its replies carry, the raw sentinels for "not available" and "overrange",
// and the little-endian writers every reply is built with. Reply data begin at byte 2 (the framing
// puts CMD in front as byte 1); most requests carry a first data byte 0 that the reply repeats as
// its byte 2. Constants and pure helpers only.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/upssim/binary_dialect.h"

namespace keep::tools {

inline constexpr uint8_t kQuadrelIdentification = 1;
inline constexpr uint8_t kQuadrelModuleInfo = 8;
inline constexpr uint8_t kQuadrelStatus = 32;
inline constexpr uint8_t kQuadrelOutputPhase = 33;
inline constexpr uint8_t kQuadrelInputPhase = 34;
inline constexpr uint8_t kQuadrelBattery = 35;
inline constexpr uint8_t kQuadrelModuleMain = 40;
inline constexpr uint8_t kQuadrelModuleOutput = 41;
inline constexpr uint8_t kQuadrelModuleInput = 42;
inline constexpr uint8_t kQuadrelModuleBattery = 43;
inline constexpr uint8_t kQuadrelModuleHardware = 44;
inline constexpr uint8_t kQuadrelModuleHistory = 45;
inline constexpr uint8_t kQuadrelTimer = 64;
inline constexpr uint8_t kQuadrelClock = 65;
inline constexpr uint8_t kQuadrelWriteParameter = 66;
inline constexpr uint8_t kQuadrelReadParameter = 67;
inline constexpr uint8_t kQuadrelBeeper = 68;
inline constexpr uint8_t kQuadrelModuleAlarms = 96;
inline constexpr uint8_t kQuadrelAlarmTexts = 97;
inline constexpr uint8_t kQuadrelEventLog = 98;
inline constexpr uint8_t kQuadrelEventReset = 99;
inline constexpr uint8_t kQuadrelEventTexts = 100;
inline constexpr uint8_t kQuadrelForcedBypass = 162;
inline constexpr uint8_t kQuadrelOutputOnOff = 163;
inline constexpr uint8_t kQuadrelOutputStates = 164;
inline constexpr uint8_t kQuadrelBatteryTest = 165;

// Raw sentinels: the first of each pair means "not available", the second "overrange".
inline constexpr uint8_t kQuadrelByteNotAvailable = 254;
inline constexpr uint8_t kQuadrelByteOverrange = 255;
inline constexpr uint16_t kQuadrelWordNotAvailable = 65534;
inline constexpr uint16_t kQuadrelWordOverrange = 65535;
inline constexpr int16_t kQuadrelSignedNotAvailable = 32766;
inline constexpr int16_t kQuadrelSignedOverrange = 32767;
inline constexpr uint32_t kQuadrelDwordOverrange = 4294967295u;

// Status byte 3 of the status reply.
inline constexpr unsigned kQuadrelOnBattery = 1u << 0;
inline constexpr unsigned kQuadrelOnBypass = 1u << 1;
inline constexpr unsigned kQuadrelBatteryLow = 1u << 2;
inline constexpr unsigned kQuadrelTestRunning = 1u << 5;
inline constexpr unsigned kQuadrelOutputOn = 1u << 6;
inline constexpr unsigned kQuadrelChargerOn = 1u << 7;
// Anomaly byte 4 of the status reply.
inline constexpr unsigned kQuadrelAnomalyOverload = 1u << 0;
inline constexpr unsigned kQuadrelAnomalyHardware = 1u << 2;

// Module state byte 4 of the module blocks.
inline constexpr uint8_t kQuadrelModuleValid = 0;
inline constexpr uint8_t kQuadrelModuleAbsent = 255;

// Entry status byte 4 of the alarm and event text tables.
inline constexpr uint8_t kQuadrelEntryText = 0;
inline constexpr uint8_t kQuadrelEntrySkip = 16;
inline constexpr uint8_t kQuadrelEntryNoText = 64;
inline constexpr uint8_t kQuadrelEntryEnd = 128;
// Bytes 5-39 of a text table reply.
inline constexpr size_t kQuadrelEntryTextBytes = 35;

// Parameter status byte 5: 0 read or written; the others leave the value unknown to the peer.
inline constexpr uint8_t kQuadrelParameterOk = 0;
inline constexpr uint8_t kQuadrelParameterUnknown = 16;
inline constexpr uint8_t kQuadrelParameterRefused = 128;

// Battery test states (byte 3) and its sub-commands (request data byte 2).
inline constexpr uint8_t kQuadrelTestIdle = 0;
inline constexpr uint8_t kQuadrelTestBusy = 1;
inline constexpr uint8_t kQuadrelTestImpossible = 2;
inline constexpr uint8_t kQuadrelTestStart = 0;

// Timer numbers of the timer command; a delay of all ones means "no timer".
inline constexpr uint8_t kQuadrelShutdownTimer = 1;
inline constexpr uint8_t kQuadrelRestartTimer = 3;
inline constexpr uint32_t kQuadrelNoDelay = 4294967295u;

inline void AppendQuadrelByte(std::string& out, unsigned value) { out += static_cast<char>(value & 0xFFu); }

inline void AppendQuadrelWord(std::string& out, uint16_t value) {
  AppendQuadrelByte(out, value);
  AppendQuadrelByte(out, value >> 8);
}

inline void AppendQuadrelDword(std::string& out, uint32_t value) {
  AppendQuadrelWord(out, static_cast<uint16_t>(value & 0xFFFFu));
  AppendQuadrelWord(out, static_cast<uint16_t>(value >> 16));
}

// A reading as an unsigned byte: rounded, negatives as 0, beyond 253 the overrange sentinel.
inline uint8_t QuadrelByte(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded > 0)) return 0;
  return rounded < kQuadrelByteNotAvailable ? static_cast<uint8_t>(rounded) : kQuadrelByteOverrange;
}

// A reading as an unsigned word: rounded, negatives as 0, beyond 65533 the overrange sentinel.
inline uint16_t QuadrelWord(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded > 0)) return 0;
  return rounded < kQuadrelWordNotAvailable ? static_cast<uint16_t>(rounded) : kQuadrelWordOverrange;
}

// A reading as a signed word: rounded, outside -32768..32765 the overrange sentinel.
inline int16_t QuadrelSignedWord(double value) {
  const double rounded = std::nearbyint(value);
  if (rounded >= -32768 && rounded < kQuadrelSignedNotAvailable) return static_cast<int16_t>(rounded);
  return kQuadrelSignedOverrange;
}

inline void AppendQuadrelSignedWord(std::string& out, int16_t value) {
  AppendQuadrelWord(out, static_cast<uint16_t>(value));
}

// Data byte `index` (from 0) of a request; 0 when the request is shorter.
inline uint8_t QuadrelDataByte(const BinaryRequest& request, size_t index) {
  return index < request.data.size() ? static_cast<uint8_t>(request.data[index]) : 0;
}

// The first data byte, which replies repeat in front of their own data.
inline std::string QuadrelReplyHead(const BinaryRequest& request) {
  return std::string(1, static_cast<char>(QuadrelDataByte(request, 0)));
}

}  // namespace keep::tools

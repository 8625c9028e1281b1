// Command codes of the binary modular-UPS protocol (protocol number 4) and the form of the manager's
// queue items for it: the command in decimal, then its fields in decimal, separated by commas
// ("33,1" asks for output phase S). Constants only.
#pragma once

#include <cstdint>

namespace keep::server {

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

// A refusal replaces CMD and the first data byte with these two characters.
inline constexpr char kQuadrelRefusal[] = "Ko";

// Timer numbers of the timer command.
inline constexpr uint8_t kQuadrelShutdownTimer = 1;
inline constexpr uint8_t kQuadrelRestartTimer = 3;

// The module numbers the modules request walks through.
inline constexpr int kQuadrelModuleSlots = 12;

}  // namespace keep::server

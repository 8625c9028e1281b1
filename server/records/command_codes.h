// The request and answer codes of the client protocol. A client sends a three-digit code and its
// fields in one frame; the answer carries the same code unless it is one of the server's notices.
// Codes below 100 exist only for the server's own queued requests and are never accepted from a
// client.
#pragma once

#include <cstdint>

namespace keep::server {

// Requests the server queues for itself (requester "@").
inline constexpr int kCodeDataSample = 1;
inline constexpr int kCodeUpsOff = 2;            // fields: switch-off delay, restart delay or "@"
inline constexpr int kCodeStopAutonomyTest = 4;  // sent on the wire as 401 with "0"

// Readings.
inline constexpr int kCodeIdentification = 100;
inline constexpr int kCodeStatus = 101;
inline constexpr int kCodeOutputData = 102;
inline constexpr int kCodeInputData = 103;
inline constexpr int kCodeInputSamples = 104;
inline constexpr int kCodeOutputSamples = 105;
inline constexpr int kCodeBatteryData = 106;
inline constexpr int kCodeHistory = 107;
inline constexpr int kCodeHardware = 108;
inline constexpr int kCodeEventList = 109;
inline constexpr int kCodeBuzzer = 110;
inline constexpr int kCodeClock = 111;
inline constexpr int kCodeCalendar = 112;
inline constexpr int kCodeFrequencyAutoselect = 113;
inline constexpr int kCodeModules = 130;
inline constexpr int kCodeStatusThreePhase = 131;
inline constexpr int kCodeOutputThreePhase = 132;
inline constexpr int kCodeInputThreePhase = 133;
inline constexpr int kCodeBatteryModular = 134;
inline constexpr int kCodeHistoryModular = 135;
inline constexpr int kCodeAlarmTexts = 136;
inline constexpr int kCodeModuleAlarms = 137;
inline constexpr int kCodeConfiguration = 138;
inline constexpr int kCodeEventLog = 139;
inline constexpr int kCodeEventTexts = 140;
inline constexpr int kCodeModuleInfo = 150;
inline constexpr int kCodeModuleMain = 151;
inline constexpr int kCodeModuleInput = 152;
inline constexpr int kCodeModuleOutput = 153;
inline constexpr int kCodeModuleHistory = 154;
inline constexpr int kCodeModuleHardware = 155;

// Files.
inline constexpr int kCodeSendLogFile = 200;
inline constexpr int kCodeSendDataFile = 201;
inline constexpr int kCodeSendScheduleFile = 202;
inline constexpr int kCodeUploadSchedule = 203;

// Settings and commands.
inline constexpr int kCodeSetInput = 300;
inline constexpr int kCodeSetOutput = 301;
inline constexpr int kCodeSetBattery = 302;
inline constexpr int kCodeSetBuzzer = 303;
inline constexpr int kCodeResetBatteryHistory = 304;
inline constexpr int kCodeResetEventList = 305;
inline constexpr int kCodeSetFrequencyAutoselect = 306;
inline constexpr int kCodeSetClock = 307;
inline constexpr int kCodeSetCalendar = 308;
inline constexpr int kCodeShutdown = 309;
inline constexpr int kCodeSetInputThreePhase = 310;
inline constexpr int kCodeSetOutputModular = 311;
inline constexpr int kCodeSetBatteryModular = 312;
inline constexpr int kCodeResetEventLog = 313;
inline constexpr int kCodeSetRelays = 314;
inline constexpr int kCodeSetOutputPhases = 315;

// Tests.
inline constexpr int kCodeBatteryTest = 400;
inline constexpr int kCodeAutonomyTest = 401;
inline constexpr int kCodeBatteryTestModular = 402;

// Notices and refusals the server sends; no fields.
inline constexpr int kCodeUpsNotConnected = 500;
inline constexpr int kCodeUpsRestored = 501;
inline constexpr int kCodeInvalidRequest = 502;

// Largest scheduler file a client may upload with 203. Its bytes follow the request line raw, so a
// larger count cannot be skipped safely: it is refused and the connection closed.
inline constexpr int64_t kMaxScheduleUploadBytes = 1024 * 1024;

}  // namespace keep::server

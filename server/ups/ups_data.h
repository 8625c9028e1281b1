// TUpsData: the one record of everything the server knows about its UPS. It mirrors what the client
// protocol reports, so almost every value is text in the form it is sent: a decimal number in the
// unit named beside the field, or a one-character code. "&" in any text or code means not available
// and "@" overrange (for test states: impossible or to be repeated); load percentages use -1.0 and
// -2.0 for the same (server/ups/sentinels.h). Codes that are flags hold "1" for yes and "0" for no
// unless said otherwise.
//
// Every member starts empty or zero. The model database loader sets the identification fields and
// the initial status; the protocol drivers are the only writers of measured values; everything else
// reads. The record belongs to the server context and is touched only on the main loop, so it has
// no lock of its own.
//
// Lists (std::vector members) have a single writer, which replaces the whole list rather than
// editing it in place; readers take the number of entries from the list itself, not from the
// matching Count text, unless the reader's own documentation says otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ups/fixed_text.h"

namespace keep::server {

struct TUpsInfoData {
  std::string ModelName;  // as shown to clients; the modular driver adds the rated power
  std::string FamilyName;
  std::string InstalledModules;
  std::string ModuleCount;           // "-1" for models that are not modular
  std::string ActiveNominalPower;    // W
  std::string ApparentNominalPower;  // VA
  uint8_t BatteryBlocks = 0;         // blocks in series; 254 = not reported
  std::string FirmwareVersion;
  TText12 SerialNumber;
  std::string ModelCode;               // the model database's second model text
  TCode UpsType;                       // family digit "0".."6"; clients choose single- or three-phase views by it
  std::vector<std::string> ModuleIds;  // modules that answered with valid data, in answer order
};

struct TUpsMainData {
  TCode UpsStatus;      // 0 mains, 1 battery, 2 low battery, 3 bypass, 4 maintenance bypass, 5 off, 6 test
  TCode UpsStatusSeen;  // UpsStatus at the previous main cycle
  TCode Anomaly;        // 0 none, 1 overload, 2 overheat, 3 hardware fault, 4 battery charger, 5 battery fault
  TCode AnomalySeen;    // Anomaly at the previous main cycle
  float LoadR = 0.0f;   // percent per output phase; -1 not available, -2 overrange
  float LoadS = 0.0f;
  float LoadT = 0.0f;
  std::string Temperature;          // whole degrees Celsius
  int32_t AutonomyTime = 0;         // seconds
  int32_t AutonomyAtFailure = 0;    // AutonomyTime when the mains last failed (status evaluation)
  std::string AutonomyReserveTime;  // minutes
  uint8_t AutonomyFromUps = 0;      // non-zero when the UPS reports autonomy and charge itself
  TCode CalibrationState;           // "&" not available, "@" never run or to repeat, 0 done, 1 running
};

struct TUpsOutputPhase {
  TCode State;                       // 0 off, 1 on
  std::string Voltage;               // V
  std::string NominalActivePower;    // W
  std::string NominalApparentPower;  // VA
  std::string ActivePower;           // W
  std::string ApparentPower;         // VA
  std::string Current;               // A
  std::string PeakCurrent;           // A
  std::string Frequency;             // Hz, or the Megatec code 0 = 50 Hz, 1 = 60 Hz
};

struct TUpsOutputData {
  TCode OutputConfig;          // 0 single phase, 1 three phase, 2 three single phases
  std::string NominalVoltage;  // V
  TUpsOutputPhase PhaseR;
  TUpsOutputPhase PhaseS;
  TUpsOutputPhase PhaseT;
  TCode BypassEnabled;
  TCode ForcedBypass;
  TCode BypassDipSpeed;  // 1 fast, 2 normal, 3 slow
  TCode LoadOnBypassAtStart;
  TCode OffLineMode;
  TCode EpsMode;
  TCode LoadWaitingMode;
  std::string LoadWaitingThreshold;  // W
};

struct TUpsInputPhase {
  std::string Voltage;        // V
  std::string ActivePower;    // W
  std::string ApparentPower;  // VA
  std::string Current;        // A
  std::string PeakCurrent;    // A
  std::string Frequency;      // Hz
};

struct TUpsInputData {
  TCode InputConfig;  // 0 single phase, 1 three phase
  TUpsInputPhase PhaseR;
  TUpsInputPhase PhaseS;
  TUpsInputPhase PhaseT;
  TCode TriPllEnabled;
  TCode TriPllExtendedRange;
  TCode NominalFrequency;  // 0 50 Hz, 1 60 Hz
  TCode TriFrequencyAutoselect;
  TCode StabiliserLevel;  // 1 220 V, 2 230 V, 3 240 V
  TCode NeutralSenseEnabled;
  TCode NeutralSenseWhileRunning;
  TCode PllEnabled;
  TCode PllExtendedRange;
  TCode FrequencyAutoselect;
};

inline constexpr std::size_t kSamplePoints = 32;

// 32 points of two signed 16-bit quantities, as raw decimal texts.
struct TUpsSamplesData {
  std::array<std::string, kSamplePoints> Wave1;
  std::array<std::string, kSamplePoints> Wave2;
};

struct TUpsSamplesInOut {
  TUpsSamplesData Samples1;
  TUpsSamplesData Samples2;
};

struct TUpsBatteryData {
  float NominalVoltage = 0.0f;      // V
  std::string Voltage;              // tenths of a volt (hundredths for the modular family)
  float ModelFactor = 0.0f;         // from the model database
  std::string CurrentOnBattery;     // A
  std::string ReserveThreshold;     // V
  std::string ExhaustThreshold;     // V
  TCode ThresholdsMode;             // 0 manual, 1 automatic
  TCode AutoBatteryTest;            // battery test at UPS start-up
  std::string MaxTimeOnBattery;     // seconds, "0" = not limited
  std::string MaxTimeAfterReserve;  // seconds, "0" = not limited
  TCode Autorestart;
  TCode HistoryResetResult;
  TCode ChargerWithUpsOff;
  std::string MinChargeForRestart;  // percent, "0" = disabled
  TCode StartupOnBattery;
  std::string BatteryStrings;
  std::string StringCapacity;  // Ah per string
  TCode ChargerStatus;         // 1 running, 0 standby
};

// Counters as the UPS reports them; times in hours.
struct TUpsHistoryData {
  std::string UpsOperatingTime;
  std::string InverterOperatingTime;
  std::string UpsInterventions;
  std::string BatteryFullDischarges;
  std::string BypassInterventions;  // bypass or stabiliser interventions
  std::string Overheatings;
  std::string ChargerOperatingTime;
  std::string BatteryCalibrations;
  std::string BatteryFullCharges;
  std::string BatteryEqualizations;
};

struct TUpsAdData {
  std::string Voltage;
  std::string Current;
};

struct TUpsAdInOutData {
  TUpsAdData Input;
  TUpsAdData Output;
};

struct TUpsBusData {
  std::string Positive;  // V
  std::string Negative;  // V
};

struct TUpsHardwareData {
  std::string FaultyModules;
  std::string ModulesL1;  // power modules on each output phase
  std::string ModulesL2;
  std::string ModulesL3;
  std::string FaultyType;
  TUpsAdInOutData Converters;
  TUpsBusData Bus;
  TCode BuzzerEnabled;
  TCode RelayMainsBattery;  // relay contacts: 1 normally open, 0 normally closed
  TCode RelayBatteryReserve;
  TCode RelayGeneralAlarm;
  TCode RelayOverload;
};

struct TUpsEventRecord {
  std::string Year;
  std::string Month;
  std::string Day;
  std::string Hour;
  std::string Minute;
  std::string Code;
  std::string Extra;  // kept with the event, never reported
};

// The event list of the single-phase families.
struct TUpsEventListData {
  std::string Count;                   // events in Items, or "&"
  int32_t ReadIndex = 0;               // next event to ask for while the list is read page by page
  std::vector<TUpsEventRecord> Items;  // most recent first
  TCode ResetResult;
};

struct TUpsTestData {
  std::string BatteryTestState;   // 0 finished, 1 running, "@" impossible, "&" not available
  std::string BatteryTestResult;  // percent; "255" when the UPS refused the test
  TCode AutonomyTestState;        // owned by the battery and autonomy test logic
};

struct TUpsClockData {
  std::string Year;
  std::string Month;
  std::string Day;
  std::string Hour;
  std::string Minute;
  std::string Second;
  std::string DayOfWeek;  // 0 Sunday .. 6 Saturday
};

// One step of the UPS's own calendar, its fields in the order they are reported.
struct TUpsCalendarStepData {
  std::string Index;
  std::string Bcd1;
  std::string Bcd2;
  std::string Mark;  // a decimal code, or "*" for any
  std::string Bcd3;
  std::string Bcd4;
  std::string Code;
};

struct TUpsCalendarData {
  uint8_t StepCount = 0;
  TCode Enabled;
  std::vector<TUpsCalendarStepData> Steps;
};

struct TUpsAlarmsEventsTableData {
  std::string Code;  // for the active module alarms: the module identifier
  std::string Text;  // for the active module alarms: the alarm code
};

struct TQuadrelAlarmsEventsTableData {
  std::string Count;  // "&" when the UPS did not answer
  std::vector<TUpsAlarmsEventsTableData> Items;
};

struct TQuadrelEventRecord {
  std::string Date;
  std::string Time;
  std::string Code;
};

struct TQuadrelEventsList {
  std::string Count;
  TCode Selector;  // the list last asked for: 0 all, 1 critical, 2 warning, 3 info
  std::vector<TQuadrelEventRecord> Items;
};

// ModuleState of every power module block: '0' data valid, '1' module not present, '2' no answer
// from the module, '3' function not supported by the module.
struct TPowerModuleInfoData {
  std::string ModuleId;
  char ModuleState = 0;
  TCode Phase;                       // output phase the module is installed on
  std::string ActiveNominalPower;    // W
  std::string ApparentNominalPower;  // VA
  std::string ChargerCurrent;        // A
  std::string FirmwareVersion;
  std::string HardwareVersion;
  std::string SerialNumber;
};

// Flags are "1" set and "0" clear, all "&" when the module gave no valid data.
struct TPowerModuleMainData {
  std::string ModuleId;
  char ModuleState = 0;
  TCode WorkMode;  // 0, 1 or 3
  TCode ChargerStatus;
  TCode BatteryCharger;
  TCode Inverter;
  TCode Booster;
  TCode Overheat;
  TCode Overload;
};

struct TPowerModuleInputData {
  std::string ModuleId;
  char ModuleState = 0;
  std::string BypassVoltage;
  std::string Voltage;
  std::string ActivePower;
  std::string ApparentPower;
  std::string Current;
  std::string PeakCurrent;
};

struct TPowerModuleOutputData {
  std::string ModuleId;
  char ModuleState = 0;
  std::string Voltage;
  std::string ActivePower;
  std::string ApparentPower;
  std::string Current;
  std::string PeakCurrent;
};

struct TPowerModuleBatteryData {
  std::string ModuleId;
  char ModuleState = 0;
  std::string Voltage;
  std::string Current;
};

struct TPowerModuleHistoryData {
  std::string ModuleId;
  char ModuleState = 0;
  std::string TotalOperatingTime;
  std::string BoosterOperatingTime;
  std::string BoosterInterventions;
  std::string BypassInterventions;
  std::string ChargerOperatingTime;
  std::string Overheatings;
  std::string Overloads;
  std::string HvBusRunaway;
  std::string OutputDcLevel;
};

struct TPowerModuleHardwareData {
  std::string ModuleId;
  char ModuleState = 0;
  std::string PositiveBus;
  std::string NegativeBus;
  std::string InverterHeatsinkTemp;
  std::string BoosterHeatsinkTemp;
  std::string FanSpeed;
};

// The power module last asked for.
struct TPowerModuleData {
  TPowerModuleInfoData Info;
  TPowerModuleMainData Main;
  TPowerModuleInputData Input;
  TPowerModuleOutputData Output;
  TPowerModuleBatteryData Battery;
  TPowerModuleHistoryData History;
  TPowerModuleHardwareData Hardware;
};

struct TUpsData {
  TUpsInfoData Info;
  TUpsMainData Main;
  TUpsOutputData Output;
  TUpsInputData Input;
  TUpsSamplesInOut Samples;
  TUpsBatteryData Battery;
  TUpsHistoryData History;
  TUpsHardwareData Hardware;
  TUpsEventListData Events;
  TUpsTestData Test;
  TUpsClockData Clock;
  TUpsCalendarData Calendar;
  TQuadrelAlarmsEventsTableData AlarmTexts;    // the modular UPS's alarm codes and their texts
  TQuadrelAlarmsEventsTableData ModuleAlarms;  // active alarms: module identifier and alarm code
  TQuadrelEventsList EventLog;                 // event history of the modular UPS
  TQuadrelAlarmsEventsTableData EventTexts;    // the modular UPS's event codes and their texts
  TCode EventResetSelector;                    // list the last reset named: 0 all, 1 critical, 2 warning, 3 info
  TCode EventResetDone;                        // whether the UPS carried that reset out
  TPowerModuleData Module;
};

}  // namespace keep::server

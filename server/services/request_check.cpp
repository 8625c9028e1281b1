#include "server/services/request_check.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "common/fill_params.h"
#include "server/records/command_codes.h"
#include "server/services/language.h"
#include "server/services/recording.h"
#include "server/ups/ups_manager.h"

namespace keep::server {
namespace {

enum class Handling { kNow, kQueue, kQueueUnlessUsb, kSpecial };

enum class Kind {
  kFlag,          // "0" or "1"
  kFlagOrNone,    // "0", "1" or "&"
  kInt,           // 32-bit integer within [min, max]
  kIntOrNone,     // 32-bit integer or "&"
  kInt64,         // 64-bit integer
  kOneOf,         // one of the single characters in `choices`
  kCalendarStep,  // seven comma-separated items
};

struct FieldCheck {
  Kind kind;
  int64_t min = std::numeric_limits<int32_t>::min();
  int64_t max = std::numeric_limits<int32_t>::max();
  std::string_view choices = {};
};

struct CommandRule {
  int code;
  Handling handling;
  std::vector<FieldCheck> fields;
  // Any number of further fields, each a calendar step (308).
  bool more_steps = false;
};

constexpr FieldCheck kB{Kind::kFlag};
constexpr FieldCheck kBN{Kind::kFlagOrNone};
constexpr FieldCheck kI{Kind::kInt};
constexpr FieldCheck kIN{Kind::kIntOrNone};
constexpr FieldCheck kI64{Kind::kInt64};
constexpr FieldCheck kNotNegative{Kind::kInt, 0};
constexpr FieldCheck Range(int64_t min, int64_t max) { return FieldCheck{Kind::kInt, min, max}; }
constexpr FieldCheck OneOf(std::string_view choices) { return FieldCheck{Kind::kOneOf, 0, 0, choices}; }

const std::vector<CommandRule>& CommandTable() {
  static const std::vector<CommandRule> table = {
      {kCodeIdentification, Handling::kNow, {}},
      {kCodeStatus, Handling::kNow, {}},
      {kCodeOutputData, Handling::kQueueUnlessUsb, {}},
      {kCodeInputData, Handling::kQueueUnlessUsb, {}},
      {kCodeInputSamples, Handling::kQueueUnlessUsb, {}},
      {kCodeOutputSamples, Handling::kQueueUnlessUsb, {}},
      {kCodeBatteryData, Handling::kQueueUnlessUsb, {}},
      {kCodeHistory, Handling::kQueueUnlessUsb, {}},
      {kCodeHardware, Handling::kQueueUnlessUsb, {}},
      {kCodeEventList, Handling::kQueueUnlessUsb, {}},
      {kCodeBuzzer, Handling::kQueueUnlessUsb, {}},
      {kCodeClock, Handling::kQueueUnlessUsb, {}},
      {kCodeCalendar, Handling::kQueueUnlessUsb, {}},
      {kCodeFrequencyAutoselect, Handling::kQueueUnlessUsb, {}},
      {kCodeModules, Handling::kQueue, {}},
      {kCodeStatusThreePhase, Handling::kNow, {}},
      {kCodeOutputThreePhase, Handling::kQueue, {}},
      {kCodeInputThreePhase, Handling::kQueue, {}},
      {kCodeBatteryModular, Handling::kQueue, {}},
      {kCodeHistoryModular, Handling::kQueue, {}},
      {kCodeAlarmTexts, Handling::kQueue, {}},
      {kCodeModuleAlarms, Handling::kQueue, {}},
      {kCodeConfiguration, Handling::kQueue, {}},
      {kCodeEventLog, Handling::kQueue, {Range(0, 3)}},
      {kCodeEventTexts, Handling::kQueue, {}},
      {kCodeModuleInfo, Handling::kQueue, {kI}},
      {kCodeModuleMain, Handling::kQueue, {kI}},
      {kCodeModuleInput, Handling::kQueue, {kI}},
      {kCodeModuleOutput, Handling::kQueue, {kI}},
      {kCodeModuleHistory, Handling::kQueue, {kI}},
      {kCodeModuleHardware, Handling::kQueue, {kI}},
      {kCodeSendLogFile, Handling::kSpecial, {}},
      {kCodeSendDataFile, Handling::kSpecial, {}},
      {kCodeSendScheduleFile, Handling::kSpecial, {}},
      {kCodeUploadSchedule, Handling::kSpecial, {kI64}},
      {kCodeSetInput, Handling::kQueue, {OneOf("123&"), kBN, kBN, kBN, kBN}},
      {kCodeSetOutput, Handling::kQueue, {kIN, OneOf("01&"), kBN, kBN, OneOf("123"), kBN, kBN, kIN}},
      {kCodeSetBattery, Handling::kQueue, {kIN, kIN, kBN, kBN, kIN, kIN, kBN}},
      {kCodeSetBuzzer, Handling::kQueue, {kB}},
      {kCodeResetBatteryHistory, Handling::kQueueUnlessUsb, {}},
      {kCodeResetEventList, Handling::kQueueUnlessUsb, {}},
      {kCodeSetFrequencyAutoselect, Handling::kQueue, {kBN}},
      {kCodeSetClock,
       Handling::kQueue,
       {kI, Range(1, 12), Range(1, 31), Range(0, 23), Range(0, 59), Range(0, 59), Range(0, 6)}},
      {kCodeSetCalendar, Handling::kQueue, {kB}, true},
      {kCodeShutdown, Handling::kSpecial, {}},
      {kCodeSetInputThreePhase, Handling::kQueue, {kB, kB, kB}},
      {kCodeSetOutputModular, Handling::kQueue, {kNotNegative, kB, kB, Range(1, 3), kB, kB, kB, kB}},
      {kCodeSetBatteryModular, Handling::kQueue, {kNotNegative, kB, kB, kB, Range(0, 100)}},
      {kCodeResetEventLog, Handling::kQueue, {Range(0, 3)}},
      {kCodeSetRelays, Handling::kQueue, {kB, kB, kB, kB}},
      {kCodeSetOutputPhases, Handling::kQueue, {kB, kB, kB}},
      {kCodeBatteryTest, Handling::kQueueUnlessUsb, {}},
      {kCodeAutonomyTest, Handling::kSpecial, {OneOf("01")}},
      {kCodeBatteryTestModular, Handling::kSpecial, {}},
  };
  return table;
}

const CommandRule* FindCommand(int code) {
  for (const CommandRule& rule : CommandTable()) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

// Whole text, decimal, optional "-"; no blanks, no "+", no locale.
template <typename Int>
bool ParseWhole(std::string_view text, Int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

bool CheckInt(std::string_view text, int64_t min, int64_t max) {
  int32_t value = 0;
  return ParseWhole(text, value) && value >= min && value <= max;
}

// A calendar step: index I; month I*[1..12]; day I*[1..31]; day of week I*[0..6]; hour I[0..23];
// minute I[0..59]; action "0".."4". Split strictly: a stray comma or blank is an error, since the
// items go to the UPS as they are.
bool CheckCalendarStep(std::string_view text) {
  std::vector<std::string_view> items;
  size_t start = 0;
  while (items.size() < 8) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (items.size() != 7) return false;
  const auto any_or = [](std::string_view item, int64_t min, int64_t max) {
    return item == "*" || CheckInt(item, min, max);
  };
  bool ok = CheckInt(items[0], std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  ok &= any_or(items[1], 1, 12);
  ok &= any_or(items[2], 1, 31);
  ok &= any_or(items[3], 0, 6);
  ok &= CheckInt(items[4], 0, 23);
  ok &= CheckInt(items[5], 0, 59);
  ok &= items[6].size() == 1 && items[6][0] >= '0' && items[6][0] <= '4';
  return ok;
}

bool CheckField(const FieldCheck& check, std::string_view text) {
  switch (check.kind) {
    case Kind::kFlag:
      return text == "0" || text == "1";
    case Kind::kFlagOrNone:
      return text == "0" || text == "1" || text == "&";
    case Kind::kInt:
      return CheckInt(text, check.min, check.max);
    case Kind::kIntOrNone:
      return text == "&" || CheckInt(text, check.min, check.max);
    case Kind::kInt64: {
      int64_t value = 0;
      return ParseWhole(text, value);
    }
    case Kind::kOneOf:
      return text.size() == 1 && check.choices.find(text[0]) != std::string_view::npos;
    case Kind::kCalendarStep:
      return CheckCalendarStep(text);
  }
  return false;
}

bool FieldsPass(const CommandRule& rule, const TStringList& fields) {
  const size_t expected = rule.fields.size() + 1;
  if (rule.more_steps ? fields.size() < expected : fields.size() != expected) return false;
  // Every check runs, so a request is judged on all its fields rather than its first fault.
  bool ok = true;
  for (size_t i = 1; i < fields.size(); ++i) {
    const FieldCheck step{Kind::kCalendarStep};
    ok &= CheckField(i < expected ? rule.fields[i - 1] : step, fields[i]);
  }
  return ok;
}

// Over USB the protocol-3 link keeps the readings current by itself, so they need no UPS exchange.
bool LinkKeepsDataCurrent(const ServerContext& context) {
  return context.Setup.ServerSetup.UpsManType == kLinkUsb && context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber == 3;
}

void AnswerWith(CheckResult& result, std::string parameter) {
  result.already_answered = true;
  result.has_answer_parameter = true;
  result.answer_parameter = std::move(parameter);
}

const char* TransferFile(int code) {
  switch (code) {
    case kCodeSendLogFile:
      return kLogFileName;
    case kCodeSendDataFile:
      return "data/ups_data.csv";
    default:
      return "data/sch_data.dat";
  }
}

void CheckAutonomyTest(const std::string& field, ServerContext& context, CheckResult& result) {
  result.special = Special::kCalibration;
  const TCode& calibration = context.Ups.Main.CalibrationState;
  TCode& state = context.Ups.Test.AutonomyTestState;
  if (calibration == "&") {  // the UPS has no calibration test
    state = "0";
    AnswerWith(result, field);
    return;
  }
  if (field == "1") {
    if (calibration == "1") {
      state = "2";
      AnswerWith(result, "1");
    } else if (context.Ups.Main.UpsStatus == "0" && context.Setup.UpsSetup.UpsBatteryCapacity >= 90.0f) {
      state = "1";  // queued: the UPS starts the test and the completion tells every client
    } else {
      state = "0";
      AnswerWith(result, "1");
      result.log_text = LanguageText(context.Setup, "LOGS", "AutonomyTestImpossible");
    }
    return;
  }
  // Stop: only a test that runs (or must be repeated) needs the UPS.
  if (calibration == "1" || calibration == "@") return;
  state = "0";
  AnswerWith(result, "0");
}

void CheckSpecial(int code, const TStringList& fields, ServerContext& context, CheckResult& result) {
  switch (code) {
    case kCodeSendLogFile:
    case kCodeSendDataFile:
    case kCodeSendScheduleFile:
      result.special = Special::kFileTransfer;
      result.already_answered = true;
      result.file_name = TransferFile(code);
      return;
    case kCodeUploadSchedule: {
      int64_t count = 0;
      ParseWhole(std::string_view(fields[1]), count);
      if (count < 0) {  // no byte count to read: refuse it like any malformed request
        result = CheckResult{};
        return;
      }
      result.special = Special::kScheduleUpload;
      result.already_answered = true;
      result.byte_count = count;
      if (count > kMaxScheduleUploadBytes) {
        AnswerWith(result, "0");
        result.close_connection = true;
      }
      return;
    }
    case kCodeShutdown: {
      result.special = Special::kShutdown;
      const TServerSetup& server = context.Setup.ServerSetup;
      // One shutdown at a time: while one is under way a second request is not executed.
      const bool allowed = server.SrvDownEnabled && server.SrvDownFromMonitor &&
                           !(context.Ups.Main.CalibrationState == "1") && !context.Server.ShutdownActive;
      AnswerWith(result, allowed ? "1" : "0");
      return;
    }
    case kCodeAutonomyTest:
      CheckAutonomyTest(fields[1], context, result);
      return;
    case kCodeBatteryTestModular:
      result.special = Special::kModularBatteryTest;
      // While a test runs there is nothing to start: report its state.
      result.answer_now = context.Ups.Test.BatteryTestState == "1";
      return;
    default:
      result = CheckResult{};
      return;
  }
}

}  // namespace

bool IsClientRequestCode(int code) { return FindCommand(code) != nullptr; }

CheckResult CheckRequest(const TStringList& fields, ServerContext& context) {
  CheckResult result;
  if (fields.empty()) return result;
  int32_t code = 0;
  if (!ParseWhole(std::string_view(fields[0]), code)) return result;
  const CommandRule* rule = FindCommand(code);
  if (rule == nullptr || !FieldsPass(*rule, fields)) return result;

  result.valid = true;
  switch (rule->handling) {
    case Handling::kNow:
      result.answer_now = true;
      break;
    case Handling::kQueue:
      break;
    case Handling::kQueueUnlessUsb:
      result.answer_now = LinkKeepsDataCurrent(context);
      break;
    case Handling::kSpecial:
      CheckSpecial(code, fields, context, result);
      break;
  }
  return result;
}

std::string ScheduleUploadLogText(const ServerContext& context, bool stored, const std::string& client_address) {
  const std::string text = LanguageText(context.Setup, "LOGS", stored ? "SchedulerNewFile" : "SchedulerDeleteFile");
  return context.SchedulerPrefix + FillParam(text, client_address);
}

}  // namespace keep::server

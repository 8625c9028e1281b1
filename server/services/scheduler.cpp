#include "server/services/scheduler.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/fill_params.h"
#include "common/format_settings.h"
#include "common/time_text.h"
#include "platform/clock.h"
#include "server/services/client_server.h"
#include "server/services/language.h"
#include "server/services/recording.h"
#include "server/services/schedule_file.h"
#include "server/services/server_context.h"
#include "server/ups/protocol_driver.h"

namespace keep::server {
namespace {

namespace fs = std::filesystem;

constexpr int kRequestBatteryTest = 400;
constexpr int kRequestModularBatteryTest = 402;
constexpr int32_t kProtocolModular = 4;
// The start of a calibration test, as a client would ask for it.
constexpr char kStartCalibrationTest[] = "<|401|1|>";
constexpr char kNoRestart[] = "@";
constexpr int64_t kMsPerSecond = 1000;
// Day numbers a little beyond the calendar's years 1 to 9999. Clamping to them keeps every sum of
// days and milliseconds inside 64 bits without changing how a date compares with today.
constexpr int64_t kFirstDay = -700'000;
constexpr int64_t kLastDay = 3'000'000;

// The value of a field that passed ValidScheduleLine; 0 for anything else.
int64_t Number(const std::string& text) {
  int64_t value = 0;
  return ParseDecimalInt64(text, value) ? value : 0;
}

int64_t ClampedDay(int64_t day) { return day < kFirstDay ? kFirstDay : (day > kLastDay ? kLastDay : day); }

// A time-of-day field in milliseconds. Loaded items hold 0 .. 86399 (or -1 for a restart time);
// the clamp only guards the multiplication.
int64_t TimeOfDayMs(const std::string& seconds) {
  int64_t value = Number(seconds);
  if (value < -1) value = -1;
  if (value > kSecondsPerDay) value = kSecondsPerDay;
  return value * kMsPerSecond;
}

// Midnight of the day numbered by a field, in milliseconds since the epoch.
int64_t DayStartMs(const std::string& day) { return ClampedDay(Number(day)) * DateTime::kMsPerDay; }

bool IsRestartOff(const std::string& field) { return Number(field) == -1; }

constexpr int64_t kDaysPerWeek = 7;

// Texts for a restart delay cut to the UPS's field; language files older than the key lack it.
constexpr char kDelayLimitedKey[] = "UpsRestartDelayLimited";
constexpr char kDelayLimitedText[] = "The UPS cannot wait $ seconds before restarting: it restarts after $ seconds";

// `moment` moved on by whole `period`s until it is later than `after`.
int64_t RolledPast(int64_t moment, int64_t after, int64_t period) {
  if (moment > after) return moment;
  return moment + ((after - moment) / period + 1) * period;
}

// The plan's text, cut at the last whole line within kMaxScheduleFileBytes; nullopt when unreadable.
std::optional<std::string> ReadPlanText(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxScheduleFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxScheduleFileBytes) {
    // A line cut by the limit could still look valid with fewer digits than it has.
    const size_t last_end = text.rfind('\n', kMaxScheduleFileBytes - 1);
    text.resize(last_end == std::string::npos ? 0 : last_end + 1);
  }
  return text;
}

}  // namespace

std::string ScheduleLine(const TScheduleRecord& record) {
  return JoinText({record.Kind, record.Frequency, record.Day, record.Time, record.RestartDay, record.RestartTime}, '|');
}

Scheduler::Scheduler(ServerContext& context) : context_(context), timer_(context.env.loop) {
  timer_.SetInterval(kScheduleCheckMs);
  timer_.SetOnTimer([this] { CheckSchedule(); });
}

void Scheduler::Start() { timer_.SetEnabled(true); }

std::string Scheduler::FileName() const {
  // Without an installation folder the plan would be looked for wherever the process runs.
  if (context_.Setup.InstallPath.empty()) return std::string();
  return context_.Setup.InstallPath + kScheduleFile;
}

DateTime Scheduler::Reference() const {
  const DateTime now = context_.env.wall.Now();
  // At start nothing has been checked yet: an item due in the last check period (a restart of the
  // server just after its moment) still fires, as it would have without the restart.
  if (!last_check_) return now + -kScheduleCheckMs;
  return *last_check_ < now ? *last_check_ : now;
}

void Scheduler::ReloadSchedule() {
  stored_weekday_ = context_.env.wall.Now().Weekday() + 1;
  // Writing back after a failed read would delete a plan that is only unreadable for the moment.
  if (LoadSchedule()) SaveSchedule();
}

bool Scheduler::LoadSchedule() {
  std::vector<TScheduleRecord> previous = std::move(records_);
  records_.clear();
  const std::string file_name = FileName();
  if (file_name.empty()) return false;
  std::error_code error;
  const bool exists = fs::exists(file_name, error);
  if (error) return false;
  if (!exists) return true;
  // Something else under the plan's name (a folder, a device) is not a plan, and not ours to delete.
  if (!fs::is_regular_file(file_name, error)) return false;
  const std::optional<std::string> text = ReadPlanText(file_name);
  if (!text) return false;

  const DateTime from = Reference();
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    if (!ValidScheduleLine(line)) continue;
    TStringList fields;
    SplitText('|', line, fields, true);
    TScheduleRecord record;
    record.Kind = fields[0];
    record.Frequency = fields[1];
    record.Day = fields[2];
    record.Time = fields[3];
    record.RestartDay = fields[4];
    record.RestartTime = fields[5];
    AddLoaded(std::move(record), previous, from);
  }
  return true;
}

void Scheduler::AddLoaded(TScheduleRecord record, std::vector<TScheduleRecord>& previous, DateTime from) {
  const auto same = std::find_if(previous.begin(), previous.end(),
                                 [&record](const TScheduleRecord& old) { return old.SameItem(record); });
  if (same != previous.end()) {
    record.Warned = same->Warned;
    record.Done = same->Done;
    record.Next = same->Next;
    // Taken once: a second identical line is an item of its own.
    previous.erase(same);
  } else {
    record.Next = FirstOccurrence(record, from);
    // A once item missed while the server was stopped is dropped, not fired late.
    if (record.Frequency == "O" && record.Next && *record.Next < from) return;
  }
  if (record.Done) return;
  records_.push_back(std::move(record));
}

void Scheduler::SaveSchedule() const {
  const std::string file_name = FileName();
  if (file_name.empty()) return;
  std::error_code error;
  if (records_.empty()) {
    fs::remove(file_name, error);
    return;
  }
  std::string text;
  for (const TScheduleRecord& record : records_) text += ScheduleLine(record) + "\r\n";
  // Written beside the plan and renamed over it, so a client download never sees half a file.
  const std::string fresh = file_name + ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      fs::remove(fresh, error);
      return;
    }
  }
  fs::rename(fresh, file_name, error);
  if (error) fs::remove(fresh, error);
}

void Scheduler::CheckSchedule() {
  TServerData& server = context_.Server;
  const DateTime now = context_.env.wall.Now();
  // A plain span rather than a time of day, so a warning time of a day or more still works.
  const int64_t warning = int64_t{context_.Setup.ServerSetup.SrvDownWarningTime} * kMsPerSecond;
  bool once_fired = false;
  // What came due since the last check is judged before any reload, which could otherwise take an
  // item due in the last seconds of a day for one of the next day.
  for (size_t i = 0; i < records_.size(); ++i) {
    TScheduleRecord& record = records_[i];
    if (record.Done || !record.Next) continue;
    const DateTime moment = *record.Next;
    if (record.Kind == "SR" && !record.Warned && moment + -warning < now) {
      server.ShutdownWarningDue = true;
      record.Warned = true;
    }
    if (!(moment < now)) continue;
    if (record.Frequency == "O") {
      record.Done = true;
      once_fired = true;
    } else {
      // Occurrences missed while the clock jumped fire once, not once each.
      record.Next = FirstOccurrence(record, now);
      record.Warned = false;
    }
    if (record.Kind == "SR") {
      server.ScheduledShutdownDue = true;
      server.ScheduleIndex = static_cast<int32_t>(i);
      fired_shutdown_ = record;
      // One shutdown at a time: a second one due now has nothing left to shut down.
      break;
    }
    Fire(i);
  }
  last_check_ = now;
  if (once_fired) DropFiredOnceItems();
  if (now.Weekday() + 1 != stored_weekday_) ReloadSchedule();
}

void Scheduler::DropFiredOnceItems() {
  // Out of the file at once, so a server started again soon after cannot fire them a second time.
  std::erase_if(records_, [](const TScheduleRecord& record) { return record.Done; });
  SaveSchedule();
}

void Scheduler::Fire(size_t index) {
  const std::string kind = records_[index].Kind;
  if (kind == "BT") {
    const bool modular = context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber == kProtocolModular;
    context_.Requests.QueueInternalRequest(modular ? kRequestModularBatteryTest : kRequestBatteryTest, {});
  } else if (kind == "AT" && context_.Clients) {
    // Through the client check, so the test state and the refusal log line are those of a client's
    // request; no connection means the server itself asks.
    context_.Clients->DispatchRequest(kStartCalibrationTest, std::nullopt, true);
  }
}

const TScheduleRecord* Scheduler::ScheduledRecord() const { return fired_shutdown_ ? &*fired_shutdown_ : nullptr; }

bool TScheduleRecord::HasRestart() const { return !IsRestartOff(RestartDay) && !IsRestartOff(RestartTime); }

bool TScheduleRecord::SameItem(const TScheduleRecord& other) const {
  return Kind == other.Kind && Frequency == other.Frequency && Day == other.Day && Time == other.Time &&
         RestartDay == other.RestartDay && RestartTime == other.RestartTime;
}

std::optional<DateTime> FirstOccurrence(const TScheduleRecord& record, DateTime from) {
  const int64_t time = TimeOfDayMs(record.Time);
  if (record.Frequency == "O") return DateTime::FromMilliseconds(DayStartMs(record.Day) + time);
  const int64_t first = from.DayNumber() * DateTime::kMsPerDay + time;
  if (record.Frequency == "D") {
    return DateTime::FromMilliseconds(first < from.Milliseconds() ? first + DateTime::kMsPerDay : first);
  }
  const int64_t weekday = Number(record.Day);
  if (weekday < 0 || weekday >= kDaysPerWeek) return std::nullopt;
  const int64_t days_ahead = (weekday - from.Weekday() + kDaysPerWeek) % kDaysPerWeek;
  int64_t moment = first + days_ahead * DateTime::kMsPerDay;
  if (moment < from.Milliseconds()) moment += kDaysPerWeek * DateTime::kMsPerDay;
  return DateTime::FromMilliseconds(moment);
}

std::optional<DateTime> Scheduler::ComputeRestart(TStringList& parameters) const {
  const TScheduleRecord* record = ScheduledRecord();
  if (record == nullptr || !record->HasRestart()) return std::nullopt;

  const DateTime now = context_.env.wall.Now();
  const int64_t today = now.DayNumber();
  const int64_t restart_day = ClampedDay(Number(record->RestartDay));
  const int64_t restart_time = TimeOfDayMs(record->RestartTime);
  int64_t day = today;
  int64_t period_days = 1;
  if (record->Frequency == "O") {
    day = restart_day;
  } else if (record->Frequency == "D") {
    // A restart time before the shutdown time means the next morning.
    if (TimeOfDayMs(record->Time) > restart_time) day = today + 1;
  } else {
    const int64_t weekday = now.Weekday();
    day = restart_day < weekday ? today + (7 - (weekday - restart_day)) : today + (restart_day - weekday);
    period_days = kDaysPerWeek;
  }
  // A moment already past (a weekly restart earlier on the shutdown's own weekday, a shutdown that
  // came late) would leave the UPS off: the item's next such moment instead.
  const int64_t moment =
      RolledPast(day * DateTime::kMsPerDay + restart_time, now.Milliseconds(), period_days * DateTime::kMsPerDay);
  const DateTime restart = DateTime::FromMilliseconds(moment);

  // Elapsed time, not the difference of two wall-clock readings: the UPS counts real seconds.
  const platform::WallClock& wall = context_.env.wall;
  const int64_t elapsed =
      (restart.Milliseconds() - wall.UtcOffsetMs(restart)) - (now.Milliseconds() - wall.UtcOffsetMs(now));
  int64_t delay = elapsed / kMsPerSecond - context_.Setup.UpsSetup.UpsOffDelay;
  // The UPS needs some restart delay; zero would leave it off.
  if (delay <= 0) delay = 1;
  // A longer delay would reach the UPS as a malformed or wrapped field and restart it at random.
  const int64_t longest = MaxRestartDelaySeconds(context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber);
  if (delay > longest) {
    const std::string text = FillParams(LanguageTextOr(context_.Setup, "LOGS", kDelayLimitedKey, kDelayLimitedText),
                                        {std::to_string(delay), std::to_string(longest)});
    WriteLogLine(context_, context_.SchedulerPrefix + text);
    delay = longest;
  }
  parameters.push_back(std::to_string(delay));
  return restart;
}
void Scheduler::AppendRestart(TStringList& parameters) const {
  const TSetupData& setup = context_.Setup;
  const std::optional<DateTime> restart = ComputeRestart(parameters);
  if (!restart) {
    parameters.emplace_back(kNoRestart);
    WriteLogLine(context_, context_.SchedulerPrefix + LanguageText(setup, "LOGS", "SchedulerNoRestart"));
    return;
  }
  std::string text = LanguageText(setup, "LOGS", "SchedulerRestartDateTime");
  text = FillParam(text, FormatDateTime("dd/MM/yyyy", context_.Format, *restart));
  text = FillParam(text, FormatDateTime("hh:mm:ss", context_.Format, *restart));
  WriteLogLine(context_, context_.SchedulerPrefix + text);
}

}  // namespace keep::server

// The scheduler: planned shutdowns (with an optional restart of the UPS), battery tests and
// calibration tests, once on a date, every day or every week on a weekday. The plan lives in
// "data/sch_data.dat" below the installation folder; it is loaded at start, again at every change of
// weekday and whenever a client stores a new file, and checked by the main cycle every 30 ticks.
//
// Main loop only: the object reads and writes the server context (flags, request queue, client
// server, log) without locks. It never throws; any file content is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/text_lists.h"

namespace keep::server {

struct ServerContext;

inline constexpr char kScheduleFile[] = "data/sch_data.dat";
// Main-cycle ticks between two checks of the plan.
inline constexpr uint16_t kScheduleCheckTicks = 30;
// Most bytes of the plan file that are read: far beyond any real plan, and the largest file a client
// may upload, so a damaged or foreign file cannot exhaust memory.
inline constexpr size_t kMaxScheduleFileBytes = 1024 * 1024;

// One planned item, its six fields as the file holds them (trimmed) plus the run-time flags.
struct TScheduleRecord {
  std::string Kind;         // "SR" shutdown, "BT" battery test, "AT" calibration test
  std::string Frequency;    // "O" once, "D" daily, "W" weekly
  std::string Day;          // "O": day number; "W": weekday 0 = Sunday .. 6; "D": unused
  std::string Time;         // seconds after midnight, 0 .. 86399
  std::string RestartDay;   // "-1": no restart; else as Day ("D": any other number)
  std::string RestartTime;  // seconds after midnight, or "-1": no restart
  bool Warned = false;      // the shutdown warning of this item was given
  bool Done = false;        // fired, or its moment had passed at load

  // Neither restart field is -1 (compared as numbers, so "-01" also means no restart).
  bool HasRestart() const;
};

// The file line of `record`: the six fields joined with "|".
std::string ScheduleLine(const TScheduleRecord& record);

class Scheduler {
 public:
  // `context` must outlive the scheduler. The plan starts empty; call ReloadSchedule.
  explicit Scheduler(ServerContext& context);
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Remembers today's weekday, loads the file and writes it back, so the items dropped at load
  // disappear from it. The file is left alone when it exists but could not be read.
  void ReloadSchedule();
  // Builds the plan from the file: invalid lines (times outside a day included) are skipped, a once
  // item whose moment has passed is dropped, and a daily or weekly item whose time of day has passed
  // today is marked Done. A missing file is an empty plan. False when the file exists but cannot be
  // read (the plan is then empty).
  bool LoadSchedule();
  // Writes the plan, one line per item in order (CR LF), replacing the file in one rename; deletes the
  // file when the plan is empty. A failed write is dropped.
  void SaveSchedule() const;

  // The main-cycle step, to run at every tick: does nothing while the plan is empty; otherwise acts
  // every kScheduleCheckTicks ticks (TServerData::ScheduleCounter). It reloads the plan when the
  // weekday has changed, then for each item not Done: sets ShutdownWarningDue once for a shutdown
  // whose warning time has come, and fires an item whose moment has passed: a battery test is queued
  // (402 for protocol 4, else 400), a calibration test started through the client server as the
  // server's own request, and a shutdown sets ScheduledShutdownDue and ScheduleIndex, after which the
  // remaining items wait for the next check.
  void CheckSchedule();

  // The item at TServerData::ScheduleIndex; null when there is none (the plan changed since).
  const TScheduleRecord* ScheduledRecord() const;

  // For the item at ScheduleIndex with a restart: appends the UPS's restart delay in seconds (the
  // distance from now to the restart, less UpsOffDelay, at least 1) to `parameters` and returns the
  // restart moment. Nothing is appended and nullopt returned when there is no such item or it has
  // no restart.
  std::optional<DateTime> ComputeRestart(TStringList& parameters) const;

  // The restart part of a scheduled shutdown's switch-off request: appends the restart delay and logs
  // the restart date and time (LOGS "SchedulerRestartDateTime"), or, for an item without restart (or
  // no item), appends "@" and logs LOGS "SchedulerNoRestart"; both lines carry SchedulerPrefix.
  void AppendRestart(TStringList& parameters) const;

  const std::vector<TScheduleRecord>& Records() const { return records_; }
  bool Empty() const { return records_.empty(); }
  // 1 = Sunday .. 7 = Saturday, as taken at the last reload; 0 before the first.
  int StoredWeekday() const { return stored_weekday_; }

 private:
  std::string FileName() const;
  // Appends `record` unless it is a once item already past; marks it Done when its time has passed.
  void AddLoaded(TScheduleRecord record, DateTime now);
  void Fire(size_t index);

  ServerContext& context_;
  std::vector<TScheduleRecord> records_;
  int stored_weekday_ = 0;
};

}  // namespace keep::server

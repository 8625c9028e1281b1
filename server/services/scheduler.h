// The scheduler: planned shutdowns (with an optional restart of the UPS), battery tests and
// calibration tests, once on a date, every day or every week on a weekday. The plan lives in
// "data/sch_data.dat" below the installation folder; it is loaded at start, again at every change of
// weekday and whenever a client stores a new file, and checked every 30 seconds by a timer of its
// own, which runs whether or not the UPS link is up.
//
// Every item carries the moment of its next occurrence not yet handled, so a check fires what came
// due since the one before it, whatever the wall clock did in between (midnight, a daylight-saving
// change, a reload, a late check): each occurrence fires once, and a clock put back fires nothing
// again.
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
#include "platform/event_loop.h"

namespace keep::server {

struct ServerContext;

inline constexpr char kScheduleFile[] = "data/sch_data.dat";
// Time between two checks of the plan.
inline constexpr int64_t kScheduleCheckMs = 30'000;
// Most bytes of the plan file that are read: far beyond any real plan, and the largest file a client
// may upload, so a damaged or foreign file cannot exhaust memory.
inline constexpr size_t kMaxScheduleFileBytes = 1024 * 1024;

// One planned item, its six fields as the file holds them (trimmed) plus the run-time state.
struct TScheduleRecord {
  std::string Kind;         // "SR" shutdown, "BT" battery test, "AT" calibration test
  std::string Frequency;    // "O" once, "D" daily, "W" weekly
  std::string Day;          // "O": day number; "W": weekday 0 = Sunday .. 6; "D": unused
  std::string Time;         // seconds after midnight, 0 .. 86399
  std::string RestartDay;   // "-1": no restart; else as Day ("D": any other number)
  std::string RestartTime;  // seconds after midnight, or "-1": no restart
  bool Warned = false;      // the shutdown warning of the next occurrence was given
  bool Done = false;        // a once item has fired
  // The local moment of the next occurrence not yet handled; empty for a weekday no week has.
  std::optional<DateTime> Next;

  // Neither restart field is -1 (compared as numbers, so "-01" also means no restart).
  bool HasRestart() const;
  // The same six fields (the run-time state aside).
  bool SameItem(const TScheduleRecord& other) const;
};

// The file line of `record`: the six fields joined with "|".
std::string ScheduleLine(const TScheduleRecord& record);

// The first moment at or after `from` at which `record` occurs: a once item's own moment (even when
// earlier), a daily item's time on the day of `from` or the next, a weekly item's on its next
// weekday. Empty for a weekly item whose day is no weekday.
std::optional<DateTime> FirstOccurrence(const TScheduleRecord& record, DateTime from);

class Scheduler {
 public:
  // `context` (and its loop) must outlive the scheduler. The plan starts empty and the check timer
  // stopped: call ReloadSchedule, then Start.
  explicit Scheduler(ServerContext& context);
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Starts the check timer: the first check comes kScheduleCheckMs from now.
  void Start();

  // Remembers today's weekday, loads the file and writes it back, so the items dropped at load
  // disappear from it. The file is left alone when it exists but could not be read.
  void ReloadSchedule();
  // Builds the plan from the file. Invalid lines (times outside a day included) are skipped. An item
  // that the plan already held unchanged keeps its state (what fired stays fired, a warning given
  // stays given); a new item takes its next occurrence from the last check (from one check period
  // before now at the first load), so nothing that came due since then is lost, and a once item
  // whose moment is earlier than that is dropped. A missing file is an empty plan. False when the
  // file exists but cannot be read (the plan is then empty).
  bool LoadSchedule();
  // Writes the plan, one line per item in order (CR LF), replacing the file in one rename; deletes the
  // file when the plan is empty. A failed write is dropped.
  void SaveSchedule() const;

  // The check (run by the timer; tests may call it directly). For each item in order whose next
  // occurrence is earlier than now: a shutdown's warning sets ShutdownWarningDue once when the
  // occurrence comes within SrvDownWarningTime; an occurrence that has passed fires: a battery test is
  // queued (402 for protocol 4, else 400), a calibration test started through the client server as
  // the server's own request, and a shutdown sets ScheduledShutdownDue and ScheduleIndex, after which
  // the remaining items wait for the next check. A once item that fired leaves the plan and the file;
  // a daily or weekly one moves on to its next occurrence after now. Then, when the weekday has
  // changed, the plan is reloaded.
  void CheckSchedule();

  // The shutdown item that fired last (a copy, so reloads cannot take it away); null before any.
  const TScheduleRecord* ScheduledRecord() const;

  // For the item of ScheduledRecord with a restart: appends the UPS's restart delay in seconds to
  // `parameters` and returns the restart moment. The moment is the item's next restart time after
  // now (a restart already past would leave the UPS off); the delay is the elapsed time to it (a
  // daylight-saving change between counts as it passes), less UpsOffDelay, at least 1, and at most
  // what the protocol's field carries (a cut is logged). Nothing is appended and nullopt returned
  // when there is no such item or it has no restart.
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
  // The moment from which new items count their occurrences.
  DateTime Reference() const;
  // Appends `record` with its state: the state of an unchanged item of `previous` (taken from it),
  // else its first occurrence from `from`; a once item already fired or earlier than `from` is
  // dropped.
  void AddLoaded(TScheduleRecord record, std::vector<TScheduleRecord>& previous, DateTime from);
  void Fire(size_t index);
  // Takes the once items that fired out of the plan and the file.
  void DropFiredOnceItems();

  ServerContext& context_;
  std::vector<TScheduleRecord> records_;
  int stored_weekday_ = 0;
  // The wall time of the last check; empty before the first.
  std::optional<DateTime> last_check_;
  std::optional<TScheduleRecord> fired_shutdown_;
  platform::Timer timer_;
};

}  // namespace keep::server

// The scheduler on a test server whose wall clock the tests set: loading and writing back the plan,
// the 30-second check with its warning and its three kinds of item, and the restart of the UPS after
// a scheduled shutdown.
#include "server/services/scheduler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/services/client_server.h"
#include "server/ups/megatec_driver.h"
#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

// Tuesday 8 December 2026 (weekday 2) has day number 46364.
constexpr int64_t kTuesday = 46364;
constexpr int kTuesdayWeekday = 2;

DateTime At(int day, int hour, int minute, int second, int millisecond = 0) {
  return *DateTime::FromCivil({2026, 12, day, hour, minute, second, millisecond});
}

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context.SchedulerPrefix = "SCHEDULER - ";
    context.Setup.UpsSetup.UpsOffDelay = 180;
    context.Setup.ServerSetup.SrvDownWarningTime = 300;
    test::WriteFileText(context.Setup.LanguageFile,
                        "[LOGS]\n"
                        "SchedulerNoRestart=The UPS will not be restarted\n"
                        "SchedulerRestartDateTime=The UPS will restart on $ at $\n");
    scheduler_ = std::make_unique<Scheduler>(context);
    scheduler_->Start();
  }

  std::string PlanFile() const { return env_.install() + kScheduleFile; }
  void WritePlan(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    test::WriteFileText(PlanFile(), text);
  }
  std::string Plan() const { return test::ReadFileText(PlanFile()); }

  void SetNow(DateTime when) { env_.clock().SetWall(when); }
  // Writes the plan and loads it at `when`.
  void LoadAt(DateTime when, const std::vector<std::string>& lines) {
    SetNow(when);
    WritePlan(lines);
    scheduler_->ReloadSchedule();
  }
  // A second passes; the scheduler's timer checks the plan every 30 of them.
  void Tick() {
    env_.clock().AdvanceMs(1000);
    env_.loop().RunDue();
  }
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) Tick();
  }
  // Ticks `seconds` times and returns the wall times at which an item fired (a test queued or a
  // shutdown due), taking each away so that a second firing shows.
  std::vector<DateTime> FiringsOver(int seconds) {
    std::vector<DateTime> firings;
    for (int i = 0; i < seconds; ++i) {
      Tick();
      if (!Queued().empty() || Server().ScheduledShutdownDue) {
        firings.push_back(env_.clock().Now());
        env_.context().Requests.Clear();
        Server().ScheduledShutdownDue = false;
      }
    }
    return firings;
  }
  std::optional<DateTime> Next(size_t index) const { return scheduler_->Records().at(index).Next; }
  // Ticks until `condition` holds, at most `limit` ticks; the moment it first held, or nullopt.
  template <typename Condition>
  std::optional<DateTime> TickUntil(Condition condition, int limit) {
    for (int i = 0; i < limit; ++i) {
      Tick();
      if (condition()) return env_.clock().Now();
    }
    return std::nullopt;
  }

  const TStringList& Queued() { return env_.context().Requests.Items(); }
  TServerData& Server() { return env_.context().Server; }

  test::ServerTestEnv env_;
  std::unique_ptr<Scheduler> scheduler_;
};

// --- Loading and writing back ---

TEST_F(SchedulerTest, InvalidLinesAndTimesOutsideADayAreDroppedFromTheFile) {
  LoadAt(At(8, 6, 0, 0),
         {"SR|D|0|81000|-1|-1", "SR|X|0|81000|-1|-1", "BT|D|0|86400|-1|-1", "garbage", "AT|W|3|3600|-1|-1",
          "SR|D|0|100|0|86400", "SR|D|0|100|0|-5", " BT | O | 46400 | 7 | -1 | -1 ", "SR|W|5|7200|6|3600|extra", ""});
  ASSERT_EQ(4u, scheduler_->Records().size());
  // Fields are kept trimmed and only the six of the format are written back.
  EXPECT_EQ("SR|D|0|81000|-1|-1\r\nAT|W|3|3600|-1|-1\r\nBT|O|46400|7|-1|-1\r\nSR|W|5|7200|6|3600\r\n", Plan());
  EXPECT_EQ(kTuesdayWeekday + 1, scheduler_->StoredWeekday());
}

TEST_F(SchedulerTest, AOnceItemMissedWhileStoppedIsRemovedWithoutFiring) {
  const std::string missed = "SR|O|" + std::to_string(kTuesday - 1) + "|43200|-1|-1";
  const std::string later_today = "BT|O|" + std::to_string(kTuesday) + "|50000|-1|-1";
  LoadAt(At(8, 12, 0, 0), {missed, later_today});
  EXPECT_EQ(later_today + "\r\n", Plan());
  ASSERT_EQ(1u, scheduler_->Records().size());
  EXPECT_FALSE(scheduler_->Records()[0].Done);

  // Missed today by more than a check period: gone as well, and nothing ever fires.
  LoadAt(At(8, 12, 0, 31), {"SR|O|" + std::to_string(kTuesday) + "|43200|-1|-1"});
  EXPECT_TRUE(scheduler_->Empty());
  EXPECT_FALSE(std::filesystem::exists(PlanFile())) << "an empty plan leaves no file";
  for (int i = 0; i < 60; ++i) Tick();
  EXPECT_FALSE(Server().ScheduledShutdownDue);
  EXPECT_FALSE(Server().ShutdownWarningDue);
}

TEST_F(SchedulerTest, DailyAndWeeklyItemsCountFromTheirNextOccurrence) {
  LoadAt(At(8, 9, 0, 0), {"BT|D|0|28800|-1|-1", "BT|D|0|36000|-1|-1", "BT|W|2|28800|-1|-1", "BT|W|1|28800|-1|-1",
                          "BT|W|3|28800|-1|-1", "BT|D|0|32390|-1|-1", "BT|W|7|28800|-1|-1"});
  // 08:00 passed: tomorrow; 10:00 today; weekly on Tuesday (today) and Monday passed: next week;
  // Wednesday tomorrow; 08:59:50 came within the last check period before the start: still today;
  // weekday 7 never comes.
  EXPECT_EQ(At(9, 8, 0, 0), Next(0));
  EXPECT_EQ(At(8, 10, 0, 0), Next(1));
  EXPECT_EQ(At(15, 8, 0, 0), Next(2));
  EXPECT_EQ(At(14, 8, 0, 0), Next(3));
  EXPECT_EQ(At(9, 8, 0, 0), Next(4));
  EXPECT_EQ(At(8, 8, 59, 50), Next(5));
  EXPECT_EQ(std::nullopt, Next(6));
}

TEST_F(SchedulerTest, AMissingFileIsAnEmptyPlanAndStaysMissing) {
  scheduler_->ReloadSchedule();
  EXPECT_TRUE(scheduler_->Empty());
  EXPECT_FALSE(std::filesystem::exists(PlanFile()));
}

TEST_F(SchedulerTest, SomethingElseUnderThePlansNameIsNeitherReadNorDeleted) {
  std::filesystem::create_directories(PlanFile());
  scheduler_->ReloadSchedule();
  EXPECT_TRUE(scheduler_->Empty());
  EXPECT_TRUE(std::filesystem::is_directory(PlanFile()));
}

TEST_F(SchedulerTest, AnOversizedFileIsReadUpToTheLastWholeLineWithinTheLimit) {
  const std::string line = "BT|D|0|50000|-1|-1\r\n";  // 20 bytes
  std::string text;
  while (text.size() < kMaxScheduleFileBytes) text += line;
  // The limit falls inside a line that would still pass the check when cut (time "5").
  text = text.substr(0, kMaxScheduleFileBytes - kMaxScheduleFileBytes % line.size()) + "BT|D|0|50000|-1|-1\r\n";
  ASSERT_GT(text.size(), kMaxScheduleFileBytes);
  test::WriteFileText(PlanFile(), text);
  SetNow(At(8, 6, 0, 0));
  ASSERT_TRUE(scheduler_->LoadSchedule());
  EXPECT_EQ(kMaxScheduleFileBytes / line.size(), scheduler_->Records().size());
  for (const TScheduleRecord& record : scheduler_->Records()) ASSERT_EQ("50000", record.Time);
}

TEST_F(SchedulerTest, WithoutAnInstallationFolderNothingIsReadOrWritten) {
  WritePlan({"BT|D|0|50000|-1|-1"});
  env_.context().Setup.InstallPath.clear();
  scheduler_->ReloadSchedule();
  EXPECT_TRUE(scheduler_->Empty());
  EXPECT_EQ("BT|D|0|50000|-1|-1\r\n", Plan());
}

// --- The check ---

TEST_F(SchedulerTest, TheCheckActsOnlyEveryThirtyTicks) {
  LoadAt(At(8, 7, 59, 50), {"BT|D|0|28800|-1|-1"});
  // At 08:00:00 the item is due, but the 30th tick comes at 08:00:20.
  for (int i = 0; i < 29; ++i) Tick();
  EXPECT_TRUE(Queued().empty());
  Tick();
  EXPECT_EQ((TStringList{"@|<|400|>"}), Queued());
  EXPECT_EQ(At(9, 8, 0, 0), Next(0));
  env_.context().Requests.Clear();
  Ticks(120);
  EXPECT_TRUE(Queued().empty()) << "fires once a day";
}

TEST_F(SchedulerTest, TheBatteryTestOfProtocolFourHasItsOwnCode) {
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  LoadAt(At(8, 7, 59, 50), {"BT|D|0|28800|-1|-1"});
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ((TStringList{"@|<|402|>"}), Queued());
}

TEST_F(SchedulerTest, TheCalibrationTestStartsAsTheServersOwnRequest) {
  ServerContext& context = env_.context();
  context.Clients = std::make_unique<ClientServer>(context);
  context.Clients->connected = [] { return true; };
  context.Ups.Main.CalibrationState = "0";
  context.Ups.Main.UpsStatus = "0";
  context.Setup.UpsSetup.UpsBatteryCapacity = 100.0f;
  context.Requests.QueueInternalRequest(101, {});
  LoadAt(At(8, 7, 59, 50), {"AT|D|0|28800|-1|-1"});
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ((TStringList{"@|<|401|1|>", "@|<|101|>"}), Queued()) << "at the front";
  EXPECT_EQ("1", context.Ups.Test.AutonomyTestState);
}

TEST_F(SchedulerTest, ShutdownAtTenThirtyIsAnnouncedAfterTwentyFiveAndDueAfterThirty) {
  // Loaded at 22:20:07 so the checks fall at hh:mm:37 and hh:mm:07.
  LoadAt(At(8, 22, 20, 7), {"SR|D|0|81000|-1|-1"});
  const auto warned = TickUntil([&] { return Server().ShutdownWarningDue; }, 1200);
  ASSERT_TRUE(warned.has_value());
  EXPECT_EQ(At(8, 22, 25, 7), *warned);
  EXPECT_FALSE(Server().ScheduledShutdownDue);
  // The evaluation takes the warning; it is not given twice.
  Server().ShutdownWarningDue = false;
  const auto due = TickUntil([&] { return Server().ScheduledShutdownDue; }, 1200);
  ASSERT_TRUE(due.has_value());
  EXPECT_EQ(At(8, 22, 30, 7), *due);
  EXPECT_FALSE(Server().ShutdownWarningDue);
  EXPECT_EQ(0, Server().ScheduleIndex);
}

TEST_F(SchedulerTest, OnlyTheFirstOfTwoShutdownsDueInOneCheckIsTaken) {
  LoadAt(At(8, 9, 59, 50), {"BT|D|0|80000|-1|-1", "SR|D|0|36000|-1|-1", "BT|D|0|36001|-1|-1", "SR|D|0|36005|-1|-1"});
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_TRUE(Server().ScheduledShutdownDue);
  EXPECT_EQ(1, Server().ScheduleIndex);
  EXPECT_EQ(At(9, 10, 0, 0), Next(1)) << "fired";
  EXPECT_EQ(At(8, 10, 0, 5), Next(3)) << "left for the next check";
  EXPECT_TRUE(Queued().empty()) << "the scan stopped at the shutdown";
  // The next check goes on where this one stopped.
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ(3, Server().ScheduleIndex);
  EXPECT_EQ((TStringList{"@|<|400|>"}), Queued());
}

TEST_F(SchedulerTest, AOnceItemFiresOnItsDateAndAWeeklyOneOnlyOnItsWeekday) {
  LoadAt(At(8, 9, 59, 50), {"BT|O|" + std::to_string(kTuesday + 1) + "|36000|-1|-1", "SR|W|3|36000|-1|-1"});
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_TRUE(Queued().empty());
  EXPECT_FALSE(Server().ShutdownWarningDue);
  EXPECT_FALSE(Server().ScheduledShutdownDue);

  // Wednesday: the first check reloads the plan for the new weekday and gives the warning; the item
  // fires in the first check after 10:00.
  SetNow(At(9, 9, 59, 0));
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ(kTuesdayWeekday + 2, scheduler_->StoredWeekday());
  EXPECT_TRUE(Server().ShutdownWarningDue);
  EXPECT_FALSE(Server().ScheduledShutdownDue);
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_TRUE(Queued().empty()) << "10:00:00 is not past 10:00:00";
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ((TStringList{"@|<|400|>"}), Queued());
  EXPECT_TRUE(Server().ScheduledShutdownDue);
  EXPECT_EQ(1, Server().ScheduleIndex);
}

TEST_F(SchedulerTest, ADailyItemLoadedAfterItsTimeFiresTheNextDayAfterTheWeekdayReload) {
  LoadAt(At(8, 9, 0, 0), {"BT|D|0|28800|-1|-1"});
  SetNow(At(8, 23, 59, 0));
  for (int i = 0; i < 120; ++i) Tick();
  EXPECT_TRUE(Queued().empty()) << "done for Tuesday";
  EXPECT_EQ(At(9, 8, 0, 0), Next(0));
  SetNow(At(9, 7, 59, 0));
  const auto fired = TickUntil([&] { return !Queued().empty(); }, 300);
  ASSERT_TRUE(fired.has_value());
  EXPECT_GT(*fired, At(9, 8, 0, 0));
  EXPECT_LE(*fired, At(9, 8, 0, 30));
}

TEST_F(SchedulerTest, TheWeekdayReloadPicksUpAChangedFile) {
  LoadAt(At(8, 23, 59, 45), {"BT|D|0|36000|-1|-1"});
  WritePlan({"BT|D|0|36000|-1|-1", "AT|D|0|40000|-1|-1", "SR|O|" + std::to_string(kTuesday) + "|1|-1|-1"});
  for (int i = 0; i < 30; ++i) Tick();
  ASSERT_EQ(2u, scheduler_->Records().size());
  EXPECT_EQ("AT", scheduler_->Records()[1].Kind);
  EXPECT_EQ("BT|D|0|36000|-1|-1\r\nAT|D|0|40000|-1|-1\r\n", Plan());
}

// --- The restart after a scheduled shutdown ---

class SchedulerRestartTest : public SchedulerTest {
 protected:
  // Loads `line` (a shutdown on Tuesday at 22:30) as the only item and lets it fire, in the check at
  // 22:30:20.
  void Shutdown(const std::string& line) {
    LoadAt(At(8, 22, 29, 50), {line});
    ASSERT_EQ(1u, scheduler_->Records().size());
    Ticks(30);
    ASSERT_TRUE(Server().ScheduledShutdownDue);
    ASSERT_NE(nullptr, scheduler_->ScheduledRecord());
  }
  std::optional<DateTime> Restart() {
    parameters_ = {"180"};
    return scheduler_->ComputeRestart(parameters_);
  }

  TStringList parameters_;
};

TEST_F(SchedulerRestartTest, ADailyRestartBeforeTheShutdownTimeIsTomorrow) {
  Shutdown("SR|D|0|81000|0|21600");
  SetNow(At(8, 22, 30, 30, 750));
  EXPECT_EQ(At(9, 6, 0, 0), Restart());
  // 7 h 29 min 29.25 s, fractions dropped, less the switch-off delay.
  EXPECT_EQ((TStringList{"180", std::to_string(26969 - 180)}), parameters_);
}

TEST_F(SchedulerRestartTest, ADailyRestartAfterTheShutdownTimeIsToday) {
  Shutdown("SR|D|0|81000|0|82800");
  SetNow(At(8, 22, 30, 30));
  EXPECT_EQ(At(8, 23, 0, 0), Restart());
  EXPECT_EQ((TStringList{"180", std::to_string(1770 - 180)}), parameters_);
}

TEST_F(SchedulerRestartTest, AWeeklyRestartEarlierOnTheShutdownsOwnWeekdayIsNextWeek) {
  Shutdown("SR|W|2|81000|2|72000");
  SetNow(At(8, 22, 30, 30));
  // Earlier today has passed: a restart there would leave the UPS off.
  EXPECT_EQ(At(15, 20, 0, 0), Restart());
  EXPECT_EQ((TStringList{"180", std::to_string(7 * 86400 - 9030 - 180)}), parameters_);
}

TEST_F(SchedulerRestartTest, ARestartThatAShutdownComingLateHasPassedMovesOn) {
  // A daily restart at 23:00 for a shutdown at 22:30 that came only at 23:10: tomorrow at 23:00; a
  // once item's restart date already past: the next such time of day.
  Shutdown("SR|D|0|81000|0|82800");
  SetNow(At(8, 23, 10, 0));
  EXPECT_EQ(At(9, 23, 0, 0), Restart());
  Shutdown("SR|O|46364|81000|46360|3600");
  SetNow(At(8, 23, 10, 0));
  EXPECT_EQ(At(9, 1, 0, 0), Restart());
}

TEST_F(SchedulerRestartTest, AWeeklyRestartOnAnEarlierWeekdayIsNextWeek) {
  Shutdown("SR|W|2|81000|1|28800");
  SetNow(At(8, 22, 30, 0));
  EXPECT_EQ(At(14, 8, 0, 0), Restart());
  Shutdown("SR|W|2|81000|5|28800");
  SetNow(At(8, 22, 30, 0));
  EXPECT_EQ(At(11, 8, 0, 0), Restart());
}

TEST_F(SchedulerRestartTest, AOnceRestartIsOnItsDate) {
  Shutdown("SR|O|46364|81000|46366|3600");
  SetNow(At(8, 22, 30, 0));
  EXPECT_EQ(At(10, 1, 0, 0), Restart());
  EXPECT_EQ((TStringList{"180", std::to_string(95400 - 180)}), parameters_);
}

TEST_F(SchedulerRestartTest, TheDelayNeverFallsBelowOneSecond) {
  Shutdown("SR|D|0|81000|0|81060");
  SetNow(At(8, 22, 30, 0));
  ASSERT_TRUE(Restart().has_value());
  EXPECT_EQ((TStringList{"180", "1"}), parameters_) << "60 s less 180 s";
  SetNow(At(8, 22, 28, 0));
  ASSERT_TRUE(Restart().has_value());
  EXPECT_EQ((TStringList{"180", "1"}), parameters_) << "exactly the switch-off delay";
}

TEST_F(SchedulerRestartTest, ADelayBeyondWhatTheProtocolCarriesIsCutToItWithALogLine) {
  // Megatec's restart field holds four digits of minutes: a restart a week away is cut to 9999.
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
  Shutdown("SR|O|46364|81000|46371|81000");
  SetNow(At(8, 22, 30, 20));
  EXPECT_EQ(At(15, 22, 30, 0), Restart());
  EXPECT_EQ((TStringList{"180", "599940"}), parameters_);
  EXPECT_EQ("S03R9999", MegatecShutdownQuery({"2", parameters_[0], parameters_[1]}));
  EXPECT_EQ((std::vector<std::string>{"SCHEDULER - The UPS cannot wait 604600 seconds before restarting: it restarts "
                                      "after 599940 seconds"}),
            env_.LogTexts());

  // A day number far beyond the calendar, on a protocol that counts seconds in 32 bits.
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  Shutdown("SR|O|46364|81000|9223372036854775807|3600");
  SetNow(At(8, 22, 30, 20));
  const std::optional<DateTime> restart = Restart();
  ASSERT_TRUE(restart.has_value());
  EXPECT_GT(*restart, At(31, 0, 0, 0));
  EXPECT_EQ((TStringList{"180", "2147483647"}), parameters_);
  EXPECT_EQ(2u, env_.LogTexts().size());
}

TEST_F(SchedulerRestartTest, ARestartAcrossADaylightSavingChangeCountsElapsedTime) {
  // Clocks go back an hour at 03:00 on Wednesday: from 22:30 to 06:00 local is 8.5 hours of real
  // time; and forward an hour at 02:00 on Thursday night: 22:30 to 06:00 is 6.5 hours.
  const DateTime fall_back = At(9, 3, 0, 0);
  const DateTime spring_forward = At(10, 2, 0, 0);
  env_.clock().SetUtcOffsets([&](DateTime local) -> int64_t {
    if (local < fall_back) return 2 * 3600 * 1000;
    if (local < spring_forward) return 3600 * 1000;
    return 2 * 3600 * 1000;
  });
  Shutdown("SR|D|0|81000|0|21600");
  SetNow(At(8, 22, 30, 0));
  EXPECT_EQ(At(9, 6, 0, 0), Restart());
  EXPECT_EQ((TStringList{"180", std::to_string(8 * 3600 + 1800 - 180)}), parameters_);
  SetNow(At(9, 22, 30, 0));
  EXPECT_EQ(At(10, 6, 0, 0), Restart());
  EXPECT_EQ((TStringList{"180", std::to_string(6 * 3600 + 1800 - 180)}), parameters_);
}

TEST_F(SchedulerRestartTest, TheRestartIsLoggedWithItsDateAndTime) {
  Shutdown("SR|D|0|81000|0|21600");
  SetNow(At(8, 22, 30, 30));
  TStringList parameters{"180"};
  scheduler_->AppendRestart(parameters);
  EXPECT_EQ((TStringList{"180", "26790"}), parameters);
  EXPECT_EQ("08/12/2026 22:30:30  SCHEDULER - The UPS will restart on 09/12/2026 at 06:00:00\r\n", env_.LogText());
}

TEST_F(SchedulerRestartTest, AnItemWithoutRestartKeepsTheUpsOff) {
  for (const std::string line :
       {"SR|D|0|81000|-1|-1", "SR|D|0|81000|0|-1", "SR|D|0|81000|-1|3600", "SR|D|0|81000|-01|3600"}) {
    Shutdown(line);
    EXPECT_FALSE(Restart().has_value()) << line;
    EXPECT_EQ((TStringList{"180"}), parameters_) << line;
  }
  TStringList parameters{"180"};
  scheduler_->AppendRestart(parameters);
  EXPECT_EQ((TStringList{"180", "@"}), parameters);
  EXPECT_EQ("08/12/2026 22:30:20  SCHEDULER - The UPS will not be restarted\r\n", env_.LogText());
}

TEST_F(SchedulerRestartTest, TheShutdownKeepsItsRestartWhenThePlanChangesBeforeIt) {
  TStringList parameters{"180"};
  scheduler_->AppendRestart(parameters);
  EXPECT_EQ((TStringList{"180", "@"}), parameters) << "no shutdown has fired";

  // A client's new plan arriving between the check and the shutdown.
  Shutdown("SR|D|0|81000|0|21600");
  WritePlan({"BT|D|0|3600|-1|-1"});
  scheduler_->ReloadSchedule();
  SetNow(At(8, 22, 30, 30));
  EXPECT_EQ(At(9, 6, 0, 0), Restart());
}

// --- Nothing lost, nothing twice, whatever the clock does ---

constexpr char kMidnightItems[][32] = {"SR|O|46364|86390|-1|-1", "SR|D|0|86390|-1|-1", "BT|W|2|86390|-1|-1"};

TEST_F(SchedulerTest, AnItemDueInTheLastSecondsOfTheDayFiresOnceAcrossMidnight) {
  for (const char* line : kMidnightItems) {
    // Loaded Tuesday 23:59:00: the checks fall at 23:59:30 and 00:00:00, the reload for Wednesday
    // comes with the second.
    LoadAt(At(8, 23, 59, 0), {line});
    const std::vector<DateTime> firings = FiringsOver(150);
    ASSERT_EQ(1u, firings.size()) << line;
    EXPECT_EQ(At(9, 0, 0, 0), firings[0]) << line;
    EXPECT_EQ(kTuesdayWeekday + 2, scheduler_->StoredWeekday());
  }
}

TEST_F(SchedulerTest, AClockSpringingForwardAtMidnightStillFiresTheItemOfTheSkippedHour) {
  LoadAt(At(8, 23, 59, 0), {"BT|D|0|1800|-1|-1"});
  Ticks(59);
  // 23:59:59 is followed by 01:00:00.
  env_.clock().AdvanceMs(1000);
  SetNow(At(9, 1, 0, 0));
  env_.loop().RunDue();
  const std::vector<DateTime> firings = FiringsOver(120);
  ASSERT_EQ(1u, firings.size());
  EXPECT_LT(firings[0], At(9, 1, 0, 31));
  EXPECT_EQ(At(10, 0, 30, 0), Next(0)) << "and again the next night";
}

TEST_F(SchedulerTest, AClockFallingBackFiresNothingTwice) {
  LoadAt(At(8, 2, 29, 0), {"BT|D|0|9000|-1|-1", "BT|O|46364|9000|-1|-1", "BT|W|2|9000|-1|-1"});
  std::vector<DateTime> firings = FiringsOver(90);
  ASSERT_EQ(1u, firings.size()) << "the three items fire in one check";
  firings = FiringsOver(30 * 60);
  ASSERT_TRUE(firings.empty());
  // At 03:00 the clocks go back to 02:00, and 02:30 comes a second time.
  SetNow(At(8, 2, 0, 0));
  firings = FiringsOver(90 * 60);
  EXPECT_TRUE(firings.empty());
  EXPECT_EQ(At(9, 2, 30, 0), Next(0));
  EXPECT_EQ(At(15, 2, 30, 0), Next(1)) << "the once item has left the plan";
}

TEST_F(SchedulerTest, AnItemUploadedJustAfterItsTimeStillFires) {
  LoadAt(At(8, 9, 59, 25), {"BT|D|0|3600|-1|-1"});
  Ticks(30);  // the check at 09:59:55
  Ticks(15);
  // A client stores a plan with an item of 10:00:00 at 10:00:10.
  WritePlan({"BT|D|0|3600|-1|-1", "AT|D|0|36000|-1|-1", "BT|O|46364|36000|-1|-1"});
  scheduler_->ReloadSchedule();
  ASSERT_EQ(3u, scheduler_->Records().size()) << "the once item is kept";
  const std::vector<DateTime> firings = FiringsOver(120);
  ASSERT_EQ(1u, firings.size());
  EXPECT_EQ(At(8, 10, 0, 25), firings[0]);
  EXPECT_EQ(At(9, 10, 0, 0), Next(1));
  EXPECT_EQ(2u, scheduler_->Records().size());
  EXPECT_EQ("BT|D|0|3600|-1|-1\r\nAT|D|0|36000|-1|-1\r\n", Plan()) << "the once item that fired leaves the file";
}

TEST_F(SchedulerTest, AServerStartedJustAfterAnItemsTimeStillFiresIt) {
  LoadAt(At(8, 10, 0, 20), {"SR|O|46364|36000|-1|-1"});
  const std::vector<DateTime> firings = FiringsOver(120);
  ASSERT_EQ(1u, firings.size());
  EXPECT_EQ(At(8, 10, 0, 50), firings[0]);
  EXPECT_TRUE(scheduler_->Empty());
}

TEST_F(SchedulerTest, AnUnchangedItemKeepsItsStateThroughANewPlan) {
  // Warned at 22:25:07, then the same plan comes again: no second warning; fired at 22:30:07, then
  // again the same plan: it does not fire twice.
  LoadAt(At(8, 22, 24, 37), {"SR|D|0|81000|-1|-1"});
  Ticks(30);
  ASSERT_TRUE(Server().ShutdownWarningDue);
  Server().ShutdownWarningDue = false;
  scheduler_->ReloadSchedule();
  Ticks(60);
  EXPECT_FALSE(Server().ShutdownWarningDue);
  const std::vector<DateTime> firings = FiringsOver(300);
  ASSERT_EQ(1u, firings.size());
  scheduler_->ReloadSchedule();
  EXPECT_TRUE(FiringsOver(60).empty());
}

}  // namespace
}  // namespace keep::server

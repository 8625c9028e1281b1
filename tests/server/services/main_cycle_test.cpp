// The one-second main cycle on a server context with manual clocks: its periodic requests, the
// battery-time bookkeeping, the countdown and the automatic shutdown, with events watched through
// the "$LOG" action of the real dispatcher.
#include "server/services/main_cycle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/text_lists.h"
#include "platform/platform_info.h"
#include "server/services/request_queue.h"
#include "server/services/status_evaluation.h"
#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

TEST(TickCounter, FiresWhenTheLimitIsReachedAndStartsAgain) {
  uint16_t counter = 0;
  std::vector<bool> fired;
  for (int i = 0; i < 7; ++i) fired.push_back(TickCounter(counter, 3));
  EXPECT_EQ((std::vector<bool>{false, false, true, false, false, true, false}), fired);
  EXPECT_EQ(1, counter);
}

TEST(TickCounter, LimitZeroOrOneFiresEveryTime) {
  for (uint16_t limit : {uint16_t{0}, uint16_t{1}}) {
    uint16_t counter = 0;
    EXPECT_TRUE(TickCounter(counter, limit));
    EXPECT_TRUE(TickCounter(counter, limit));
    EXPECT_EQ(0, counter);
  }
}

TEST(TickCounter, CounterAboveALoweredLimitFiresAtOnce) {
  uint16_t counter = 40;
  EXPECT_TRUE(TickCounter(counter, 10));
  EXPECT_EQ(0, counter);
}

TEST(MinutesText, RoundsToTheNearestMinuteWithHalvesToEven) {
  EXPECT_EQ("0", MinutesText(0));
  EXPECT_EQ("0", MinutesText(29));
  EXPECT_EQ("0", MinutesText(30));
  EXPECT_EQ("1", MinutesText(31));
  EXPECT_EQ("1", MinutesText(89));
  EXPECT_EQ("2", MinutesText(90));
  EXPECT_EQ("2", MinutesText(150));
  EXPECT_EQ("3", MinutesText(151));
  EXPECT_EQ("4", MinutesText(210));
  EXPECT_EQ("35791394", MinutesText(INT32_MAX));
}

TEST(MinutesText, NegativeTimesAreZero) {
  EXPECT_EQ("0", MinutesText(-30));
  EXPECT_EQ("0", MinutesText(-90));
  EXPECT_EQ("0", MinutesText(INT32_MIN));
  EXPECT_EQ(-2, RoundedMinutes(-90));
  EXPECT_EQ(0, RoundedMinutes(-30));
  EXPECT_EQ(-1, RoundedMinutes(-31));
}

class ShutdownSecondsLeftTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerContext& context = env_.context();
    context.Setup.ServerSetup.UpsFixedTime = 300;
    context.Setup.ServerSetup.SrvDownTime = 180;
    context.Setup.UpsSetup.UpsLoadPercent = 40.0f;
    context.Ups.Main.CalibrationState = "0";
    context.Ups.Main.AutonomyAtFailure = 600;
    context.Ups.Main.AutonomyTime = 500;
    context.Server.SecondsOnBattery = 70;
  }
  int32_t Left(int32_t protocol, bool from_ups = false) {
    env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = protocol;
    env_.context().Ups.Main.AutonomyFromUps = from_ups ? 1 : 0;
    return ShutdownSecondsLeft(env_.context());
  }
  test::ServerTestEnv env_;
};

TEST_F(ShutdownSecondsLeftTest, FixedTimeCountsTheSecondsOnBatteryForUpsReportedAutonomy) {
  EXPECT_EQ(230, Left(4));
  EXPECT_EQ(230, Left(2, true));
  EXPECT_EQ(230, Left(5, true));
  EXPECT_EQ(230, Left(6, true));
}

TEST_F(ShutdownSecondsLeftTest, CalibratedTimeIsShortenedByTheAutonomyUsedSinceTheFailure) {
  // 300 - (600 - 500) = 200, below the 500 s of autonomy.
  for (int32_t protocol : {0, 1, 3, 7, 8}) EXPECT_EQ(200, Left(protocol)) << protocol;
  EXPECT_EQ(200, Left(2, false));
  env_.context().Ups.Main.AutonomyAtFailure = 200;
  env_.context().Ups.Main.AutonomyTime = 150;
  EXPECT_EQ(150, Left(0));
}

TEST_F(ShutdownSecondsLeftTest, WithoutCalibrationTheEstimatedAutonomyIsTheTimeLeft) {
  env_.context().Ups.Main.CalibrationState = "&";
  EXPECT_EQ(500, Left(0));
  env_.context().Ups.Main.CalibrationState = "0";
  env_.context().Setup.UpsSetup.UpsLoadPercent = -1.0f;
  EXPECT_EQ(500, Left(1));
  EXPECT_EQ(230, Left(4)) << "the fixed formula ignores the calibration";
}

TEST_F(ShutdownSecondsLeftTest, SmartAutonomyKeepsTheReserveWhateverTheProtocol) {
  env_.context().Setup.UpsSetup.UpsSmartAutonomy = true;
  EXPECT_EQ(320, Left(4));
  EXPECT_EQ(320, Left(0));
  EXPECT_EQ(320, Left(2, true));
}

TEST_F(ShutdownSecondsLeftTest, ExtremeAutonomyValuesDoNotOverflow) {
  env_.context().Ups.Main.AutonomyAtFailure = INT32_MAX;
  env_.context().Ups.Main.AutonomyTime = INT32_MIN;
  EXPECT_EQ(INT32_MIN, Left(0));
  env_.context().Setup.UpsSetup.UpsSmartAutonomy = true;
  env_.context().Setup.ServerSetup.SrvDownTime = 1;
  EXPECT_EQ(INT32_MIN, Left(0));
}

// One log text per event: "E<n>", and the minutes for the countdown.
constexpr char kLanguage[] = "[LOGS]\n4=E4\n5=E5\n6=E6\n7=E7\n8=E8\n9=E9 $\n10=E10\n11=E11\n12=E12\n13=E13\n";

class MainCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Install(kLanguage);
    ServerContext& context = env_.context();
    context.Format = platform::FixedFormatSettings();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    for (int event = 0; event <= 21; ++event) context.Setup.UpsSetup.Events.push_back({std::to_string(event), "$LOG"});
    // The UPS reports its autonomy itself, so the estimate leaves AutonomyTime alone.
    context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
    context.Setup.RecordingSetup.DataEnabled = false;
    ResetServerState(context.Server);
    TUpsMainData& main = context.Ups.Main;
    main.UpsStatus = "0";
    main.UpsStatusSeen = "0";
    main.Anomaly = "0";
    main.AnomalySeen = "0";
    main.CalibrationState = "0";
    main.AutonomyTime = 1200;
    context.Cycle = std::make_unique<MainCycle>(context);
  }

  ServerContext& context() { return env_.context(); }
  MainCycle& cycle() { return *env_.context().Cycle; }
  TServerData& server() { return env_.context().Server; }
  TUpsMainData& main() { return env_.context().Ups.Main; }

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) cycle().Tick();
  }
  // The status poll's completion evaluates the new status.
  void NewStatus(const char* status) {
    main().UpsStatus = status;
    EvaluateUpsState(context());
  }

  // Log texts written since the last call.
  std::vector<std::string> Logged() {
    const std::vector<std::string> texts = env_.LogTexts();
    std::vector<std::string> fresh(texts.begin() + static_cast<std::ptrdiff_t>(logged_), texts.end());
    logged_ = texts.size();
    return fresh;
  }

  bool Queued(int code, const TStringList& fields = {}) {
    const std::string item = std::string(kInternalTarget) + "|" + BuildRequestFrame(code, fields);
    for (const std::string& queued : env_.context().Requests.Items()) {
      if (queued == item) return true;
    }
    return false;
  }

  // Ticks until `code` is queued (emptying the queue first); the number of ticks, 0 if never
  // within `limit`.
  int TicksUntilQueued(int code, int limit) {
    context().Requests.Clear();
    for (int tick = 1; tick <= limit; ++tick) {
      cycle().Tick();
      if (Queued(code)) return tick;
    }
    return 0;
  }

  using Texts = std::vector<std::string>;

  test::ServerTestEnv env_;
  size_t logged_ = 0;
};

TEST_F(MainCycleTest, TimerTicksOncePerSecondWhileEnabled) {
  context().Setup.ServerSetup.SrvPollingUps = 1;
  EXPECT_FALSE(cycle().Enabled());
  env_.clock().AdvanceMs(5000);
  env_.loop().RunDue();
  EXPECT_TRUE(context().Requests.Empty()) << "created disabled";

  cycle().Enable(true);
  env_.clock().AdvanceMs(999);
  env_.loop().RunDue();
  EXPECT_TRUE(context().Requests.Empty());
  env_.clock().AdvanceMs(1);
  env_.loop().RunDue();
  EXPECT_TRUE(Queued(131));
  EXPECT_TRUE(cycle().Enabled());

  context().Requests.Clear();
  cycle().Enable(false);
  env_.clock().AdvanceMs(3000);
  env_.loop().RunDue();
  EXPECT_TRUE(context().Requests.Empty());
}

TEST_F(MainCycleTest, StatusIsPolledEverySrvPollingUpsSeconds) {
  context().Setup.ServerSetup.SrvPollingUps = 5;
  EXPECT_EQ(5, TicksUntilQueued(131, 20)) << "protocol 4 reads the modular main data";
  EXPECT_EQ(5, TicksUntilQueued(131, 20));
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
  EXPECT_EQ(5, TicksUntilQueued(101, 20));
  context().Setup.ServerSetup.SrvPollingUps = 0;
  EXPECT_EQ(1, TicksUntilQueued(101, 20));
  EXPECT_EQ(1, TicksUntilQueued(101, 20));
  context().Setup.ServerSetup.SrvPollingUps = 1;
  EXPECT_EQ(1, TicksUntilQueued(101, 20));
}

TEST_F(MainCycleTest, DataSamplesAreRequestedEveryDataRateSecondsWhenEnabled) {
  context().Setup.RecordingSetup.DataRate = 30;
  EXPECT_EQ(0, TicksUntilQueued(1, 100));
  context().Setup.RecordingSetup.DataEnabled = true;
  server().DataCounter = 0;
  EXPECT_EQ(30, TicksUntilQueued(1, 100));
  EXPECT_EQ(30, TicksUntilQueued(1, 100));
}

TEST_F(MainCycleTest, EventListIsReadEveryHalfHourOnlyOnMainsWithoutAnomaly) {
  EXPECT_EQ(1800, TicksUntilQueued(109, 4000));
  main().Anomaly = "1";
  main().AnomalySeen = "1";
  EXPECT_EQ(0, TicksUntilQueued(109, 1800)) << "the counter still runs";
  main().Anomaly = "0";
  main().AnomalySeen = "0";
  main().CalibrationState = "1";
  EXPECT_EQ(0, TicksUntilQueued(109, 1800));
  main().CalibrationState = "0";
  NewStatus("3");
  EXPECT_EQ(0, TicksUntilQueued(109, 1800));
  NewStatus("0");
  EXPECT_EQ(1800, TicksUntilQueued(109, 1800));
}

TEST_F(MainCycleTest, CalibrationStaysValidOnlyNearItsLoad) {
  context().Setup.UpsSetup.UpsLoadPercent = 50.0f;
  main().LoadR = 60.0f;
  Ticks(1);
  EXPECT_EQ("0", main().CalibrationState);
  main().LoadR = 60.5f;
  Ticks(1);
  EXPECT_EQ("@", main().CalibrationState);
  main().LoadR = 45.0f;
  Ticks(1);
  EXPECT_EQ("0", main().CalibrationState);
  main().LoadR = 39.0f;
  Ticks(1);
  EXPECT_EQ("@", main().CalibrationState);

  main().CalibrationState = "1";
  Ticks(1);
  EXPECT_EQ("1", main().CalibrationState) << "a running calibration is left alone";
}

TEST_F(MainCycleTest, CalibrationWithoutStoredLoadIsNeverChanged) {
  context().Setup.UpsSetup.UpsLoadPercent = -1.0f;
  for (const char* state : {"&", "@", "0"}) {
    main().CalibrationState = state;
    main().LoadR = 90.0f;
    Ticks(2);
    EXPECT_EQ(state, main().CalibrationState);
  }
}

TEST_F(MainCycleTest, CountdownTellsTheMinutesEverySrvBroadcastSecondsThenShutsDownOnce) {
  NewStatus("1");
  EXPECT_EQ(Texts{"E6"}, Logged());
  Ticks(59);
  EXPECT_EQ(Texts{}, Logged());
  Ticks(1);
  EXPECT_EQ(Texts{"E9 4"}, Logged());
  Ticks(180);
  EXPECT_EQ((Texts{"E9 3", "E9 2", "E9 1"}), Logged());
  Ticks(59);
  EXPECT_EQ(Texts{}, Logged());
  EXPECT_FALSE(server().ShutdownActive);
  Ticks(1);
  EXPECT_EQ((Texts{"E9 0", "E10"}), Logged());
  EXPECT_TRUE(server().ShutdownActive);
  Ticks(300);
  EvaluateUpsState(context());
  for (const std::string& text : Logged()) EXPECT_NE("E10", text);
  EXPECT_EQ(600, server().SecondsOnBattery);
}

TEST_F(MainCycleTest, MainsBackBeforeTheEndStopsTheCountdown) {
  context().Setup.ServerSetup.SrvBroadcast = 30;
  NewStatus("1");
  Ticks(200);
  NewStatus("0");
  Logged();
  const int32_t seconds = server().SecondsOnBattery;
  Ticks(400);
  EvaluateUpsState(context());
  EXPECT_EQ(Texts{}, Logged());
  EXPECT_EQ(seconds, server().SecondsOnBattery);
  EXPECT_FALSE(server().ShutdownActive);
}

TEST_F(MainCycleTest, ShortAutonomyStopsTheNoticesButNotTheShutdown) {
  main().AutonomyTime = 29;
  NewStatus("1");
  Logged();
  Ticks(299);
  EXPECT_EQ(Texts{}, Logged());
  Ticks(1);
  // The next status poll's evaluation finds the time is up.
  EvaluateUpsState(context());
  EXPECT_EQ(Texts{"E10"}, Logged());
}

TEST_F(MainCycleTest, NoCountdownOrShutdownWhileCalibrating) {
  main().CalibrationState = "1";
  NewStatus("1");
  Logged();
  Ticks(400);
  EvaluateUpsState(context());
  EXPECT_EQ(Texts{}, Logged());
  EXPECT_EQ(400, server().SecondsOnBattery);
}

TEST_F(MainCycleTest, CalibrationTestCountsTheAutonomyInsteadOfEstimatingIt) {
  context().Ups.Test.AutonomyTestState = "1";
  context().Setup.UpsSetup.UpsLoadPercent = 50.0f;
  main().LoadR = 90.0f;
  main().AutonomyTime = 0;
  NewStatus("1");
  // Below half a minute of autonomy there is no countdown notice to get in the way.
  Ticks(29);
  EXPECT_EQ(29, main().AutonomyTime);
  EXPECT_EQ("0", main().CalibrationState) << "the load check is skipped";
  EXPECT_EQ(Texts{}, Logged()) << "no mains failure";
  EXPECT_TRUE(env_.registry().writes().empty()) << "the charge is not saved";

  main().CalibrationState = "1";
  Ticks(91);
  EXPECT_EQ(120, main().AutonomyTime);
  EXPECT_EQ(Texts{}, Logged()) << "no countdown while calibrating";

  // Stopped, the UPS is back on mains before the test has stored what it counted.
  NewStatus("0");
  Ticks(3);
  EXPECT_EQ(120, main().AutonomyTime) << "the count is kept for the end of the test";
}

TEST_F(MainCycleTest, WithoutServerShutdownOnlyThePowerEventsRemain) {
  context().Setup.ServerSetup.SrvDownEnabled = false;
  NewStatus("1");
  Ticks(400);
  NewStatus("2");
  Ticks(10);
  NewStatus("0");
  EXPECT_EQ((Texts{"E6", "E8", "E7"}), Logged());
}

TEST_F(MainCycleTest, EstimatedAutonomyRunsDownOnBatteryAndIsSaved) {
  TUpsSetup& ups_setup = context().Setup.UpsSetup;
  ups_setup.ProtocolSetup.ProtocolNumber = 0;
  ups_setup.UpsBatteryCapacity = 100.0f;
  main().AutonomyTime = 300;
  NewStatus("1");
  Ticks(10);
  EXPECT_EQ(290, main().AutonomyTime);
  EXPECT_LT(ups_setup.UpsBatteryCapacity, 100.0f);
  EXPECT_FALSE(env_.registry().writes().empty());
  EXPECT_TRUE(env_.registry().StoredString(test::kServerKey, "UpsBatteryCapacity").has_value());

  server().ShutdownActive = true;
  Ticks(10);
  EXPECT_EQ(290, main().AutonomyTime) << "frozen once a shutdown is under way";

  server().ShutdownActive = false;
  NewStatus("0");
  const float charge = ups_setup.UpsBatteryCapacity;
  Ticks(10);
  EXPECT_GT(ups_setup.UpsBatteryCapacity, charge);
}

TEST_F(MainCycleTest, ExhaustedEstimateIsCheckedEverySecond) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 0;
  context().Setup.UpsSetup.UpsBatteryCapacity = 100.0f;
  main().AutonomyTime = 600;
  NewStatus("1");
  Logged();
  main().AutonomyTime = 10;
  Ticks(9);
  EXPECT_EQ(Texts{}, Logged());
  Ticks(1);
  EXPECT_EQ(Texts{"E10"}, Logged());
}

// A link lost during a tick's own evaluation must leave the cycle stopped, or the polls would go
// on while the link is down.
TEST_F(MainCycleTest, LinkLostDuringATickKeepsTheCycleStopped) {
  // Without the automatic shutdown, which would hold back the link evaluation.
  context().Setup.ServerSetup.SrvDownEnabled = false;
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 0;
  main().AutonomyTime = 0;
  NewStatus("1");
  Logged();
  cycle().Enable(true);
  server().LinkFailed = true;
  env_.clock().AdvanceMs(1000);
  env_.loop().RunDue();
  EXPECT_EQ(Texts{"E4"}, Logged());
  EXPECT_FALSE(cycle().Enabled());
  const int32_t seconds = server().SecondsOnBattery;
  env_.clock().AdvanceMs(5000);
  env_.loop().RunDue();
  EXPECT_EQ(seconds, server().SecondsOnBattery);

  server().LinkFailed = false;
  EvaluateUpsState(context());
  EXPECT_EQ(Texts{"E5"}, Logged());
  EXPECT_TRUE(cycle().Enabled());
}

}  // namespace
}  // namespace keep::server

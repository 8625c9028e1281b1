// The status evaluation on a server context with manual clocks. Events are watched two ways: through
// the "$LOG" action of the real dispatcher (each event's log text names it), and through a recording
// raiser that also sees the state at the moment each event is raised and can act as a shutdown
// action.
#include "server/services/status_evaluation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/text_lists.h"
#include "platform/platform_info.h"
#include "server/services/main_cycle.h"
#include "server/services/request_queue.h"
#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

// One log text per event: "E<n>" and one "$" per argument.
std::string EventLanguage() {
  std::string text = "[LOGS]\n";
  for (int event = 0; event <= 21; ++event) {
    text += std::to_string(event) + "=E" + std::to_string(event);
    if (event == 0) text += " $ $";
    if (event == 2 || event == 9 || event == 11) text += " $";
    text += "\n";
  }
  return text;
}

// What the recording raiser saw of one event.
struct Raised {
  int event = 0;
  TStringList arguments;
  int32_t seconds_left = 0;
  bool ups_on_enabled = false;
};

class StatusEvaluationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Install(EventLanguage());
    ServerContext& context = env_.context();
    context.Format = platform::FixedFormatSettings();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    for (int event = 0; event <= 21; ++event) context.Setup.UpsSetup.Events.push_back({std::to_string(event), "$LOG"});
    ResetServerState(context.Server);
    TUpsMainData& main = context.Ups.Main;
    main.UpsStatus = "0";
    main.UpsStatusSeen = "0";
    main.Anomaly = "0";
    main.AnomalySeen = "0";
    main.CalibrationState = "0";
    main.AutonomyTime = 900;
  }

  ServerContext& context() { return env_.context(); }
  TServerData& server() { return env_.context().Server; }
  TUpsMainData& main() { return env_.context().Ups.Main; }
  TServerSetup& server_setup() { return env_.context().Setup.ServerSetup; }

  // Evaluates with the real dispatcher and returns the log texts this evaluation wrote.
  std::vector<std::string> Evaluate() {
    EvaluateUpsState(context());
    const std::vector<std::string> texts = env_.LogTexts();
    std::vector<std::string> fresh(texts.begin() + static_cast<std::ptrdiff_t>(logged_), texts.end());
    logged_ = texts.size();
    return fresh;
  }

  // Evaluates with a recording raiser; events listed in `shutdown_actions` ask for the shutdown.
  std::vector<Raised> EvaluateRecorded(const std::vector<int>& shutdown_actions = {}) {
    std::vector<Raised> raised;
    EvaluateUpsState(context(), [&](uint8_t event, const TStringList& arguments, bool pending) {
      raised.push_back({event, arguments, ShutdownSecondsLeft(context()), context().Setup.UpsSetup.UpsOnEnabled});
      for (int action : shutdown_actions) {
        if (action == event) return true;
      }
      return pending;
    });
    return raised;
  }

  static std::vector<int> Numbers(const std::vector<Raised>& raised) {
    std::vector<int> numbers;
    for (const Raised& one : raised) numbers.push_back(one.event);
    return numbers;
  }

  bool Queued(int code, const TStringList& fields = {}) {
    const std::string item = std::string(kInternalTarget) + "|" + BuildRequestFrame(code, fields);
    for (const std::string& queued : env_.context().Requests.Items()) {
      if (queued == item) return true;
    }
    return false;
  }

  using Texts = std::vector<std::string>;

  test::ServerTestEnv env_;
  size_t logged_ = 0;
};

TEST_F(StatusEvaluationTest, ServerStartRaisesEventZeroWithDeviceAndPortOnce) {
  server_setup().UpsDevice = "/dev/ttyS1";
  server_setup().SrvListenPort = 6001;
  server().Info.ServerStarted = true;
  server().LinkFailed = true;
  EXPECT_EQ(Texts{"E0 /dev/ttyS1 6001"}, Evaluate());
  EXPECT_FALSE(server().Info.ServerStarted);
  // A link already failed at start is taken as the state seen, not reported as a loss.
  EXPECT_TRUE(server().LinkFailedSeen);
  EXPECT_EQ(Texts{}, Evaluate());
}

TEST_F(StatusEvaluationTest, ServerStopRaisesEventOneAndNothingElse) {
  server().Info.ServerStopping = true;
  main().UpsStatus = "1";
  EXPECT_EQ(Texts{"E1"}, Evaluate());
  EXPECT_EQ("0", main().UpsStatusSeen) << "no status evaluation while stopping";
}

TEST_F(StatusEvaluationTest, FirstIdentificationReportsTheModelAndAsksForTheEventList) {
  context().Ups.Info.ModelName = "LineGuard 1000";
  server().Info.UpsConnecting = true;
  server().Info.UpsConnectResult = 1;
  EXPECT_EQ(Texts{"E2 LineGuard 1000"}, Evaluate());
  EXPECT_TRUE(Queued(109));
  EXPECT_FALSE(server().Info.UpsConnecting);
  EXPECT_EQ(0, server().Info.UpsConnectResult);
}

TEST_F(StatusEvaluationTest, FirstIdentificationSkipsTheEventListWhenAShutdownIsPending) {
  server().Info.UpsConnecting = true;
  server().Info.UpsConnectResult = 1;
  EXPECT_EQ((std::vector<int>{2, 10}), Numbers(EvaluateRecorded({2})));
  EXPECT_FALSE(Queued(109));
  EXPECT_TRUE(server().ShutdownActive);
}

TEST_F(StatusEvaluationTest, LinkLostDuringFirstIdentificationIsReportedAsFailedIdentification) {
  server().Info.UpsConnecting = true;
  server().LinkFailed = true;
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_EQ(2, server().Info.UpsConnectResult);
  EXPECT_EQ(Texts{"E3"}, Evaluate());
  EXPECT_FALSE(server().Info.UpsConnecting);
  EXPECT_FALSE(Queued(109));
}

TEST_F(StatusEvaluationTest, LeavingTheMainsRaisesSixOnceWhateverTheLowBatteryFlagDoes) {
  // Status in turn, the events it raises, and whether the seconds on battery started again.
  struct Step {
    const char* status;
    Texts events;
    bool count_restarted;
  };
  const Step walk[] = {
      {"1", {"E6"}, true},  {"1", {}, false},          {"2", {"E8"}, false},  {"1", {}, false},    {"2", {"E8"}, false},
      {"0", {"E7"}, false}, {"2", {"E6", "E8"}, true}, {"3", {"E14"}, false}, {"1", {"E6"}, true}, {"0", {"E7"}, false},
  };
  for (const Step& step : walk) {
    server().SecondsOnBattery = 50;
    main().UpsStatus = step.status;
    EXPECT_EQ(step.events, Evaluate()) << "to " << step.status;
    EXPECT_EQ(step.count_restarted ? 0 : 50, server().SecondsOnBattery) << "to " << step.status;
    EXPECT_EQ(step.status, main().UpsStatusSeen);
  }
}

TEST_F(StatusEvaluationTest, MainsFailureRecordsTheAutonomyAndRestartsTheCounters) {
  main().AutonomyTime = 420;
  server().SecondsOnBattery = 77;
  server().BroadcastCounter = 12;
  main().UpsStatus = "1";
  Evaluate();
  EXPECT_EQ(420, main().AutonomyAtFailure);
  EXPECT_EQ(0, server().SecondsOnBattery);
  EXPECT_EQ(0, server().BroadcastCounter);
}

// The counters of the previous failure must not leak into this failure's messages (a
// "#TIMELEFT#" macro of event 6 reads the time left while the event runs).
TEST_F(StatusEvaluationTest, MainsFailureEventSeesThisFailuresTimeLeft) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  server_setup().UpsFixedTime = 300;
  server().SecondsOnBattery = 250;  // left from the previous failure
  main().UpsStatus = "1";
  const std::vector<Raised> raised = EvaluateRecorded();
  ASSERT_EQ((std::vector<int>{6}), Numbers(raised));
  EXPECT_EQ(300, raised[0].seconds_left);
}

TEST_F(StatusEvaluationTest, StatusOffOrTestingIsJudgedOnceItLeavesAgainstTheStatusSeenBefore) {
  main().UpsStatus = "5";
  main().Anomaly = "1";
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_EQ("0", main().UpsStatusSeen);
  EXPECT_EQ("0", main().AnomalySeen);
  main().UpsStatus = "1";
  EXPECT_EQ((Texts{"E12", "E6"}), Evaluate());

  main().UpsStatus = "6";
  EXPECT_EQ(Texts{}, Evaluate());
  main().UpsStatus = "0";
  EXPECT_EQ(Texts{"E7"}, Evaluate());
}

TEST_F(StatusEvaluationTest, StatusOffStillReportsServerStart) {
  main().UpsStatus = "5";
  server().Info.ServerStarted = true;
  EXPECT_EQ(Texts{"E0  5769"}, Evaluate());
}

TEST_F(StatusEvaluationTest, AnomaliesBeginAndEndWithTheirOwnEvents) {
  const struct {
    const char* anomaly;
    const char* expected;
  } steps[] = {{"1", "E12"}, {"0", "E13"}, {"2", "E18"}, {"0", "E19"}, {"3", "E20"}, {"0", "E21"},
               {"4", "E20"}, {"5", "E20"}, {"0", "E21"}, {"1", "E12"}, {"2", "E18"}, {"0", "E19"}};
  for (const auto& step : steps) {
    main().Anomaly = step.anomaly;
    EXPECT_EQ(Texts{step.expected}, Evaluate()) << "anomaly " << step.anomaly;
    EXPECT_EQ(step.anomaly, main().AnomalySeen);
  }
}

TEST_F(StatusEvaluationTest, BypassesBeginAndEndWithTheirOwnEvents) {
  main().UpsStatus = "3";
  EXPECT_EQ(Texts{"E14"}, Evaluate());
  main().UpsStatus = "0";
  EXPECT_EQ(Texts{"E15"}, Evaluate());
  main().UpsStatus = "4";
  EXPECT_EQ(Texts{"E16"}, Evaluate());
  main().UpsStatus = "0";
  EXPECT_EQ(Texts{"E17"}, Evaluate());
}

TEST_F(StatusEvaluationTest, CalibrationTestOnBatteryIsNoMainsFailure) {
  context().Ups.Test.AutonomyTestState = "1";
  server().SecondsOnBattery = 42;
  main().AutonomyAtFailure = 5;
  main().UpsStatus = "1";
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_EQ(42, server().SecondsOnBattery);
  EXPECT_EQ(5, main().AutonomyAtFailure);
  EXPECT_EQ("1", main().UpsStatusSeen);
}

TEST_F(StatusEvaluationTest, LowBatteryDuringCalibrationTestStopsTheTestInsteadOfRaisingEventEight) {
  context().Ups.Test.AutonomyTestState = "2";
  main().UpsStatus = "2";
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_TRUE(Queued(4, {"0"}));
  EXPECT_EQ(context().Requests.Items().front(), "@|<|401|0|>");
}

TEST_F(StatusEvaluationTest, MainsBackEndsTheShutdownButOnlyEndsACalibrationTest) {
  main().UpsStatusSeen = "2";
  main().UpsStatus = "0";
  server().ShutdownActive = true;
  EXPECT_EQ(Texts{"E7"}, Evaluate());
  EXPECT_FALSE(server().ShutdownActive);

  main().UpsStatusSeen = "1";
  main().CalibrationState = "1";
  server().ShutdownActive = true;
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_EQ("0", main().CalibrationState);
  EXPECT_TRUE(server().ShutdownActive);
}

TEST_F(StatusEvaluationTest, CountdownNoticeTellsTheRoundedMinutesLeft) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  server_setup().UpsFixedTime = 300;
  main().UpsStatus = "1";
  main().UpsStatusSeen = "1";
  server().SecondsOnBattery = 120;
  server().BroadcastNow = true;
  EXPECT_EQ(Texts{"E9 3"}, Evaluate());
  EXPECT_FALSE(server().BroadcastNow);

  server().SecondsOnBattery = 211;  // 89 s left
  server().BroadcastNow = true;
  EXPECT_EQ(Texts{"E9 1"}, Evaluate());
}

TEST_F(StatusEvaluationTest, ScheduledWarningTellsTheWholeMinutesOfWarning) {
  server_setup().SrvDownWarningTime = 299;
  server().ShutdownWarningDue = true;
  EXPECT_EQ(Texts{"E11 4"}, Evaluate());
  EXPECT_FALSE(server().ShutdownWarningDue);
  EXPECT_EQ(Texts{}, Evaluate());
}

TEST_F(StatusEvaluationTest, WithoutServerShutdownThereIsNoCountdownWarningOrShutdown) {
  server_setup().SrvDownEnabled = false;
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  server().SecondsOnBattery = 1000;
  server().BroadcastNow = true;
  server().ShutdownWarningDue = true;
  server().ScheduledShutdownDue = true;
  main().UpsStatus = "1";
  EXPECT_EQ(Texts{"E6"}, Evaluate());
  server().SecondsOnBattery = 1000;
  main().UpsStatus = "2";
  EXPECT_EQ(Texts{"E8"}, Evaluate());
  EXPECT_FALSE(server().BroadcastNow);
  EXPECT_FALSE(server().ShutdownActive);
  // A low-battery action asking for the shutdown is not followed either.
  main().UpsStatus = "0";
  EXPECT_EQ(Texts{"E7"}, Evaluate());
  main().UpsStatus = "2";
  EXPECT_EQ((std::vector<int>{6, 8}), Numbers(EvaluateRecorded({8})));
  EXPECT_FALSE(server().ShutdownActive);
}

TEST_F(StatusEvaluationTest, DueDataSampleIsWrittenOnce) {
  server().RecordNow = true;
  Evaluate();
  EXPECT_FALSE(server().RecordNow);
  EXPECT_FALSE(test::ReadFileText(env_.install() + "data/ups_data.csv").empty());
}

TEST_F(StatusEvaluationTest, LinkLossEmptiesTheQueueStopsTheCycleAndIsReportedOnce) {
  context().Cycle = std::make_unique<MainCycle>(context());
  context().Cycle->Enable(true);
  context().Requests.QueueRequest("10.0.0.5", "<|101|>", false);
  server().Info.CompletionDone = true;
  server().Command.Requester = "10.0.0.5";
  server().Command.Code = 101;
  server().LinkFailed = true;
  EXPECT_EQ(Texts{"E4"}, Evaluate());
  EXPECT_TRUE(context().Requests.Empty());
  EXPECT_FALSE(server().Info.CompletionDone);
  EXPECT_EQ("@", server().Command.Requester);
  EXPECT_EQ(0, server().Command.Code);
  EXPECT_FALSE(context().Cycle->Enabled());
  EXPECT_EQ(Texts{}, Evaluate());

  server().PollCounter = 3;
  server().LinkFailed = false;
  EXPECT_EQ(Texts{"E5"}, Evaluate());
  EXPECT_TRUE(Queued(109));
  EXPECT_TRUE(context().Cycle->Enabled());
  EXPECT_EQ(0, server().PollCounter);
  EXPECT_TRUE(server().ProtocolReset);
  EXPECT_EQ(Texts{}, Evaluate());
}

TEST_F(StatusEvaluationTest, LinkChangesWaitWhileAShutdownIsActive) {
  server().ShutdownActive = true;
  server().LinkFailed = true;
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_FALSE(server().LinkFailedSeen);
}

TEST_F(StatusEvaluationTest, FixedTimeOnBatteryShutsDownOnce) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  server_setup().UpsFixedTime = 300;
  main().UpsStatus = "1";
  main().UpsStatusSeen = "1";
  server().SecondsOnBattery = 299;
  EXPECT_EQ(Texts{}, Evaluate());
  server().SecondsOnBattery = 300;
  EXPECT_EQ(Texts{"E10"}, Evaluate());
  EXPECT_TRUE(server().ShutdownActive);
  server().SecondsOnBattery = 400;
  EXPECT_EQ(Texts{}, Evaluate());
}

TEST_F(StatusEvaluationTest, LowBatteryShutsDownWhenTheTimeIsUpButACalibrationTestNever) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  main().UpsStatus = "2";
  main().UpsStatusSeen = "2";
  main().CalibrationState = "1";
  server().SecondsOnBattery = 1000;
  EXPECT_EQ(Texts{}, Evaluate());
  main().CalibrationState = "0";
  server().SecondsOnBattery = 299;
  EXPECT_EQ(Texts{}, Evaluate());
  server().SecondsOnBattery = 300;
  EXPECT_EQ(Texts{"E10"}, Evaluate());
  EXPECT_TRUE(server().ShutdownActive);
}

TEST_F(StatusEvaluationTest, ShutdownActionOfAnEventIsFollowedByTheShutdownEventOnce) {
  main().UpsStatus = "1";
  Evaluate();
  main().UpsStatus = "2";
  EXPECT_EQ((std::vector<int>{8, 10}), Numbers(EvaluateRecorded({8})));
  EXPECT_TRUE(server().ShutdownActive);
  main().Anomaly = "1";
  EXPECT_EQ((std::vector<int>{12}), Numbers(EvaluateRecorded({12})));
}

TEST_F(StatusEvaluationTest, ScheduledShutdownRaisesTheShutdownEventOnceEvenAfterAMainsBlip) {
  server().ScheduledShutdownDue = true;
  const std::vector<Raised> raised = EvaluateRecorded();
  ASSERT_EQ((std::vector<int>{10}), Numbers(raised));
  EXPECT_TRUE(server().ShutdownActive);
  EXPECT_FALSE(server().ScheduledShutdownDue) << "taken by the shutdown";
  EXPECT_EQ(Texts{}, Evaluate());
  main().UpsStatus = "1";
  EXPECT_EQ(Texts{"E6"}, Evaluate());
  main().UpsStatus = "0";
  EXPECT_EQ(Texts{"E7"}, Evaluate());
  EXPECT_FALSE(server().ShutdownActive);
  EXPECT_EQ(Texts{}, Evaluate());

  // Due while a shutdown on battery is already under way: that one takes it up.
  server().ShutdownActive = true;
  server().ScheduledShutdownDue = true;
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_FALSE(server().ScheduledShutdownDue);
}

TEST_F(StatusEvaluationTest, NoCountdownNoticeOnceTheShutdownRuns) {
  context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  main().UpsStatus = "1";
  main().UpsStatusSeen = "1";
  server().ShutdownActive = true;
  server().BroadcastNow = true;
  EXPECT_EQ(Texts{}, Evaluate());
  EXPECT_FALSE(server().BroadcastNow);
}

TEST_F(StatusEvaluationTest, ShutdownAskedByAClientSwitchesTheUpsOffWithoutRestart) {
  context().Setup.UpsSetup.UpsOnEnabled = true;
  server().ShutdownNowNoRestart = true;
  const std::vector<Raised> raised = EvaluateRecorded();
  ASSERT_EQ((std::vector<int>{10}), Numbers(raised));
  EXPECT_FALSE(raised[0].ups_on_enabled);
  EXPECT_TRUE(context().Setup.UpsSetup.UpsOnEnabled);
  EXPECT_TRUE(server().ShutdownActive);
  EXPECT_FALSE(server().ShutdownNowNoRestart);

  // A second request while it runs changes nothing.
  server().ShutdownNowNoRestart = true;
  EXPECT_TRUE(EvaluateRecorded().empty());
  EXPECT_FALSE(server().ShutdownNowNoRestart);
}

}  // namespace
}  // namespace keep::server

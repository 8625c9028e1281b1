// The completion of finished requests: log lines from the installation's language file, answers
// and notices recorded instead of going to clients.
#include "server/services/request_completion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

constexpr char kClient[] = "10.0.0.5";

struct Sent {
  std::string target;  // "*" for a notice to every client
  int code = 0;
  std::string parameter;  // "-" for none
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
  return out << sent.target << " " << sent.code << " " << sent.parameter;
}

class RequestCompletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TSetupData& setup = env_.context().Setup;
    setup.InstallPath = env_.install();
    setup.LanguageFile = env_.install() + "languages/test.lng";
    test::WriteFileText(setup.LanguageFile,
                        "[LOGS]\n"
                        "BatteryHistoryReset=History cleared\n"
                        "EventListReset=Events cleared\n"
                        "BatteryTestImpossible=Test impossible\n"
                        "BatteryTestExecuted=Test done: $\n"
                        "BatteryToReplace=replace it\n"
                        "AutonomyTestStart=Autonomy started\n"
                        "AutonomyTestStop=Autonomy stopped after $ min\n"
                        "AutonomyTestEnd=Autonomy ended after $ min\n");
    env_.context().SchedulerPrefix = "SCHED ";
    router_.SendToClient = [this](const std::string& target, const std::string* parameter, int code) {
      sent_.push_back({target, code, parameter ? *parameter : "-"});
      return true;
    };
    router_.NotifyAllClients = [this](int code, const std::string* parameter) {
      sent_.push_back({"*", code, parameter ? *parameter : "-"});
    };
  }

  void Complete(const std::string& requester, const TStringList& params) {
    TTcpCmdInfo& command = server().Command;
    command.Requester = requester;
    command.Params = params;
    command.Code = static_cast<uint16_t>(std::stoi(params.at(0)));
    server().Info.CompletionDone = false;
    CompleteRequest(env_.context(), router_, [this] { ++evaluations_; });
  }

  // The texts of the log lines, without their date and time.
  std::vector<std::string> Logged() const {
    std::vector<std::string> texts;
    const std::string log = env_.LogText();
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find("\r\n", start);
      if (end == std::string::npos) end = log.size();
      const std::string line = log.substr(start, end - start);
      const size_t gap = line.find("  ");
      texts.push_back(gap == std::string::npos ? line : line.substr(gap + 2));
      start = end + 2;
    }
    return texts;
  }

  TServerData& server() { return env_.context().Server; }
  TUpsData& ups() { return env_.context().Ups; }

  test::ServerTestEnv env_;
  AnswerRouter router_;
  std::vector<Sent> sent_;
  int evaluations_ = 0;
};

TEST_F(RequestCompletionTest, BatteryTestResultsAreLoggedAndAnsweredWithoutEvaluation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"255", "Test done: replace it"}, {"0", "Test done: Ok"}, {"87", "Test done: 87 %"}, {"@", "Test impossible"}};
  std::vector<std::string> expected;
  for (const auto& [result, text] : cases) {
    ups().Test.BatteryTestResult = result;
    Complete(kClient, {"400"});
    expected.push_back(text);
  }
  EXPECT_EQ(expected, Logged());
  EXPECT_EQ(4u, sent_.size());
  EXPECT_EQ((Sent{kClient, 400, "-"}), sent_.back());
  EXPECT_TRUE(server().Info.CompletionDone);

  ups().Test.BatteryTestResult = "0";
  Complete("@", {"402"});
  EXPECT_EQ("SCHED Test done: Ok", Logged().back()) << "the server's own tests come from the scheduler";
  EXPECT_EQ(0, evaluations_);
  EXPECT_EQ(4u, sent_.size()) << "the server is answered by nobody";
}

TEST_F(RequestCompletionTest, ABatteryTestWithoutResultLogsNothingAndEvaluates) {
  for (const char* result : {"&", ""}) {
    ups().Test.BatteryTestResult = result;
    Complete("@", {"400"});
  }
  EXPECT_TRUE(env_.LogText().empty());
  EXPECT_EQ(2, evaluations_);
  Complete(kClient, {"402"});
  EXPECT_EQ((std::vector<Sent>{{kClient, 402, "-"}}), sent_);
}

TEST_F(RequestCompletionTest, ResetsAreLoggedAndAnswered) {
  Complete("@", {"304"});
  Complete(kClient, {"305"});
  Complete(kClient, {"313"});
  EXPECT_EQ((std::vector<std::string>{"History cleared", "Events cleared", "Events cleared"}), Logged());
  EXPECT_EQ(0, evaluations_);
  EXPECT_EQ((std::vector<Sent>{{kClient, 305, "-"}, {kClient, 313, "-"}}), sent_);
}

TEST_F(RequestCompletionTest, SettingChangesAreNotifiedToAllAndAnsweredToNobody) {
  Complete(kClient, {"300", "1"});
  Complete("@", {"315"});
  EXPECT_EQ((std::vector<Sent>{{"*", 300, "-"}, {"*", 315, "-"}}), sent_);
  EXPECT_EQ(0, evaluations_);
  EXPECT_TRUE(env_.LogText().empty());
}

TEST_F(RequestCompletionTest, TheStartOfACalibrationTestEmptiesTheEstimateAndTellsEveryClient) {
  env_.context().Setup.UpsSetup.UpsBatteryCapacity = 95.0f;
  ups().Main.AutonomyTime = 280;
  Complete(kClient, {"401", "1"});
  EXPECT_EQ("1", ups().Main.CalibrationState);
  EXPECT_EQ(0, ups().Main.AutonomyTime);
  EXPECT_FLOAT_EQ(0.0f, env_.context().Setup.UpsSetup.UpsBatteryCapacity);
  Complete("@", {"401", "1"});
  EXPECT_EQ((std::vector<std::string>{"Autonomy started", "SCHED Autonomy started"}), Logged());
  EXPECT_EQ((std::vector<Sent>{{"*", 401, "1"}, {"*", 401, "1"}}), sent_);
  EXPECT_EQ(0, evaluations_);
}

TEST_F(RequestCompletionTest, AClientsStopStoresTheCalibrationAndNotifiesThree) {
  ups().Main.CalibrationState = "1";
  ups().Main.AutonomyTime = 630;  // 10.5 min: halves go to the even minute
  Complete(kClient, {"401", "0"});
  EXPECT_EQ(630, env_.context().Setup.UpsSetup.UpsAutonomyTime);
  EXPECT_EQ("3", ups().Test.AutonomyTestState);
  EXPECT_EQ((std::vector<std::string>{"Autonomy stopped after 10 min"}), Logged());
  EXPECT_EQ((std::vector<Sent>{{"*", 401, "3"}}), sent_);
}

TEST_F(RequestCompletionTest, TheServersOwnStopOnLowBatteryLogsTheEndAndNotifiesFour) {
  ups().Main.CalibrationState = "1";
  ups().Main.AutonomyTime = 1290;
  Complete("@", {"401", "0"});
  EXPECT_EQ((std::vector<std::string>{"Autonomy ended after 22 min"}), Logged()) << "no scheduler prefix on a stop";
  EXPECT_EQ((std::vector<Sent>{{"*", 401, "4"}}), sent_);
  EXPECT_EQ(0, evaluations_);
}

TEST_F(RequestCompletionTest, AStopWithoutARunningTestChangesAndLogsNothing) {
  ups().Main.CalibrationState = "0";
  ups().Main.AutonomyTime = 300;
  env_.context().Setup.UpsSetup.UpsAutonomyTime = 900;
  Complete(kClient, {"401", "0"});
  Complete("@", {"401", "0"});
  EXPECT_TRUE(env_.LogText().empty());
  EXPECT_EQ(900, env_.context().Setup.UpsSetup.UpsAutonomyTime);
  EXPECT_EQ(300, ups().Main.AutonomyTime);
  EXPECT_EQ((std::vector<Sent>{{kClient, 401, "-"}}), sent_);
  EXPECT_EQ(1, evaluations_);
}

TEST_F(RequestCompletionTest, NothingIsProcessedBeforeTheFirstRequestOrWhileConnecting) {
  server().LinkFailed = true;
  ups().Test.BatteryTestResult = "0";
  Complete("", {"400"});
  EXPECT_FALSE(server().LinkFailed);
  EXPECT_FALSE(server().Info.CompletionDone);

  server().Info.UpsConnecting = true;
  Complete(kClient, {"400"});
  EXPECT_EQ(1, server().Info.UpsConnectResult);
  EXPECT_EQ(1, evaluations_);
  EXPECT_FALSE(server().Info.CompletionDone);
  EXPECT_TRUE(env_.LogText().empty());
  EXPECT_TRUE(sent_.empty());
}

}  // namespace
}  // namespace keep::server

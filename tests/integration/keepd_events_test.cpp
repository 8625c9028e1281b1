// keepd against the simulated UPS: what the server logs and tells its clients when the power fails,
// the battery runs low, the UPS misbehaves or the link breaks, on the "$LOG" action of every event.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/scrambling.h"
#include "tests/support/keepd_on_simulator.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/remote_agent.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// A silent UPS is given up after three unanswered queries of 3 s, each retried after a 2 s wake-up.
constexpr milliseconds kLinkLossLimit{30000};

// The log texts of the shipped language file.
constexpr char kStarted[] = "Server started - UPS device ";
constexpr char kStopping[] = "Server stopping";
constexpr char kIdentified[] = "UPS identified: Keep LineGuard 1000";
constexpr char kNotIdentified[] = "The UPS could not be identified - check the cable and the UPS model setting";
constexpr char kLinkLost[] = "Communication with the UPS lost";
constexpr char kLinkBack[] = "Communication with the UPS restored";
constexpr char kMainsFailed[] = "Mains power failure - the UPS is running on battery";
constexpr char kMainsBack[] = "Mains power restored";
constexpr char kBatteryLow[] = "Battery low";
constexpr char kCountdown[] = "On battery - shutdown in ";
constexpr char kShutdown[] = "Shutdown of this computer started";
constexpr char kOverload[] = "UPS overload";
constexpr char kOverloadEnded[] = "UPS overload ended";
constexpr char kFault[] = "UPS fault (hardware, battery charger or battery)";
constexpr char kFaultCleared[] = "UPS fault cleared";

// Every event 0-21 logs its text, some with `more` actions after the log.
std::string LogEveryEvent(const std::map<int, std::string>& more = {}) {
  std::vector<std::string> lists;
  for (int event = 0; event < 22; ++event) {
    const auto extra = more.find(event);
    lists.push_back(std::to_string(event) + "|$LOG" + (extra == more.end() ? "" : "|" + extra->second));
  }
  return EventLists(lists);
}

// The log lines in order, without their time stamps.
std::vector<std::string> LogTexts(const std::string& log) {
  std::vector<std::string> texts;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    const size_t text = line.find("  ");
    if (text != std::string::npos) texts.push_back(line.substr(text + 2));
    start = end + 2;
  }
  return texts;
}

class KeepdEvents : public KeepdOnSimulator {
 protected:
  explicit KeepdEvents(int protocol = 1, std::string model = kMegatecTestModel)
      : protocol_(protocol), model_(std::move(model)) {}

  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartUps(protocol_)); }

  // Starts keepd on the simulator with every event logged (and `more` actions) and `values` added to
  // the server key.
  void Start(const std::string& values, const std::map<int, std::string>& more = {}) {
    StartKeepd(model_, LogEveryEvent(more) + values);
  }

  // A raw connection to keepd once it listens; null when it never did.
  std::unique_ptr<Peer> ConnectPeer() {
    std::unique_ptr<Peer> client;
    WaitUntil([&] { return (client = Peer::Connect(port_)) != nullptr; }, kLimit);
    return client;
  }

  static std::string ReadAnswer(Peer& client, milliseconds limit = kLimit) {
    std::string line = client.ReadUntil('\n', limit);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return UnscrambleText(line);
  }

  std::string Control(const std::string& command) { return sim_->Command(command); }

  int protocol_;
  std::string model_;
};

// A model whose UPS has a beeper the clients can switch.
class KeepdEventsWithBeeper : public KeepdEvents {
 protected:
  KeepdEventsWithBeeper() : KeepdEvents(3, "Keep HomeShield 800") {}
};

TEST_F(KeepdEvents, StartAndStopAreLoggedWithTheDeviceAndPort) {
  Start("");
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  const std::string started = std::string(kStarted) + sim_->SlavePath() + ", client port " + std::to_string(port_);
  EXPECT_EQ(1, CountLines(tree_.LogText(), started)) << tree_.LogText();
  ASSERT_EQ(std::optional<int>(0), StopKeepd());
  EXPECT_EQ(1, CountLines(tree_.LogText(), kStopping)) << tree_.LogText();
}

TEST_F(KeepdEvents, PowerFailureShutsDownOnceAfterTheFixedTime) {
  Start(Dword("SrvPollingUps", 1) + Dword("UpsFixedTime", 6));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();

  ASSERT_EQ("OK\n", Control("set battery"));
  const auto failed_at = std::chrono::steady_clock::now();
  // One poll period and one second, with a second more for a loaded machine.
  ASSERT_TRUE(WaitForLine(kMainsFailed, 1, milliseconds(3000))) << tree_.LogText();
  const auto noticed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - failed_at);
  RecordProperty("mains_failure_noticed_ms", static_cast<int>(noticed.count()));

  ASSERT_TRUE(WaitForLine(kShutdown)) << tree_.LogText();
  const auto shut_at = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - failed_at);
  EXPECT_GE(shut_at.count(), 5000) << "the battery lasts the fixed time before the shutdown";
  // Still on battery: the shutdown is not raised again.
  std::this_thread::sleep_for(milliseconds(2500));
  const std::string log = tree_.LogText();
  EXPECT_EQ(1, CountLines(log, kShutdown)) << log;
  EXPECT_EQ(1, CountLines(log, kMainsFailed)) << log;
  EXPECT_EQ(0, CountLines(log, kMainsBack)) << log;
}

TEST_F(KeepdEvents, CountdownNoticesUntilTheMainsReturnBeforeTheShutdown) {
  Start(Dword("SrvPollingUps", 1) + Dword("SrvBroadcast", 1) + Dword("UpsFixedTime", 40));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set battery"));
  ASSERT_TRUE(WaitForLine(std::string(kCountdown) + "1 minutes", 3)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set mains"));
  ASSERT_TRUE(WaitForLine(kMainsBack)) << tree_.LogText();
  const int notices = CountLines(tree_.LogText(), std::string(kCountdown) + "1 minutes");
  std::this_thread::sleep_for(milliseconds(2000));
  const std::string log = tree_.LogText();
  EXPECT_EQ(notices, CountLines(log, std::string(kCountdown) + "1 minutes")) << "no notices back on mains";
  EXPECT_EQ(0, CountLines(log, kShutdown)) << log;
}

TEST_F(KeepdEvents, LowBatteryFollowsTheFailureAndOnlyTheMainsReturnEndsIt) {
  Start(Dword("SrvPollingUps", 1));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set lowbattery"));
  ASSERT_TRUE(WaitForLine(kBatteryLow)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set mains"));
  ASSERT_TRUE(WaitForLine(kMainsBack)) << tree_.LogText();

  std::vector<std::string> power;
  for (const std::string& text : LogTexts(tree_.LogText())) {
    if (text == kMainsFailed || text == kBatteryLow || text == kMainsBack || text == kShutdown) power.push_back(text);
  }
  EXPECT_EQ((std::vector<std::string>{kMainsFailed, kBatteryLow, kMainsBack}), power)
      << "event 8 without a shutdown action shuts nothing down";
}

TEST_F(KeepdEvents, OverloadAndFaultBeginAndEnd) {
  Start(Dword("SrvPollingUps", 1));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set load 120"));
  ASSERT_TRUE(WaitForLine(kOverload)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set load 40"));
  ASSERT_TRUE(WaitForLine(kOverloadEnded)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set failed on"));
  ASSERT_TRUE(WaitForLine(kFault)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set failed off"));
  ASSERT_TRUE(WaitForLine(kFaultCleared)) << tree_.LogText();
  const std::string log = tree_.LogText();
  EXPECT_EQ(1, CountLines(log, kOverload));
  EXPECT_EQ(1, CountLines(log, kFault));
}

TEST_F(KeepdEvents, LinkLossIsLoggedOnceAndEveryClientHearsOfItAndOfTheReturn) {
  Start(Dword("SrvPollingUps", 1));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  std::unique_ptr<Peer> first = ConnectPeer();
  std::unique_ptr<Peer> second = ConnectPeer();
  ASSERT_TRUE(first != nullptr && second != nullptr);

  ASSERT_EQ("OK\n", Control("fault silent on"));
  ASSERT_TRUE(WaitForLine(kLinkLost, 1, kLinkLossLimit)) << tree_.LogText();
  EXPECT_EQ("<|500|>", ReadAnswer(*first));
  EXPECT_EQ("<|500|>", ReadAnswer(*second));
  // While it is lost the server keeps trying to identify the UPS; the loss is told once.
  std::this_thread::sleep_for(milliseconds(2000));
  EXPECT_EQ(1, CountLines(tree_.LogText(), kLinkLost)) << tree_.LogText();

  ASSERT_EQ("OK\n", Control("fault silent off"));
  ASSERT_TRUE(WaitForLine(kLinkBack)) << tree_.LogText();
  EXPECT_EQ("<|501|>", ReadAnswer(*first));
  EXPECT_EQ("<|501|>", ReadAnswer(*second));
  // The main cycle runs again: a mains failure is noticed.
  ASSERT_EQ("OK\n", Control("set battery"));
  EXPECT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
}

TEST_F(KeepdEvents, FirstIdentificationFailingIsTheNotIdentifiedEventNotALinkLoss) {
  ASSERT_EQ("OK\n", Control("fault silent on"));
  Start("");
  // The failed identification is told by the evaluation after the next failed attempt.
  ASSERT_TRUE(WaitForLine(kNotIdentified, 1, 2 * kLinkLossLimit)) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(1500));
  const std::string log = tree_.LogText();
  EXPECT_EQ(1, CountLines(log, kNotIdentified)) << log;
  EXPECT_EQ(0, CountLines(log, kLinkLost)) << log;
  EXPECT_EQ(0, CountLines(log, kIdentified)) << log;
}

// The charge estimate falls on battery, is written to the hive every second and is where the next
// run starts from.
TEST_F(KeepdEvents, ChargeEstimateSurvivesARestart) {
  Start(Dword("SrvPollingUps", 1) + Dword("UpsFixedTime", 20));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(3000));
  ASSERT_EQ("OK\n", Control("set mains"));
  ASSERT_TRUE(WaitForLine(kMainsBack)) << tree_.LogText();
  ASSERT_EQ(std::optional<int>(0), StopKeepd());

  const std::string hive = ReadFileText(tree_.HivePath());
  std::smatch match;
  ASSERT_TRUE(std::regex_search(hive, match, std::regex("\"UpsBatteryCapacity\"=\"([0-9.]+)\""))) << hive;
  const double stored = std::stod(match[1].str());
  // Each second on battery takes 1/20 of the charge.
  EXPECT_LT(stored, 90.0);
  EXPECT_GT(stored, 40.0);

  RunKeepd();
  ASSERT_TRUE(WaitForLine(kIdentified, 2)) << tree_.LogText();
  std::unique_ptr<Peer> client = ConnectPeer();
  ASSERT_TRUE(client != nullptr);
  client->Send(ScrambleText("<|101|>") + "\r\n");
  const std::string answer = ReadAnswer(*client);
  // <|101|status|anomaly|load|temperature|autonomy|charge in tenths|calibration|>
  std::smatch fields;
  ASSERT_TRUE(std::regex_match(answer, fields, std::regex(R"(<\|101\|0\|0\|\d+\|[^|]*\|(\d+)\|(\d+)\|[^|]*\|>)")))
      << answer;
  const double charge = std::stod(fields[2].str()) / 10.0;
  EXPECT_NEAR(stored, charge, 0.5) << answer;
  EXPECT_NEAR(20.0 * charge / 100.0, std::stod(fields[1].str()), 1.0) << "autonomy from the kept charge";
}

TEST_F(KeepdEvents, DataSamplesUseTheSeparatorThroughout) {
  Start(Dword("DataRate", 1) + Text("DataSeparator", ";"));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  const std::string data_file = tree_.InstallPath() + "data/ups_data.csv";
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string data = ReadFileText(data_file);
        return std::count(data.begin(), data.end(), '\n') >= 3;
      },
      kLimit))
      << ReadFileText(data_file);
  const std::string data = ReadFileText(data_file);
  EXPECT_EQ(0u, data.rfind("Date;Time;InputVoltage_R(V);", 0)) << data;
  EXPECT_EQ(std::string::npos, data.find(',')) << data;
  // A row: date;time;input R;S;T;output R;S;T;power R;... with the simulator's 230 V and 34 % load on
  // a single-phase UPS (no watts: the load with its "%" unit).
  EXPECT_TRUE(std::regex_search(data, std::regex(R"(\r\n\d\d/\d\d/\d{4};\d\d:\d\d:\d\d;230;;;230;;;34\.0;;;)")))
      << data;
  EXPECT_NE(std::string::npos, data.find(";OutputPower_R(%);")) << data;
}

TEST_F(KeepdEvents, BatteryTestResultIsLoggedAndAnsweredToTheAsker) {
  Start("");
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  std::unique_ptr<Peer> client = ConnectPeer();
  ASSERT_TRUE(client != nullptr);
  client->Send(ScrambleText("<|400|>") + "\r\n");
  // The UPS tests its battery for a while before the server asks for the status again.
  const std::string answer = ReadAnswer(*client, milliseconds(30000));
  EXPECT_EQ(0u, answer.rfind("<|400|", 0)) << answer;
  EXPECT_TRUE(WaitForLine("Battery test done - result: Ok")) << tree_.LogText();
  EXPECT_NE(std::string::npos, sim_->RecordedQueries().find("T\n")) << sim_->RecordedQueries();
}

TEST_F(KeepdEventsWithBeeper, SettingsChangeIsToldToEveryClientOnceAndToNobodyElse) {
  Start("");
  ASSERT_TRUE(WaitForLine("UPS identified: " + model_)) << tree_.LogText();
  std::unique_ptr<Peer> asker = ConnectPeer();
  std::unique_ptr<Peer> other = ConnectPeer();
  ASSERT_TRUE(asker != nullptr && other != nullptr);
  asker->Send(ScrambleText("<|303|1|>") + "\r\n");
  const std::string to_asker = ReadAnswer(*asker);
  const std::string to_other = ReadAnswer(*other);
  EXPECT_EQ(0u, to_asker.rfind("<|303|", 0)) << to_asker;
  EXPECT_EQ(to_asker, to_other);
  // Nothing more for either: the notice was the answer.
  asker->Send(ScrambleText("<|101|>") + "\r\n");
  EXPECT_EQ(0u, ReadAnswer(*asker).rfind("<|101|", 0));
  EXPECT_NE(std::string::npos, sim_->RecordedQueries().find("Q\n")) << sim_->RecordedQueries();
}

// The other computers on the UPS are told of the mains failure: an agent that greets properly gets
// the shutdown command, one that greets wrongly gets nothing, and each outcome is one log line.
TEST_F(KeepdEvents, MainsFailureReachesTheRemoteAgents) {
  RemoteAgent good(ScrambleText("<|ok|>"));
  RemoteAgent wrong(ScrambleText("<|OK|>"));
  ASSERT_TRUE(good.Ok() && wrong.Ok());
  Start(Dword("SrvPollingUps", 1) + Dword("RsTimeoutConnection", 2),
        {{6, "$R_SHUT,127.0.0.1," + good.PortText() + "|$R_SHUT,127.0.0.1," + wrong.PortText() + "|$R_MSG,127.0.0.1," +
                 good.PortText()}});
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", Control("set battery"));
  ASSERT_TRUE(good.WaitForClosedSessions(2)) << tree_.LogText();
  ASSERT_TRUE(wrong.WaitForClosedSessions(1)) << tree_.LogText();
  // The commands run side by side, so the agent may take either connection first.
  const std::string shutdown = ScrambleText("<|3|0|>") + "\r\n";
  const size_t message_session = good.Received(0) == shutdown ? 1 : 0;
  EXPECT_EQ(shutdown, good.Received(1 - message_session));
  EXPECT_EQ("", wrong.Received(0));
  // The message: time stamp, two line breaks and the event's message.
  const std::string received = good.Received(message_session);
  const std::string message = UnscrambleText(received.substr(0, received.find("\r\n")));
  EXPECT_TRUE(std::regex_search(message, std::regex(R"(^<\|3\|1\|\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r\n\r\n)"))) << message;
  EXPECT_TRUE(WaitForLine("RS - Command sent to 127.0.0.1", 2)) << tree_.LogText();
  EXPECT_TRUE(WaitForLine("RS - Command not sent: the remote agent did not greet as expected")) << tree_.LogText();
}

}  // namespace
}  // namespace keep::test

// keepd against the simulated UPS, down to the end of a power failure: the pop-ups the person at the
// console sees (through the note-box stand-in), the UPS switch-off query with its restart, and the
// shutdown script, which must run exactly once however the shutdown was asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/date_time.h"
#include "platform/platform_info.h"
#include "tests/support/keepd_client.h"
#include "tests/support/keepd_on_simulator.h"
#include "tests/support/remote_agent.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// Long enough for the battery to run down on the longest fixed time used here.
constexpr milliseconds kShutdownLimit{60000};

constexpr char kIdentified[] = "UPS identified: Keep LineGuard 1000";
constexpr char kMainsFailed[] = "Mains power failure - the UPS is running on battery";
constexpr char kBatteryLow[] = "Battery low";
constexpr char kShutdown[] = "Shutdown of this computer started";
constexpr char kCountdown[] = "On battery - shutdown in";

// The hive values configuring one action list per given text, after the one that logs the UPS's
// identification (which the tests wait for).
std::string EventListsAfterIdentification(std::vector<std::string> lists) {
  lists.insert(lists.begin(), "2|$LOG");
  return EventLists(lists);
}

// One start of a companion program: its name, then its arguments.
using Call = std::vector<std::string>;

std::vector<Call> ParseCalls(const std::string& text) {
  std::vector<Call> calls;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind("--- ", 0) == 0) {
      calls.push_back({line.substr(4)});
    } else if (!calls.empty()) {
      calls.back().push_back(line);
    }
    start = end + 1;
  }
  return calls;
}

class KeepdShutdown : public KeepdOnSimulator {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartUps(1)); }

  void Start(const std::string& values) { StartKeepd(kMegatecTestModel, Dword("SrvPollingUps", 1) + values); }

  bool WaitForScript(milliseconds limit = kLimit) {
    return WaitUntil([&] { return ScriptRuns() >= 1; }, limit);
  }

  std::vector<Call> Calls(const std::string& program) const {
    std::vector<Call> calls;
    for (Call& call : ParseCalls(ReadFileText(tree_.InstallPath() + "data/companion_calls.txt"))) {
      if (call.front() == program) calls.push_back(std::move(call));
    }
    return calls;
  }

  // Lets the server run on after the shutdown, to show that nothing happens twice.
  static void Linger() { std::this_thread::sleep_for(milliseconds(2500)); }

  // The time stamp of the first log line whose text starts with `text`, in seconds since the epoch
  // of the day numbers; nullopt when there is none.
  std::optional<int64_t> LoggedAt(const std::string& text) const {
    const std::regex line(R"((\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d)  )" + text);
    std::smatch match;
    const std::string log = tree_.LogText();
    if (!std::regex_search(log, match, line)) return std::nullopt;
    const auto number = [&](int i) { return std::stoi(match[i]); };
    const std::optional<DateTime> when =
        DateTime::FromCivil({number(3), number(2), number(1), number(4), number(5), number(6), 0});
    if (!when) return std::nullopt;
    return when->Milliseconds() / 1000;
  }

  // Whether a line of the log holding `later` comes after the first one holding `earlier`.
  bool LoggedAfter(const std::string& earlier, const std::string& later) const {
    const std::string log = tree_.LogText();
    const size_t first = log.find(earlier);
    return first != std::string::npos && log.find(later, first) != std::string::npos;
  }
};

TEST_F(KeepdShutdown, PowerFailureShowsItsMessagesThenSwitchesOffAndShutsDownOnce) {
  // The countdown notice (event 9) is raised only while a whole minute is left, so the battery
  // must last a little over half a minute.
  Start(Dword("UpsFixedTime", 36) + Dword("SrvBroadcast", 1) + Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) +
        Dword("UpsOnEnabled", 1) + Dword("UpsOnDelay", 60) +
        EventListsAfterIdentification({"6|$POPUP|$LOG", "9|$POPUP|$LOG", "10|$POPUP|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  ASSERT_TRUE(WaitForScript(kShutdownLimit)) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  Linger();

  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  // 180 s and 60 s in whole minutes.
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();

  const std::string computer = platform::ComputerName();
  const std::vector<Call> boxes = Calls("VNoteBox");
  ASSERT_GE(boxes.size(), 3u);
  for (const Call& box : boxes) {
    ASSERT_EQ(4u, box.size());
    EXPECT_EQ("/T:0", box[1]);
  }
  // No time stamp: the message itself, macros and line breaks resolved.
  EXPECT_TRUE(std::regex_match(boxes.front()[2], std::regex("/M:Power failure on " + computer +
                                                            R"( \(Keep LineGuard 1000\)\.\rThe computer is running )"
                                                            R"(on battery and will shut down in about \d+ minutes )"
                                                            R"(unless the mains return\.)")))
      << boxes.front()[2];
  EXPECT_EQ("/I:48", boxes.front()[3]);
  for (size_t i = 1; i + 1 < boxes.size(); ++i) {
    EXPECT_EQ("/M:" + computer + " is running on battery.\rIt will shut down in 1 minutes.\rSave your work now.",
              boxes[i][2]);
    EXPECT_EQ("/I:48", boxes[i][3]);
  }
  EXPECT_EQ("/M:" + computer + " is shutting down now.\rSave your work and close your programs.", boxes.back()[2]);
  EXPECT_EQ("/I:64", boxes.back()[3]);
  EXPECT_TRUE(Calls("notebox").empty()) << "this system shows pop-ups in the user's session";
}

TEST_F(KeepdShutdown, WithoutRestartTheConfiguredRestartDelayIsNotUsed) {
  Start(Dword("UpsFixedTime", 4) + Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) + Dword("UpsOnEnabled", 0) +
        Dword("UpsOnDelay", 600) + EventListsAfterIdentification({"10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForScript(kShutdownLimit)) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  Linger();
  // "No restart" reaches this protocol as its shortest restart delay, not the 10 minutes configured.
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
}

TEST_F(KeepdShutdown, WithoutSwitchOffOnlyTheScriptRuns) {
  Start(Dword("UpsFixedTime", 4) + Dword("UpsOffEnabled", 0) + Dword("UpsOnEnabled", 1) +
        EventListsAfterIdentification({"10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForScript(kShutdownLimit)) << tree_.LogText();
  Linger();
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  EXPECT_TRUE(SwitchOffQueries().empty()) << sim_->RecordedQueries();
}

TEST_F(KeepdShutdown, LowBatteryAskingForTheShutdownShutsDownOnce) {
  // The fixed time alone would not shut down during the test.
  Start(Dword("UpsFixedTime", 600) + Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 120) + Dword("UpsOnEnabled", 1) +
        Dword("UpsOnDelay", 600) + EventListsAfterIdentification({"6|$LOG", "8|$LOG|$SHUTDOWN", "10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  EXPECT_EQ(0, ScriptRuns()) << ShutdownRequests();
  ASSERT_EQ("OK\n", sim_->Command("set lowbattery"));
  ASSERT_TRUE(WaitForLine(kBatteryLow)) << tree_.LogText();
  ASSERT_TRUE(WaitForScript()) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  Linger();
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kBatteryLow)) << tree_.LogText();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  EXPECT_EQ(std::vector<std::string>{"S02R0010"}, SwitchOffQueries()) << sim_->RecordedQueries();
}

TEST_F(KeepdShutdown, AShutdownEventThatOnlyLogsShutsNothingDown) {
  Start(Dword("UpsFixedTime", 4) + Dword("UpsOffEnabled", 1) + Dword("UpsOnEnabled", 1) +
        EventListsAfterIdentification({"6|$LOG", "10|$LOG"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kShutdown, 1, kShutdownLimit)) << tree_.LogText();
  Linger();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  EXPECT_EQ(0, ScriptRuns()) << ShutdownRequests();
  EXPECT_TRUE(SwitchOffQueries().empty()) << sim_->RecordedQueries();
  EXPECT_TRUE(server_->Running());
}

// --- One shutdown at a time ---

TEST_F(KeepdShutdown, ClientShutdownRequestsDuringAPowerFailureShutdownAreNotExecuted) {
  Start(Dword("UpsFixedTime", 4) + Dword("SrvDownFromMonitor", 1) + Dword("UpsOffEnabled", 1) +
        Dword("UpsOffDelay", 180) + Dword("UpsOnEnabled", 1) + Dword("UpsOnDelay", 60) +
        EventListsAfterIdentification({"10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  std::unique_ptr<KeepdClient> client = Connect();
  ASSERT_NE(nullptr, client);
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForScript(kShutdownLimit)) << tree_.LogText();
  EXPECT_EQ("<|309|0|>", client->Ask("<|309|>"));
  EXPECT_EQ("<|309|0|>", client->Ask("<|309|>"));
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  Linger();
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  // The power failure's switch-off with its restart, and no second one without.
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
}

TEST_F(KeepdShutdown, TwoClientShutdownRequestsAndAPowerFailureShutDownOnce) {
  Start(Dword("UpsFixedTime", 4) + Dword("SrvDownFromMonitor", 1) + Dword("UpsOffEnabled", 1) +
        Dword("UpsOffDelay", 120) + Dword("UpsOnEnabled", 1) + Dword("UpsOnDelay", 600) +
        EventListsAfterIdentification({"6|$LOG", "10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  std::unique_ptr<KeepdClient> client = Connect();
  ASSERT_NE(nullptr, client);
  EXPECT_EQ("<|309|1|>", client->Ask("<|309|>"));
  EXPECT_EQ("<|309|0|>", client->Ask("<|309|>"));
  ASSERT_TRUE(WaitForScript()) << tree_.LogText();
  // The battery runs out long before the test ends; the shutdown under way covers it.
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(7000));
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  // Switched off without the restart: this protocol's shortest restart delay.
  EXPECT_EQ(std::vector<std::string>{"S02R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
}

// --- Low battery is battery ---

TEST_F(KeepdShutdown, AFlappingLowBatterySignalNeitherRestartsNorStopsTheCountdown) {
  Start(Dword("UpsFixedTime", 20) + Dword("UpsOffEnabled", 0) +
        EventListsAfterIdentification({"6|$LOG", "7|$LOG", "8|$LOG", "10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(10000));
  // Low battery 10 s into the 20 s, back to plain battery, and low again when the time is up.
  for (const char* state : {"set lowbattery", "set battery", "set lowbattery"}) {
    ASSERT_EQ("OK\n", sim_->Command(state));
    std::this_thread::sleep_for(milliseconds(2500));
  }
  ASSERT_TRUE(WaitForScript(milliseconds(15000))) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  Linger();

  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines(kMainsFailed)) << tree_.LogText();
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  EXPECT_EQ(0, LogLines("Mains power restored")) << tree_.LogText();
  const std::optional<int64_t> failed = LoggedAt(kMainsFailed);
  const std::optional<int64_t> shut_down = LoggedAt(kShutdown);
  ASSERT_TRUE(failed && shut_down) << tree_.LogText();
  // Twenty seconds of battery, counted by whole seconds of the main cycle from the poll that saw the
  // failure.
  EXPECT_GE(*shut_down - *failed, 18) << tree_.LogText();
  EXPECT_LE(*shut_down - *failed, 24) << tree_.LogText();
}

// --- The script never waits past the switch-off ---

TEST_F(KeepdShutdown, TheScriptWaitsForASilentAgentOnlyHalfTheSwitchOffDelay) {
  // Countdown notices every second go to an agent that never answers, each waited for 8 s; low
  // battery starts the shutdown with the UPS switching off 10 s later. The script may wait for the
  // notices under way for 5 s at most, and no notice is raised once the shutdown runs.
  test::RemoteAgent silent(std::nullopt);
  ASSERT_TRUE(silent.Ok());
  Start(Dword("UpsFixedTime", 600) + Dword("SrvBroadcast", 1) + Dword("RsTimeoutConnection", 8) +
        Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 10) + Dword("UpsOnEnabled", 0) +
        EventListsAfterIdentification(
            {"8|$LOG|$SHUTDOWN", "9|$LOG|$R_MSG,127.0.0.1," + silent.PortText(), "10|$LOG|$SHUTDOWN"}));
  ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitUntil([&] { return silent.Accepted() >= 3; }, kLimit)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set lowbattery"));

  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  const auto switched_off = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForScript(milliseconds(15000))) << tree_.LogText();
  const auto waited = std::chrono::steady_clock::now() - switched_off;
  // Half the switch-off delay, and a second of slack for the sample script to write its record.
  EXPECT_LT(waited, milliseconds(6000));
  Linger();
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_FALSE(LoggedAfter(kShutdown, kCountdown)) << tree_.LogText();
}

}  // namespace
}  // namespace keep::test

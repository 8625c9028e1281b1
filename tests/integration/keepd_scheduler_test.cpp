// keepd's scheduler with upssim as the UPS and real clients: a plan sent by a client comes back
// unchanged, is taken in at once (passed items leave the file), and a daily shutdown planned a few
// seconds ahead warns, runs the shutdown script and switches the UPS off with its planned restart;
// a planned shutdown runs the script once whatever comes after it or while the UPS link is down.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/date_time.h"
#include "common/scrambling.h"
#include "common/time_text.h"
#include "platform/clock.h"
#include "tests/support/keepd_client.h"
#include "tests/support/keepd_on_simulator.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// The plan is checked every 30 s: a shutdown comes at most that long after its time.
constexpr milliseconds kShutdownLimit{75000};
// How far ahead the planned shutdown lies: long enough for keepd to have loaded the plan.
constexpr int64_t kLeadSeconds = 20;

// Items that never fire while a test runs: on a day far ahead, daily at a time already passed.
constexpr char kFarOnce[] = "SR|O|80000|3600|-1|-1";
constexpr char kFarBatteryTest[] = "BT|O|80001|7200|-1|-1";
constexpr char kWeeklyCalibration[] = "AT|W|6|10800|-1|-1";

std::string PlanText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The request line of an upload of `lines` and its payload, each line scrambled by itself.
std::string Upload(const std::vector<std::string>& lines) {
  std::string payload;
  for (const std::string& line : lines) payload += ScrambleText(line) + "\r\n";
  return ScrambleText("<|203|" + std::to_string(payload.size()) + "|>") + "\r\n" + payload;
}

// The plan lines of a download (request 202): the count, "i|line" for each, then "@". Nullopt when
// an answer is missing or out of order.
std::optional<std::vector<std::string>> DownloadPlan(KeepdClient& client) {
  client.SendFrame("<|202|>");
  const std::string head = client.Next().value_or("");
  const std::regex head_form(R"(<\|202\|(\d+)\|>)");
  std::smatch match;
  if (!std::regex_match(head, match, head_form)) return std::nullopt;
  const size_t count = std::stoul(match[1]);
  std::vector<std::string> lines;
  for (size_t i = 1; i <= count; ++i) {
    const std::string answer = client.Next().value_or("");
    const std::string prefix = "<|202|" + std::to_string(i) + "|";
    if (answer.rfind(prefix, 0) != 0 || answer.size() < prefix.size() + 2) return std::nullopt;
    lines.push_back(answer.substr(prefix.size(), answer.size() - prefix.size() - 2));
  }
  if (count > 0 && client.Next().value_or("") != "<|202|@|>") return std::nullopt;
  return lines;
}

// A daily shutdown without restart, planned `offset` seconds from now (negative: already past).
std::string DailyShutdownFromNow(int64_t offset) {
  const DateTime now = platform::WallClock::CreateReal()->Now();
  const int64_t at = ((now.MillisecondOfDay() / 1000 + offset) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
  return "SR|D|0|" + std::to_string(at) + "|-1|-1";
}

class KeepdScheduler : public KeepdOnSimulator {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartUps(1)); }

  // Writes the hive (plus `values`) and starts keepd; waits until a client is served the UPS status.
  void Start(const std::string& values = "") {
    ASSERT_TRUE(StartKeepd(kMegatecTestModel, Dword("SrvPollingUps", 1) + values));
    client_ = Connect();
    ASSERT_NE(nullptr, client_);
    const bool served = WaitUntil([&] { return client_->Ask("<|101|>").rfind("<|101|0|0|", 0) == 0; }, kLimit);
    ASSERT_TRUE(served) << tree_.LogText();
  }

  std::string PlanFile() const { return tree_.InstallPath() + "data/sch_data.dat"; }
  std::string Plan() const { return ReadFileText(PlanFile()); }

  std::unique_ptr<KeepdClient> client_;
};

TEST_F(KeepdScheduler, AnUploadedPlanDownloadsBackAsSent) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::vector<std::string> plan{kFarOnce, kFarBatteryTest, kWeeklyCalibration};
  ASSERT_TRUE(client_->SendRaw(Upload(plan)));
  EXPECT_EQ("<|203|1|>", client_->Next());
  EXPECT_TRUE(LogShows("SCHEDULER - New scheduler plan received from 127.0.0.1")) << tree_.LogText();
  EXPECT_EQ(std::optional<std::vector<std::string>>(plan), DownloadPlan(*client_));
  EXPECT_EQ(PlanText(plan), Plan());
}

// Needs the scheduler wired to the client server's "new plan stored" hook.
TEST_F(KeepdScheduler, AStoredPlanIsReloadedAtOnceAndLosesItsPassedOnceItems) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(client_->SendRaw(Upload({"BT|O|1000|3600|-1|-1", kFarOnce, "SR|O|40000|0|-1|-1"})));
  EXPECT_EQ("<|203|1|>", client_->Next());
  EXPECT_TRUE(WaitUntil([&] { return Plan() == PlanText({kFarOnce}); }, kLimit)) << Plan();
  EXPECT_EQ(std::optional<std::vector<std::string>>({kFarOnce}), DownloadPlan(*client_));
}

// Needs the scheduler loaded by the start sequence.
TEST_F(KeepdScheduler, APlanOnDiskIsCleanedAtStart) {
  WriteFileText(PlanFile(), PlanText({"SR|O|1000|3600|-1|-1", kFarBatteryTest, "garbage", kWeeklyCalibration}));
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_TRUE(WaitUntil([&] { return Plan() == PlanText({kFarBatteryTest, kWeeklyCalibration}); }, kLimit)) << Plan();
}

// Needs the whole wiring: the plan loaded at start, the scheduler's own check and its restart in the
// local shutdown.
TEST_F(KeepdScheduler, ADailyShutdownWarnsThenSwitchesTheUpsOffAndRunsTheScriptOnce) {
  const DateTime now = platform::WallClock::CreateReal()->Now();
  const int64_t seconds_now = now.MillisecondOfDay() / 1000;
  const int64_t shutdown = (seconds_now + kLeadSeconds) % kSecondsPerDay;
  const int64_t restart = (shutdown + 3600) % kSecondsPerDay;
  WriteFileText(PlanFile(), PlanText({"SR|D|0|" + std::to_string(shutdown) + "|0|" + std::to_string(restart)}));
  ASSERT_NO_FATAL_FAILURE(Start(Dword("SrvDownWarningTime", 60) + Dword("UpsOffEnabled", 1) +
                                Dword("UpsOffDelay", 180) + Dword("UpsOnEnabled", 1) + Dword("UpsOnDelay", 60) +
                                EventLists({"10|$LOG|$SHUTDOWN", "11|$LOG"})));

  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, kShutdownLimit)) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  // Nothing happens twice while the server runs on.
  std::this_thread::sleep_for(milliseconds(2500));

  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines("SCHEDULER - Scheduled shutdown in 1 minutes")) << tree_.LogText();
  EXPECT_EQ(1, LogLines("SCHEDULER - Shutdown of this computer started")) << tree_.LogText();
  EXPECT_TRUE(std::regex_search(tree_.LogText(), std::regex(R"(  SCHEDULER - The UPS will restart on )"
                                                            R"(\d\d/\d\d/\d{4} at \d\d:\d\d:\d\d\r\n)")))
      << tree_.LogText();
  // Off after 3 minutes; back on an hour after the planned time, measured from the moment the check
  // noticed it (up to 30 s late), less the switch-off delay: 3389-3419 s, 56 whole minutes, not the
  // configured one.
  EXPECT_EQ(std::vector<std::string>{"S03R0056"}, SwitchOffQueries()) << sim_->RecordedQueries();
  // A daily item stays in the plan.
  EXPECT_EQ(PlanText({"SR|D|0|" + std::to_string(shutdown) + "|0|" + std::to_string(restart)}), Plan());
}

// Planned 5 s before keepd starts: a start so soon after an item's time still runs it, at the first
// check, 30 s after the start.
TEST_F(KeepdScheduler, APlannedShutdownThenAMainsBlipRunsTheScriptOnce) {
  WriteFileText(PlanFile(), PlanText({DailyShutdownFromNow(-5)}));
  ASSERT_NO_FATAL_FAILURE(Start(Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) +
                                EventLists({"6|$LOG", "7|$LOG", "10|$LOG|$SHUTDOWN"})));
  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, kShutdownLimit)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine("Mains power failure - the UPS is running on battery")) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set mains"));
  ASSERT_TRUE(WaitForLine("Mains power restored")) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(3000));

  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines("SCHEDULER - Shutdown of this computer started")) << tree_.LogText();
  EXPECT_EQ(0, LogLines("Shutdown of this computer started")) << tree_.LogText();
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
}

// Planned 40 s ahead: the UPS falls silent at once and is given up within 30 s, so the shutdown comes
// at the second check, during the link loss.
TEST_F(KeepdScheduler, APlannedShutdownDuringALinkLossRunsTheScriptAndSwitchesOffOnceTheLinkIsBack) {
  WriteFileText(PlanFile(), PlanText({DailyShutdownFromNow(40)}));
  ASSERT_NO_FATAL_FAILURE(Start(Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) +
                                EventLists({"2|$LOG", "4|$LOG", "5|$LOG", "10|$LOG|$SHUTDOWN"})));
  // Lost after the identification: before it, silence is a failed identification, not a link loss.
  ASSERT_TRUE(WaitForLine("UPS identified: Keep LineGuard 1000")) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("fault silent on"));
  ASSERT_TRUE(WaitForLine("Communication with the UPS lost", 1, milliseconds(30000))) << tree_.LogText();
  ASSERT_EQ(0, ScriptRuns()) << "the link was lost before the shutdown's time";

  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, kShutdownLimit)) << tree_.LogText();
  EXPECT_TRUE(SwitchOffQueries().empty()) << "the switch-off waits for the link";
  ASSERT_EQ("OK\n", sim_->Command("fault clear"));
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, milliseconds(20000))) << sim_->RecordedQueries();
  std::this_thread::sleep_for(milliseconds(2500));

  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, LogLines("SCHEDULER - Shutdown of this computer started")) << tree_.LogText();
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
}

}  // namespace
}  // namespace keep::test

// keepd end to end on the binary protocols, with upssim playing the UPS on a pty: identification,
// polling, a power failure and its return in the log, the link lost and restored for the clients,
// and settings that reach the UPS as the bytes it expects. Also the single-phase family's lists and
// tests, which only a UPS of that family offers, and the query protocol's identification texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/keepd_on_simulator.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// A silent UPS is given up after three unanswered exchanges, each retried after a 2 s wake-up; the
// shipped models wait up to 4 s for a reply.
constexpr milliseconds kLinkLossLimit{40000};

constexpr char kMainsFailed[] = "Mains power failure - the UPS is running on battery";
constexpr char kMainsBack[] = "Mains power restored";

struct UpsUnderTest {
  int protocol;
  const char* model;
  const char* status_request;  // the main data request of the family
  const char* setting;         // a client's settings request
  const char* setting_bytes;   // the command and data bytes it must reach the UPS as
  const char* firmware;        // as the simulator identifies itself
  const char* serial;
};

// The fields of a client answer "<|code|f1|f2|...|>", the code first.
std::vector<std::string> AnswerFields(const std::string& answer) {
  std::vector<std::string> fields;
  if (answer.size() < 4) return fields;
  const std::string body = answer.substr(2, answer.size() - 4);
  size_t start = 0;
  for (size_t bar = body.find('|'); bar != std::string::npos; bar = body.find('|', start)) {
    fields.push_back(body.substr(start, bar - start));
    start = bar + 1;
  }
  fields.push_back(body.substr(start));
  return fields;
}

class KeepdOnEveryProtocol : public KeepdOnSimulator, public ::testing::WithParamInterface<UpsUnderTest> {
 protected:
  // Events 6 and 7 (mains failed, restored) logged; the status read every second.
  void Start() {
    ASSERT_NO_FATAL_FAILURE(StartUps(GetParam().protocol));
    ASSERT_TRUE(StartKeepd(GetParam().model,
                           EventLists({"6|$LOG", "7|$LOG"}) + Dword("SrvPollingUps", 1)));
    client_ = Connect();
    ASSERT_NE(nullptr, client_) << server_->StandardError();
  }

  // The answer to `request` once it starts with `prefix`, polling; empty when it never did.
  std::string AskUntil(const std::string& request, const std::string& prefix) {
    std::string answer;
    const bool seen = WaitUntil(
        [&] {
          answer = client_->Ask(request);
          if (answer.rfind(prefix, 0) == 0) return true;
          std::this_thread::sleep_for(milliseconds(100));
          return false;
        },
        kLimit);
    return seen ? answer : "";
  }

  // The next line of `code` the client receives within `limit`; empty when none came.
  std::string NextOf(const std::string& code, milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      const std::optional<std::string> line = client_->Next(left);
      if (!line) break;
      if (line->rfind("<|" + code + "|", 0) == 0) return *line;
    }
    return "";
  }

  std::unique_ptr<KeepdClient> client_;
};

TEST_P(KeepdOnEveryProtocol, IdentifiesPollsAndReportsPowerLinkAndSettings) {
  const UpsUnderTest& ups = GetParam();
  ASSERT_NO_FATAL_FAILURE(Start());

  // The identification at start brings the firmware version and the serial number in.
  const std::vector<std::string> identity = AnswerFields(AskUntil("<|100|>", "<|100|" + std::string(ups.model)));
  ASSERT_GE(identity.size(), 8u) << tree_.LogText();
  EXPECT_EQ(identity[6], ups.firmware);
  EXPECT_EQ(identity[7], ups.serial);

  // The status poll: on mains, no anomaly.
  EXPECT_NE("", AskUntil(std::string("<|") + ups.status_request + "|>", std::string("<|") + ups.status_request + "|0|0|"))
      << sim_->RecordedQueries();

  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  EXPECT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("set mains"));
  EXPECT_TRUE(WaitForLine(kMainsBack)) << tree_.LogText();

  // A settings request reaches the UPS as exactly these bytes.
  client_->SendFrame(ups.setting);
  EXPECT_TRUE(WaitUntil(
      [&] { return sim_->RecordedQueries().find(std::string(ups.setting_bytes) + "\n") != std::string::npos; },
      kLimit))
      << sim_->RecordedQueries();

  ASSERT_EQ("OK\n", sim_->Command("fault silent on"));
  EXPECT_EQ("<|500|>", NextOf("500", kLinkLossLimit)) << tree_.LogText();
  ASSERT_EQ("OK\n", sim_->Command("fault silent off"));
  EXPECT_EQ("<|501|>", NextOf("501", kLinkLossLimit)) << tree_.LogText();
}

INSTANTIATE_TEST_SUITE_P(
    BinaryProtocols, KeepdOnEveryProtocol,
    ::testing::Values(
        UpsUnderTest{0, "Keep SineGuard 1500", "101", "<|303|0|>", "13 0", "1.05", "SP0418A03321"},
        UpsUnderTest{2, "Keep TriLine 10K", "101", "<|307|2026|12|9|18|5|59|3|>", "48 38 18 9 24 5 89 3", "2.10",
                     "SP2219B01187"},
        UpsUnderTest{4, "Keep ModuFrame 40", "131", "<|303|0|>", "68 0 1", "2.05", "KEEP4M002731"},
        UpsUnderTest{6, "Keep SineGuard 6000 XT", "101", "<|303|1|>", "13 1", "3.21", "SP6322C00915"}),
    [](const ::testing::TestParamInfo<UpsUnderTest>& info) { return "Protocol" + std::to_string(info.param.protocol); });


// keepd on a single-phase binary UPS for the requests only that family answers.
class KeepdSinglePhase : public KeepdOnSimulator {
 protected:
  void Start(int protocol, const std::string& model, const std::string& values = "") {
    ASSERT_NO_FATAL_FAILURE(StartUps(protocol));
    ASSERT_TRUE(StartKeepd(model, Dword("SrvPollingUps", 1) + values));
    client_ = Connect();
    ASSERT_NE(nullptr, client_) << server_->StandardError();
    ASSERT_TRUE(WaitUntil([&] { return client_->Ask("<|101|>").rfind("<|101|0|0|", 0) == 0; }, kLimit))
        << tree_.LogText() << sim_->RecordedQueries();
  }

  // How many times the UPS received exactly `query` (a command and its data bytes) since the last
  // "queries clear".
  int Received(const std::string& query) const { return CountOccurrences("\n" + sim_->Command("queries"), "\n" + query + "\n"); }

  std::unique_ptr<KeepdClient> client_;
};

TEST_F(KeepdSinglePhase, TheAutonomyCalibrationRunsFromStartToStop) {
  ASSERT_NO_FATAL_FAILURE(Start(0, "Keep SineGuard 1500"));
  auto watcher = Connect();
  ASSERT_NE(nullptr, watcher);
  ASSERT_EQ("OK\n", sim_->Command("queries clear"));

  // The start goes to the UPS as the calibration command, then a status read; every client hears it.
  EXPECT_EQ("<|401|1|&|>", client_->Ask("<|401|1|>"));
  std::optional<std::string> told;
  while ((told = watcher->Next()) && told->rfind("<|401|", 0) != 0) {
  }
  EXPECT_EQ("<|401|1|&|>", told.value_or("nothing"));
  const std::string queries = sim_->RecordedQueries();
  const size_t start = queries.find("14 1\n");
  ASSERT_NE(std::string::npos, start) << queries;
  EXPECT_EQ(queries.substr(start, 7), "14 1\n3\n") << queries;
  EXPECT_TRUE(LogShows("Autonomy test started")) << tree_.LogText();

  // On battery for the test, the server counts the seconds it lasts.
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::vector<std::string> status = AnswerFields(client_->Ask("<|101|>"));
        std::this_thread::sleep_for(milliseconds(100));
        return status.size() > 5 && status[1] == "1" && std::stoi(status[5]) >= 2;
      },
      kLimit));

  const std::string stopped = client_->Ask("<|401|0|>");
  const std::vector<std::string> fields = AnswerFields(stopped);
  ASSERT_EQ(fields.size(), 3u) << stopped;
  EXPECT_EQ(fields[1], "3") << stopped;
  EXPECT_GE(std::stoi(fields[2]), 2) << stopped;
  EXPECT_EQ(1, Received("14 2"));
  EXPECT_TRUE(LogShows("Autonomy test stopped - measured autonomy ")) << tree_.LogText();
  // The measurement is kept for the next start.
  const std::string hive = ReadFileText(tree_.HivePath());
  char autonomy[64];
  std::snprintf(autonomy, sizeof autonomy, "\"UpsAutonomyTime\"=dword:%08x", std::stoi(fields[2]));
  EXPECT_NE(std::string::npos, hive.find(autonomy)) << hive;
  EXPECT_EQ(std::string::npos, hive.find("\"UpsLoadPercent\"=\"-1\"")) << hive;
  EXPECT_NE(std::string::npos, hive.find("\"UpsLoadPercent\"=\"")) << hive;
}

TEST_F(KeepdSinglePhase, ProtocolTwoPagesItsEventListAndKeepsItsCalendar) {
  ASSERT_NO_FATAL_FAILURE(Start(2, "Keep TriLine 10K"));
  const auto count_of = [](const std::string& answer) {
    const std::vector<std::string> fields = AnswerFields(answer);
    EXPECT_EQ(fields.size() >= 2 ? fields.size() - 2 : 0, fields.size() >= 2 ? std::stoul(fields[1]) : 1) << answer;
    return fields.size() >= 2 ? std::stoi(fields[1]) : -1;
  };
  // Identified, keepd read the UPS's whole list afresh, one event per request until the UPS's end;
  // this read stops at the first event it already holds.
  const int initial = count_of(client_->Ask("<|109|>"));
  EXPECT_GE(initial, 1);
  const std::string record = "\n" + sim_->RecordedQueries();
  EXPECT_EQ(2, CountOccurrences(record, "\n46 0\n")) << record;
  EXPECT_EQ(initial, CountOccurrences(record, "\n46 1\n")) << record;

  // Two changes the UPS writes down; the next read brings exactly those two in.
  for (const char* change : {"battery", "mains"}) {
    ASSERT_EQ("OK\n", sim_->Command(std::string("set ") + change));
    const std::string status = std::string("<|101|") + (std::string(change) == "mains" ? "0" : "1") + "|";
    ASSERT_TRUE(WaitUntil([&] { return client_->Ask("<|101|>").rfind(status, 0) == 0; }, kLimit));
  }
  ASSERT_EQ("OK\n", sim_->Command("queries clear"));
  EXPECT_EQ(initial + 2, count_of(client_->Ask("<|109|>")));
  EXPECT_EQ(1, Received("46 0"));
  EXPECT_EQ(2, Received("46 1"));

  // A calendar written is read back the same.
  const std::string written = client_->Ask("<|308|1|0,*,*,*,7,30,1|1,12,24,*,18,0,2|>");
  const std::string read = client_->Ask("<|112|>");
  ASSERT_EQ(written.substr(0, 6), "<|308|") << written;
  ASSERT_EQ(read.substr(0, 6), "<|112|") << read;
  EXPECT_EQ(written.substr(6), read.substr(6));
  EXPECT_EQ(read.substr(6, 5), "1|2|0") << read;
  EXPECT_EQ(1, Received("52 0 170 170 170 7 48 1")) << sim_->RecordedQueries();
  EXPECT_EQ(1, Received("52 1 18 36 170 24 0 2")) << sim_->RecordedQueries();
}

// The road to the shutdown on this family: the battery runs down, the script runs once and the UPS
// is told once to switch off after 180 s and to restart 60 s after the mains return.
TEST_F(KeepdSinglePhase, APowerFailureSwitchesTheUpsOffOnceAndShutsDownOnce) {
  ASSERT_NO_FATAL_FAILURE(Start(0, "Keep SineGuard 1500",
                                Dword("UpsFixedTime", 4) + Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) +
                                    Dword("UpsOnEnabled", 1) + Dword("UpsOnDelay", 60) +
                                    EventLists({"4|$LOG", "6|$LOG", "10|$LOG|$SHUTDOWN"})));
  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kMainsFailed)) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, milliseconds(60000))) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return Received("10 180 0 0 0 60 0 0 0") >= 1; }, kLimit)) << sim_->RecordedQueries();
  // The server runs on: nothing happens twice, and the link is not taken for lost.
  std::this_thread::sleep_for(milliseconds(8000));
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  EXPECT_EQ(1, CountOccurrences(sim_->RecordedQueries(), "\n10 ")) << sim_->RecordedQueries();
  EXPECT_EQ(1, LogLines("Shutdown of this computer started")) << tree_.LogText();
  EXPECT_FALSE(LogShows("Communication with the UPS lost", milliseconds(0))) << tree_.LogText();
}

// The query protocol's identification answer as real units send it: names with blanks, or dashes.
TEST_F(KeepdSinglePhase, AQueryUpsIsIdentifiedWhateverItsIdentificationText) {
  for (const auto& [ident, firmware] : {std::pair<const char*, const char*>{"#ACME UPS CO    Line 650   V1.00     ", "1.00"},
                                        std::pair<const char*, const char*>{"#-------------   ------     VT12046Q  ", "VT12046Q"}}) {
    SCOPED_TRACE(ident);
    ASSERT_NO_FATAL_FAILURE(StartUps(1));
    ASSERT_EQ("OK\n", sim_->Command(std::string("set ident ") + ident));
    ASSERT_TRUE(StartKeepd(kMegatecTestModel, Dword("SrvPollingUps", 1)));
    auto client = Connect();
    ASSERT_NE(nullptr, client);
    ASSERT_TRUE(WaitUntil([&] { return client->Ask("<|101|>").rfind("<|101|0|0|340|", 0) == 0; }, kLimit))
        << sim_->RecordedQueries();
    std::string identity;
    EXPECT_TRUE(WaitUntil(
        [&] {
          identity = client->Ask("<|100|>");
          return identity.rfind(std::string("<|100|") + kMegatecTestModel + "|", 0) == 0;
        },
        kLimit))
        << identity;
    const std::vector<std::string> identity_fields = AnswerFields(identity);
    ASSERT_GE(identity_fields.size(), 7u);
    EXPECT_EQ(identity_fields[6], firmware);
    // An on-line unit of this protocol never tells its nominal battery voltage: its battery voltage is
    // not known, rather than 0 V.
    const std::vector<std::string> battery = AnswerFields(client->Ask("<|106|>"));
    ASSERT_GE(battery.size(), 2u);
    EXPECT_EQ(battery[1], "&");
    EXPECT_EQ(std::optional<int>(0), StopKeepd());
    server_.reset();
  }
}

// USB through the system's device layer: with no unit attached keepd runs on and finds the UPS silent,
// as it would a switched-off one, until a unit of the model arrives.
TEST_F(KeepdSinglePhase, AUsbLinkWithoutItsUnitStartsAndWaitsForIt) {
  ASSERT_TRUE(StartKeepd("Keep LineGuard 1000", Dword("UpsManType", 1) + EventLists({"0|$LOG"})));
  auto client = Connect();
  ASSERT_NE(nullptr, client);
  EXPECT_EQ("<|500|>", client->Ask("<|101|>"));
  EXPECT_TRUE(LogShows("Server started - UPS device "));
  EXPECT_EQ(std::string::npos, tree_.LogText().find("could not")) << tree_.LogText();
  EXPECT_EQ("", server_->StandardError());
  EXPECT_EQ(std::optional<int>(0), StopKeepd());
}

}  // namespace
}  // namespace keep::test

// keepd end to end on the binary protocols, with upssim playing the UPS on a pty: identification,
// polling, a power failure and its return in the log, the link lost and restored for the clients,
// and settings that reach the UPS as the bytes it expects. Also the single-phase family's lists and
// tests, which only a UPS of that family offers, and the query protocol's identification texts.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/keepd_on_simulator.h"

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

}  // namespace
}  // namespace keep::test

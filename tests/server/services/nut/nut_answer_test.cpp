// Conversations with the protocol's answerer: what a monitoring client sees line by line, its login,
// the refusals of a read-only server, and the data it cannot vouch for.
#include "server/services/nut/nut_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace keep::server::nut {
namespace {

class NutAnswerTest : public ::testing::Test {
 protected:
  NutAnswerTest() {
    view_.ups_name = "ups";
    view_.ups_description = "Keep \"Line\" 1000";
    view_.monitor_user = "monuser";
    view_.monitor_password = "secret";
    view_.version = "keepd 1.2.3";
    view_.data = NutDataState::kFresh;
    view_.variables = [this] {
      ++variable_reads_;
      return std::vector<NutVariable>{{"battery.charge", "100", true}, {"ups.status", "OL", false}};
    };
    view_.logged_in_peers = [this] {
      std::vector<std::string> peers;
      for (const NutSession* session : {&first_, &second_}) {
        if (session->logged_in) peers.push_back(session->peer);
      }
      return peers;
    };
    first_.peer = "127.0.0.1";
    second_.peer = "127.0.0.2";
  }

  // Each step: the session, the line, and the whole reply expected.
  struct Step {
    NutSession* session;
    std::string line;
    std::vector<std::string> reply;
    bool close = false;
  };
  void Walk(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      const NutReply reply = AnswerNutLine(step.line, *step.session, view_);
      EXPECT_EQ(step.reply, reply.lines) << step.line;
      EXPECT_EQ(step.close, reply.close) << step.line;
    }
  }

  NutServerView view_;
  NutSession first_;
  NutSession second_;
  int variable_reads_ = 0;
};

TEST_F(NutAnswerTest, AMonitoringClientReadsTheUpsAndNamesItAsItWroteIt) {
  Walk({
      {&first_, "VER", {"keepd 1.2.3"}},
      {&first_, "NETVER", {"1.3"}},
      {&first_, "STARTTLS", {"ERR FEATURE-NOT-CONFIGURED"}},
      {&first_, "LIST UPS", {"BEGIN LIST UPS", "UPS ups \"Keep \\\"Line\\\" 1000\"", "END LIST UPS"}},
      {&first_,
       "LIST VAR UPS",
       {"BEGIN LIST VAR UPS", "VAR UPS battery.charge \"100\"", "VAR UPS ups.status \"OL\"", "END LIST VAR UPS"}},
      {&first_, "get var Ups UPS.STATUS", {"VAR Ups UPS.STATUS \"OL\""}},
      {&first_, "GET VAR ups ups.temperature", {"ERR VAR-NOT-SUPPORTED"}},
      {&first_, "GET VAR other ups.status", {"ERR UNKNOWN-UPS"}},
      {&first_, "GET TYPE ups battery.charge", {"TYPE ups battery.charge NUMBER"}},
      {&first_, "GET TYPE ups ups.status", {"TYPE ups ups.status STRING:2"}},
      {&first_, "GET DESC ups ups.status", {"DESC ups ups.status \"UPS status\""}},
      {&first_, "GET DESC ups no.such", {"ERR VAR-NOT-SUPPORTED"}},
      {&first_, "GET UPSDESC ups", {"UPSDESC ups \"Keep \\\"Line\\\" 1000\""}},
      {&first_, "LIST CMD ups", {"BEGIN LIST CMD ups", "END LIST CMD ups"}},
      {&first_, "LIST RW ups", {"BEGIN LIST RW ups", "END LIST RW ups"}},
      {&first_, "LIST ENUM ups ups.status", {"BEGIN LIST ENUM ups ups.status", "END LIST ENUM ups ups.status"}},
      {&first_, "LIST RANGE ups nope", {"ERR VAR-NOT-SUPPORTED"}},
      {&first_, "LIST CMD nope", {"ERR UNKNOWN-UPS"}},
      {&first_, "GET CMDDESC ups beeper.toggle", {"ERR CMD-NOT-SUPPORTED"}},
      {&first_, "FROB", {"ERR UNKNOWN-COMMAND"}},
      {&first_, "GET VAR \"ups", {"ERR INVALID-ARGUMENT"}},
      {&first_, "LOGOUT", {"OK Goodbye"}, true},
  });
}

TEST_F(NutAnswerTest, OnlyTheConfiguredPairLogsInAndCountsWhileItIs) {
  Walk({
      {&first_, "LOGIN ups", {"ERR USERNAME-REQUIRED"}},
      {&first_, "USERNAME monuser", {"OK"}},
      {&first_, "USERNAME other", {"ERR ALREADY-SET-USERNAME"}},
      {&first_, "LOGIN ups", {"ERR PASSWORD-REQUIRED"}},
      {&first_, "PASSWORD secret", {"OK"}},
      {&first_, "PASSWORD again", {"ERR ALREADY-SET-PASSWORD"}},
      {&first_, "LOGIN nope", {"ERR UNKNOWN-UPS"}},
      {&first_, "GET NUMLOGINS ups", {"NUMLOGINS ups 0"}},
      {&first_, "LOGIN UPS", {"OK"}},
      {&first_, "LOGIN ups", {"ERR ALREADY-LOGGED-IN"}},
      {&second_, "USERNAME monuser", {"OK"}},
      {&second_, "PASSWORD secreT", {"OK"}},
      {&second_, "LOGIN ups", {"ERR ACCESS-DENIED"}},
      {&second_, "GET NUMLOGINS ups", {"NUMLOGINS ups 1"}},
      {&second_, "LIST CLIENT ups", {"BEGIN LIST CLIENT ups", "CLIENT ups 127.0.0.1", "END LIST CLIENT ups"}},
      // A secondary going down logs out: it stops counting before its connection is gone.
      {&first_, "LOGOUT", {"OK Goodbye"}, true},
      {&second_, "GET NUMLOGINS ups", {"NUMLOGINS ups 0"}},
  });
  // Without a configured user nobody logs in, whatever the pair.
  view_.monitor_user = "";
  view_.monitor_password = "";
  NutSession anyone;
  Walk({{&anyone, "USERNAME \"\"", {"OK"}}, {&anyone, "PASSWORD \"\"", {"OK"}}, {&anyone, "LOGIN ups", {"ERR ACCESS-DENIED"}}});
}

TEST_F(NutAnswerTest, NothingCanBeChangedAndTheRefusalSaysWhatIsMissing) {
  Walk({
      {&first_, "SET VAR ups ups.delay.shutdown 20", {"ERR USERNAME-REQUIRED"}},
      {&first_, "INSTCMD ups test.battery.start", {"ERR USERNAME-REQUIRED"}},
      {&first_, "FSD ups", {"ERR USERNAME-REQUIRED"}},
      {&first_, "USERNAME monuser", {"OK"}},
      {&first_, "FSD ups", {"ERR PASSWORD-REQUIRED"}},
      {&first_, "PASSWORD secret", {"OK"}},
      {&first_, "LOGIN ups", {"OK"}},
      {&first_, "SET VAR ups ups.delay.shutdown 20", {"ERR ACCESS-DENIED"}},
      {&first_, "INSTCMD ups load.off.delay 5", {"ERR ACCESS-DENIED"}},
      {&first_, "FSD ups", {"ERR ACCESS-DENIED"}},
      {&first_, "GET VAR ups ups.status", {"VAR ups ups.status \"OL\""}},
  });
}

TEST_F(NutAnswerTest, DataTheServerCannotVouchForIsNotAnsweredAndNotEvenRead) {
  view_.data = NutDataState::kStale;
  Walk({{&first_, "GET VAR ups ups.status", {"ERR DATA-STALE"}},
        {&first_, "LIST VAR ups", {"ERR DATA-STALE"}},
        {&first_, "GET VAR nope ups.status", {"ERR UNKNOWN-UPS"}}});
  view_.data = NutDataState::kNotConnected;
  Walk({{&first_, "GET VAR ups ups.status", {"ERR DRIVER-NOT-CONNECTED"}},
        {&first_, "LIST VAR ups", {"ERR DRIVER-NOT-CONNECTED"}},
        {&first_, "LIST UPS", {"BEGIN LIST UPS", "UPS ups \"Keep \\\"Line\\\" 1000\"", "END LIST UPS"}}});
  EXPECT_EQ(0, variable_reads_);
}

TEST(NutQuoteTest, EscapesQuotesAndBackslashesAndNeverBreaksTheLine) {
  EXPECT_EQ("\"\"", QuoteNutValue(""));
  EXPECT_EQ("\"a \\\"b\\\" \\\\c\"", QuoteNutValue("a \"b\" \\c"));
  EXPECT_EQ("\"x y z\"", QuoteNutValue("x\ny\rz"));
}

}  // namespace
}  // namespace keep::server::nut

// Commands to remote agents over loopback: what reaches the agent, the one log line each command
// leaves, the bounded wait for a silent agent and what a waiter for the commands under way waits for.
#include "server/services/remote_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/scrambling.h"
#include "common/text_lists.h"
#include "platform/system_error.h"
#include "tests/server/server_test_env.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/remote_agent.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::chrono::milliseconds kLimit{10000};
// The length of "dd/MM/yyyy hh:mm:ss  " before the text of each log line.
constexpr size_t kStampLength = 21;

const std::string kGreeting = ScrambleText("<|ok|>");

TEST(RemoteCommandFrameTest, HoldsCodeKindAndTextUnescaped) {
  EXPECT_EQ(RemoteCommandFrame(kRemoteShutdown, ""), "<|3|0|>");
  EXPECT_EQ(RemoteCommandFrame(4, ""), "<|3|4|>");
  EXPECT_EQ(RemoteCommandFrame(kRemoteMessage, "a|b"), "<|3|1|a|b|>");
}

TEST(CheckAgentGreetingTest, AcceptsOnlyTheExactOkFrame) {
  EXPECT_TRUE(CheckAgentGreeting(kGreeting));
  EXPECT_TRUE(CheckAgentGreeting(kGreeting + "\r\n"));
  EXPECT_TRUE(CheckAgentGreeting(ScrambleText("<| ok |>")));  // fields are trimmed
  EXPECT_FALSE(CheckAgentGreeting(ScrambleText("<|OK|>")));
  EXPECT_FALSE(CheckAgentGreeting(ScrambleText("<|ok|1|>")));
  EXPECT_FALSE(CheckAgentGreeting(ScrambleText("<|ok|")));
  EXPECT_FALSE(CheckAgentGreeting("<|ok|>"));  // not scrambled
  EXPECT_FALSE(CheckAgentGreeting(""));
}

class RemoteCommandsTest : public ::testing::Test {
 protected:
  RemoteCommandsTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context.Setup.ServerSetup.RsTimeoutConnection = 1;
    test::WriteFileText(context.Setup.LanguageFile,
                        "[LOGS]\n"
                        "RsCommandOk=Sent to $\n"
                        "RsCommandKo=Not sent$\n"
                        "RsTcpIpPortUsed=Port $ in use\n"
                        "RsHostNotFound=Host $ unknown\n"
                        "RsTcpIpNotInstalled=No network$\n");
    remote_ = std::make_unique<RemoteCommands>(context);
  }

  // The text of every log line, without its time stamp.
  std::vector<std::string> LogLines() const {
    TStringList lines;
    SplitText('\n', env_.LogText(), lines, true);
    for (std::string& line : lines) line = line.size() > kStampLength ? line.substr(kStampLength) : "";
    return lines;
  }
  bool RunUntilIdle() {
    return env_.RunUntil([this] { return remote_->InFlight() == 0; }, kLimit);
  }

  test::ServerTestEnv env_{{}, true};
  std::unique_ptr<RemoteCommands> remote_;
};

TEST_F(RemoteCommandsTest, GreetedAgentReceivesExactlyTheScrambledCommand) {
  test::RemoteAgent agent(kGreeting);
  ASSERT_TRUE(agent.Ok());
  remote_->Send("127.0.0.1", agent.PortText(), "", kRemoteShutdown);
  EXPECT_EQ(remote_->InFlight(), 1u);
  ASSERT_TRUE(RunUntilIdle());
  // The server closes after sending: no answer is awaited.
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), ScrambleText("<|3|0|>") + "\r\n");
  EXPECT_THAT(LogLines(), ElementsAre("RS - Sent to 127.0.0.1"));
}

TEST_F(RemoteCommandsTest, MessageTextWithBarsReachesTheAgentAsExtraFields) {
  test::RemoteAgent agent(kGreeting);
  remote_->Send("127.0.0.1", agent.PortText(), "08/12/2026 14:30:05\r\n\r\nMains|lost", kRemoteMessage);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  const std::string received = agent.Received(0);
  ASSERT_GE(received.size(), 2u);
  EXPECT_EQ(received.substr(received.size() - 2), "\r\n");
  const std::string plain = UnscrambleText(received.substr(0, received.size() - 2));
  EXPECT_EQ(plain, "<|3|1|08/12/2026 14:30:05\r\n\r\nMains|lost|>");
  TStringList fields;
  SplitText('|', plain, fields, true);
  EXPECT_THAT(fields, ElementsAre("<", "3", "1", "08/12/2026 14:30:05\r\n\r\nMains", "lost", ">"));
}

TEST_F(RemoteCommandsTest, UpperCaseGreetingGetsNothingAndLogsTheRefusal) {
  test::RemoteAgent agent(ScrambleText("<|OK|>"));
  remote_->Send("127.0.0.1", agent.PortText(), "", kRemoteShutdown);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), "");
  EXPECT_THAT(LogLines(), ElementsAre("RS - Not sent"));
}

TEST_F(RemoteCommandsTest, RefusedConnectionLogsTheSocketError) {
  const int refused = static_cast<int>(std::errc::connection_refused);
  remote_->Send("127.0.0.1", std::to_string(test::ClosedLoopbackPort()), "", kRemoteShutdown);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_THAT(LogLines(), ElementsAre("RS - " + platform::SystemErrorText(refused) +
                                      " (error code: " + std::to_string(refused) + ")"));
}

TEST_F(RemoteCommandsTest, UnknownHostLogsHostNotFoundWithTheHost) {
  remote_->Send("no-such-host.invalid", "65000", "", kRemoteShutdown);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_THAT(LogLines(), ElementsAre("RS - Host no-such-host.invalid unknown"));
}

TEST_F(RemoteCommandsTest, SilentAgentCostsAtMostTheConnectionTimeout) {
  test::RemoteAgent agent(std::nullopt);
  const auto start = std::chrono::steady_clock::now();
  remote_->Send("127.0.0.1", agent.PortText(), "", kRemoteShutdown);
  ASSERT_TRUE(RunUntilIdle());
  const auto waited = std::chrono::steady_clock::now() - start;
  // One second configured: the greeting was awaited, and not much longer.
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 3s);
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), "");
  EXPECT_THAT(LogLines(), ElementsAre("RS - Not sent"));
}

TEST_F(RemoteCommandsTest, AgentClosingWithoutGreetingLogsTheRefusal) {
  // An agent that greets with a partial line and goes away.
  test::LoopbackListener listener;
  remote_->Send("127.0.0.1", std::to_string(listener.Port()), "", kRemoteShutdown);
  ASSERT_TRUE(listener.Accept(kLimit));
  ASSERT_TRUE(listener.Write(kGreeting));  // no line end
  listener.ClosePeer();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_THAT(LogLines(), ElementsAre("RS - Not sent"));
}

TEST_F(RemoteCommandsTest, MissingHostOrBadPortIsLoggedAndNotTried) {
  test::RemoteAgent agent(kGreeting);
  const std::string port = agent.PortText();
  remote_->Send("", port, "", kRemoteShutdown);
  remote_->Send("  ", port, "", kRemoteShutdown);
  remote_->Send("127.0.0.1", "", "", kRemoteShutdown);
  remote_->Send("127.0.0.1", port + "x", "", kRemoteShutdown);
  remote_->Send("127.0.0.1", "-" + port, "", kRemoteShutdown);
  remote_->Send("127.0.0.1", "0", "", kRemoteShutdown);
  remote_->Send("127.0.0.1", "65536", "", kRemoteShutdown);
  remote_->Send("127.0.0.1", "99999999999999999999", "", kRemoteShutdown);
  // Nothing started, so nothing is left to wait for; the lines are there at once.
  EXPECT_EQ(remote_->InFlight(), 0u);
  EXPECT_THAT(LogLines(),
              ElementsAre("RS - Command not sent: no remote host given", "RS - Command not sent: no remote host given",
                          "RS - Command not sent to 127.0.0.1: port \"\" is not a number from 1 to 65535",
                          "RS - Command not sent to 127.0.0.1: port \"" + port + "x\" is not a number from 1 to 65535",
                          "RS - Command not sent to 127.0.0.1: port \"-" + port + "\" is not a number from 1 to 65535",
                          "RS - Command not sent to 127.0.0.1: port \"0\" is not a number from 1 to 65535",
                          "RS - Command not sent to 127.0.0.1: port \"65536\" is not a number from 1 to 65535",
                          "RS - Command not sent to 127.0.0.1: port \"99999999999999999999\" is not a number from 1 "
                          "to 65535"));
  env_.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(agent.Accepted(), 0u);
}

TEST_F(RemoteCommandsTest, MissingHostOrBadPortTextsComeFromTheLanguageFileWhenItHasThem) {
  // The fixture's language file predates these keys (the test above reads the English stand-ins).
  test::WriteFileText(env_.context().Setup.LanguageFile,
                      "[LOGS]\n"
                      "RsNoHost=Kein Rechner angegeben\n"
                      "RsBadPort=Port \"$\" von $ ist keine Zahl von 1 bis 65535\n");
  remote_->Send("", "5", "", kRemoteShutdown);
  remote_->Send("agent.lan", "x", "", kRemoteShutdown);
  // Host and port fill the marks in their order, whatever the wording.
  EXPECT_THAT(LogLines(), ElementsAre("RS - Kein Rechner angegeben",
                                      "RS - Port \"agent.lan\" von x ist keine Zahl von 1 bis 65535"));
}

TEST_F(RemoteCommandsTest, PortWithBlanksAndLeadingZerosIsANumber) {
  test::RemoteAgent agent(kGreeting);
  remote_->Send(" 127.0.0.1 ", " 0" + agent.PortText() + " ", "", 3);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), ScrambleText("<|3|3|>") + "\r\n");
  EXPECT_THAT(LogLines(), ElementsAre("RS - Sent to 127.0.0.1"));
}

TEST_F(RemoteCommandsTest, AWaiterRunsAtOnceWithoutCommands) {
  bool ran = false;
  remote_->AfterCommandsUnderWay([&] { ran = true; }, 10000);
  EXPECT_TRUE(ran);
}

TEST_F(RemoteCommandsTest, AWaiterWaitsForTheCommandsStartedBeforeItAndTheirLogLines) {
  test::RemoteAgent quick(kGreeting);
  test::RemoteAgent silent(std::nullopt);
  remote_->Send("127.0.0.1", silent.PortText(), "", kRemoteShutdown);
  remote_->Send("127.0.0.1", quick.PortText(), "", kRemoteShutdown);
  EXPECT_EQ(remote_->InFlight(), 2u);
  std::vector<std::string> order;
  std::vector<std::string> seen_by_first;
  remote_->AfterCommandsUnderWay(
      [&] {
        order.push_back("first");
        seen_by_first = LogLines();
      },
      10000);
  remote_->AfterCommandsUnderWay([&] { order.push_back("second"); }, 10000);
  EXPECT_THAT(order, IsEmpty());
  // The quick agent is done long before the silent one gives up: still waiting.
  ASSERT_TRUE(env_.RunUntil([this] { return LogLines().size() == 1; }, kLimit));
  EXPECT_THAT(order, IsEmpty());
  EXPECT_EQ(remote_->InFlight(), 1u);
  ASSERT_TRUE(env_.RunUntil([&] { return order.size() == 2; }, kLimit));
  EXPECT_THAT(order, ElementsAre("first", "second"));
  EXPECT_THAT(seen_by_first, ElementsAre("RS - Sent to 127.0.0.1", "RS - Not sent"));
}

TEST_F(RemoteCommandsTest, CommandsStartedAfterAWaiterAreNotWaitedFor) {
  test::RemoteAgent quick(kGreeting);
  test::RemoteAgent silent(std::nullopt);
  std::vector<std::string> order;
  size_t in_flight_then = 0;
  remote_->Send("127.0.0.1", quick.PortText(), "", kRemoteShutdown);
  remote_->AfterCommandsUnderWay(
      [&] {
        order.push_back("first:" + std::to_string(LogLines().size()));
        in_flight_then = remote_->InFlight();
      },
      10000);
  // Started behind the waiter (a countdown notice raised during the shutdown, say).
  remote_->Send("127.0.0.1", silent.PortText(), "", kRemoteMessage);
  ASSERT_TRUE(env_.RunUntil([&] { return order.size() == 1; }, kLimit));
  EXPECT_THAT(order, ElementsAre("first:1"));
  EXPECT_EQ(in_flight_then, 1u) << "the later command to the silent agent was still under way";
  ASSERT_TRUE(RunUntilIdle());
}

TEST_F(RemoteCommandsTest, ASilentAgentIsWaitedForOnlyUpToTheLimit) {
  env_.context().Setup.ServerSetup.RsTimeoutConnection = 30;
  test::RemoteAgent silent(std::nullopt);
  remote_->Send("127.0.0.1", silent.PortText(), "", kRemoteShutdown);
  bool ran = false;
  remote_->AfterCommandsUnderWay([&] { ran = true; }, 200);
  ASSERT_TRUE(env_.RunUntil([&] { return ran; }, kLimit));
  EXPECT_EQ(remote_->InFlight(), 1u) << "ran on its limit, long before the 30 s time-out";
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(RemoteCommandsTest, DestructionWaitsForTheCommandAndStillLogsIt) {
  test::RemoteAgent silent(std::nullopt);
  remote_->Send("127.0.0.1", silent.PortText(), "", kRemoteShutdown);
  bool waiter_ran = false;
  remote_->AfterCommandsUnderWay([&] { waiter_ran = true; }, 10000);
  remote_.reset();
  EXPECT_THAT(LogLines(), ElementsAre("RS - Not sent"));
  // The completion posted by the exchange thread finds its owner gone and does nothing.
  env_.RunUntil([] { return false; }, 50ms);
  EXPECT_THAT(LogLines(), ElementsAre("RS - Not sent"));
  EXPECT_FALSE(waiter_ran);
}

TEST_F(RemoteCommandsTest, SendRemoteCommandGoesThroughTheContextsCommands) {
  test::RemoteAgent agent(kGreeting);
  ServerContext& context = env_.context();
  SendRemoteCommand(context, "127.0.0.1", agent.PortText(), "", kRemoteShutdown);
  env_.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(agent.Accepted(), 0u);
  EXPECT_THAT(LogLines(), IsEmpty());

  context.Remote = std::make_unique<RemoteCommands>(context);
  SendRemoteCommand(context, "127.0.0.1", agent.PortText(), "", kRemoteShell1);
  ASSERT_TRUE(env_.RunUntil([&] { return context.Remote->InFlight() == 0; }, kLimit));
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), ScrambleText("<|3|2|>") + "\r\n");
  context.Remote.reset();
}

}  // namespace
}  // namespace keep::server

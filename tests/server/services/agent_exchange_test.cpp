// The blocking exchange with an agent, driven over loopback: how a line ends, what the exchange sends
// and that an owner that gives up is noticed.
#include "server/services/agent_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "common/scrambling.h"
#include "platform/clock.h"
#include "platform/tcp_client.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/remote_agent.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kLimit{10000};
constexpr int kTimeoutMs = 1000;

// The real clock, until the test gives up (after `calls_left` readings, when set).
class TestControl : public ExchangeControl {
 public:
  std::optional<int64_t> NowMs() override {
    if (calls_left >= 0 && calls_left-- == 0) given_up = true;
    if (given_up) return std::nullopt;
    return clock_->NowMs();
  }
  std::atomic<bool> given_up{false};
  int calls_left = -1;

 private:
  std::unique_ptr<platform::MonotonicClock> clock_ = platform::MonotonicClock::CreateReal();
};

class ReadLineUntilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listener_.Ok());
    platform::Ipv4Address loopback;
    loopback.octets = {127, 0, 0, 1};
    ASSERT_EQ(platform::TcpClient::Connect(loopback, static_cast<uint16_t>(listener_.Port()), 5000, &client_), 0);
    ASSERT_TRUE(listener_.Accept(kLimit));
  }

  int Read(int64_t timeout_ms) {
    const std::optional<int64_t> now = control_.NowMs();
    return ReadLineUntil(*client_, now.value_or(0) + timeout_ms, control_, &line_, &end_);
  }

  test::LoopbackListener listener_;
  std::unique_ptr<platform::TcpClient> client_;
  TestControl control_;
  std::string line_;
  LineEnd end_ = LineEnd::kCancelled;
};

TEST_F(ReadLineUntilTest, LineEndsAtLfWithoutItsCrAndLeavesTheRestUnread) {
  ASSERT_TRUE(listener_.Write("first\r\nsecond\n"));
  ASSERT_EQ(Read(kTimeoutMs), 0);
  EXPECT_EQ(end_, LineEnd::kLine);
  EXPECT_EQ(line_, "first");
  ASSERT_EQ(Read(kTimeoutMs), 0);
  EXPECT_EQ(end_, LineEnd::kLine);
  EXPECT_EQ(line_, "second");
}

TEST_F(ReadLineUntilTest, SilenceEndsAtTheDeadline) {
  ASSERT_TRUE(listener_.Write("partial"));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Read(100), 0);
  EXPECT_EQ(end_, LineEnd::kTimedOut);
  EXPECT_EQ(line_, "partial");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
}

TEST_F(ReadLineUntilTest, PeerClosingBeforeLfIsClosed) {
  ASSERT_TRUE(listener_.Write("half"));
  listener_.ClosePeer();
  ASSERT_EQ(Read(kTimeoutMs), 0);
  EXPECT_EQ(end_, LineEnd::kClosed);
  EXPECT_EQ(line_, "half");
}

TEST_F(ReadLineUntilTest, ResetConnectionGivesAnErrorCode) {
  listener_.ClosePeer(true);
  EXPECT_NE(Read(kTimeoutMs), 0);
}

TEST_F(ReadLineUntilTest, LineWithoutEndIsCutAtTheLimit) {
  ASSERT_TRUE(listener_.Write(std::string(kMaxAgentLineBytes + 100, 'x') + "\n"));
  ASSERT_EQ(Read(kTimeoutMs), 0);
  EXPECT_EQ(end_, LineEnd::kTooLong);
  EXPECT_EQ(line_.size(), kMaxAgentLineBytes);
}

TEST_F(ReadLineUntilTest, OwnerGivingUpEndsTheWait) {
  control_.calls_left = 5;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Read(5000), 0);
  EXPECT_EQ(end_, LineEnd::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(RunAgentExchangeTest, OverlongGreetingIsNoGreeting) {
  test::RemoteAgent agent(std::string(kMaxAgentLineBytes + 1, '4'));
  TestControl control;
  const AgentExchangeOutcome outcome =
      RunAgentExchange("127.0.0.1", static_cast<uint16_t>(agent.Port()), "<|3|0|>", kTimeoutMs, control);
  EXPECT_EQ(outcome.error, 0);
  EXPECT_FALSE(outcome.sent);
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), "");
}

TEST(RunAgentExchangeTest, GivenUpExchangeSendsNothing) {
  test::RemoteAgent agent(std::nullopt);
  TestControl control;
  control.calls_left = 10;
  const AgentExchangeOutcome outcome =
      RunAgentExchange("127.0.0.1", static_cast<uint16_t>(agent.Port()), "<|3|0|>", 5000, control);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.sent);
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), "");
}

TEST(RunAgentExchangeTest, GreetedExchangeSendsTheFrameScrambledWithCrLf) {
  test::RemoteAgent agent(ScrambleText("<|ok|>"));
  TestControl control;
  const AgentExchangeOutcome outcome =
      RunAgentExchange("localhost", static_cast<uint16_t>(agent.Port()), "<|3|1|hi|>", kTimeoutMs, control);
  EXPECT_EQ(outcome.error, 0);
  EXPECT_TRUE(outcome.sent);
  ASSERT_TRUE(agent.WaitForClosedSessions(1));
  EXPECT_EQ(agent.Received(0), ScrambleText("<|3|1|hi|>") + "\r\n");
}

}  // namespace
}  // namespace keep::server

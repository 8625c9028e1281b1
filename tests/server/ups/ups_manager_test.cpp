// The manager's exchange rules on a manual clock, with a scripted link and driver.
#include "server/ups/ups_manager.h"

#include <gtest/gtest.h>

#include "server/records/error_codes.h"
#include "tests/server/server_test_env.h"
#include "tests/support/scripted_ups.h"

namespace keep::server {
namespace {

using test::LinkRecord;
using test::ScriptedDriver;
using test::ServerTestEnv;

class UpsManagerTest : public ::testing::Test {
 protected:
  void Create(bool with_driver = true, bool reopens = false) {
    manager_ = std::make_unique<UpsManager>(UpsManagerContextOf(env_.context()));
    test::UseScriptedUps(*manager_, link_, env_.clock(), &driver_, with_driver, reopens);
    ASSERT_EQ(kErrorOk, manager_->CreateLink());
    ASSERT_EQ(kErrorOk, manager_->ConnectLink());
  }
  void Advance(int64_t ms) {
    env_.clock().AdvanceMs(ms);
    env_.loop().RunDue();
  }
  int64_t Now() const { return const_cast<ServerTestEnv&>(env_).clock().NowMs(); }

  ServerTestEnv env_;
  LinkRecord link_;
  ScriptedDriver* driver_ = nullptr;
  std::unique_ptr<UpsManager> manager_;
};

TEST_F(UpsManagerTest, ACommandWithoutExchangeIsAnsweredAtOnce) {
  Create();
  EXPECT_TRUE(manager_->SendCommand({"5"}));
  EXPECT_FALSE(manager_->Busy);
  EXPECT_TRUE(link_.sent.empty());
  EXPECT_EQ(5, manager_->UpsCommand.Code);
}

TEST_F(UpsManagerTest, ASplitReplyIsParsedOnlyWhenComplete) {
  Create();
  EXPECT_FALSE(manager_->SendCommand({"100"}));
  EXPECT_TRUE(manager_->Busy);
  EXPECT_EQ("A\r", link_.Sent());

  EXPECT_FALSE(manager_->OnReceive("ok"));
  EXPECT_FALSE(manager_->OnReceive("-"));
  EXPECT_TRUE(manager_->Busy);
  EXPECT_TRUE(manager_->AwaitingReply());
  EXPECT_TRUE(manager_->OnReceive("A\r"));
  EXPECT_EQ("A\rB\r", link_.Sent());  // the next exchange follows at once
  EXPECT_TRUE(manager_->Connected);

  EXPECT_TRUE(manager_->OnReceive("ok-B\r"));
  EXPECT_FALSE(manager_->Busy);
  EXPECT_FALSE(manager_->AwaitingReply());
  // The reply timer was stopped: time passing raises no time-out.
  Advance(10000);
  EXPECT_EQ(0, manager_->TimeoutCount);
  EXPECT_EQ("A\rB\r", link_.Sent());
}

TEST_F(UpsManagerTest, TwoTimeoutsThenAReplyContinueTheExchange) {
  Create();
  manager_->SendCommand({"100"});
  const int64_t start = Now();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    Advance(499);
    EXPECT_EQ(attempt - 1, manager_->TimeoutCount);
    Advance(1);
    EXPECT_EQ(attempt, manager_->TimeoutCount);
    EXPECT_EQ("\r", link_.sent.back().second) << "each retry starts with a wake-up";
    EXPECT_TRUE(manager_->Busy);
    Advance(1999);
    EXPECT_EQ("\r", link_.sent.back().second) << "the resend waits for the wake-up pause";
    Advance(1);
    EXPECT_EQ("A\r", link_.sent.back().second);
  }
  EXPECT_EQ(start + 2 * (500 + 2000), link_.sent.back().first);
  EXPECT_EQ(2, driver_->inits);

  EXPECT_TRUE(manager_->OnReceive("ok-A\r"));
  EXPECT_EQ("B\r", link_.sent.back().second);
  EXPECT_EQ(0, manager_->TimeoutCount);
  EXPECT_FALSE(manager_->CommLost);
}

TEST_F(UpsManagerTest, ThreeTimeoutsLoseTheUpsAndTheNextCommandStartsAfresh) {
  Create();
  manager_->SendCommand({"100"});
  Advance(500);   // time-out 1, wake-up
  Advance(2000);  // resend
  Advance(500);   // time-out 2, wake-up
  Advance(2000);  // resend
  EXPECT_FALSE(manager_->CommLost);
  Advance(500);  // time-out 3
  EXPECT_TRUE(manager_->CommLost);
  EXPECT_FALSE(manager_->Connected);
  EXPECT_FALSE(manager_->Busy);
  EXPECT_EQ(3, manager_->TimeoutCount);
  // "A", wake, "A", wake, "A": no wake-up after the third.
  std::vector<std::string> texts;
  for (const auto& [at, text] : link_.sent) texts.push_back(text);
  EXPECT_EQ((std::vector<std::string>{"A\r", "\r", "A\r", "\r", "A\r"}), texts);
  Advance(10000);
  EXPECT_EQ(5u, link_.sent.size());

  EXPECT_FALSE(manager_->SendCommand({"100"}));
  EXPECT_EQ((TStringList{"A", "B"}), manager_->UpsCommand.Exchange.Queue);
  EXPECT_FALSE(manager_->CommLost) << "arming the reply timer clears it";
}

TEST_F(UpsManagerTest, AnUnknownProtocolAnswersAtOnceAndNeverAcceptsData) {
  Create(/*with_driver=*/false);
  EXPECT_TRUE(manager_->SendCommand({"100"}));
  EXPECT_FALSE(manager_->Busy);
  EXPECT_FALSE(manager_->OnReceive("ok-A\r"));
  EXPECT_FALSE(manager_->Connected);
}

TEST_F(UpsManagerTest, TheDriverItMakesQueuesTheServersOwnRequests) {
  // The modular driver's data sample asks for the input phases as a request of the server's own.
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  manager_ = std::make_unique<UpsManager>(UpsManagerContextOf(env_.context()));
  manager_->SetLinkFactory([this](uint8_t, platform::EventLoop&, ReceiveHandler) {
    return std::make_unique<test::ScriptedLink>(link_, env_.clock(), false);
  });
  ASSERT_EQ(kErrorOk, manager_->CreateLink());
  ASSERT_EQ(kErrorOk, manager_->ConnectLink());
  ASSERT_TRUE(env_.context().Requests.Empty());

  EXPECT_FALSE(manager_->SendCommand({"1"}));
  EXPECT_TRUE(manager_->Busy);
  ASSERT_EQ(1u, env_.context().Requests.Size());
  const std::optional<QueuedRequest> queued = env_.context().Requests.TakeNext();
  ASSERT_TRUE(queued.has_value());
  EXPECT_EQ("@", queued->Requester);
  EXPECT_EQ(133, queued->Code);
}

TEST_F(UpsManagerTest, AnExchangeWithoutReplyWaitsItsDelayWhileStayingBusy) {
  Create();
  manager_->SendCommand({"7"});
  EXPECT_EQ("T\r", link_.Sent());
  Advance(11999);
  EXPECT_TRUE(manager_->Busy);
  EXPECT_EQ(1u, link_.sent.size());
  // Bytes in the meantime answer nothing: no exchange is on the wire.
  EXPECT_FALSE(manager_->OnReceive("ok-A\r"));
  Advance(1);
  EXPECT_EQ("A\r", link_.sent.back().second);
  // The early bytes waited in the buffer; the next arrival lets the parser take them.
  EXPECT_TRUE(manager_->OnReceive("\r"));
  EXPECT_FALSE(manager_->Busy);
}

TEST_F(UpsManagerTest, WakeUpSendsEachCharacterPausesAndEmptiesTheBuffer) {
  Create(true, /*reopens=*/true);
  bool continued = false;
  manager_->CommLost = true;
  manager_->WakeUp([&] { continued = true; });
  EXPECT_EQ(2, link_.opens) << "a lost network link is reopened before the wake-up";
  EXPECT_TRUE(manager_->Busy);
  manager_->OnReceive("noise");
  Advance(1999);
  EXPECT_FALSE(continued);
  Advance(1);
  EXPECT_TRUE(continued);
  EXPECT_EQ("", manager_->RxBuffer);
}

TEST_F(UpsManagerTest, UnparsedBytesAreBounded) {
  Create();
  const std::string chunk(4096, 'x');
  for (int i = 0; i < 40; ++i) manager_->OnReceive(chunk);
  EXPECT_EQ(kRxBufferLimit, manager_->RxBuffer.size());
}

TEST_F(UpsManagerTest, ClosingDropsAPendingContinuation) {
  Create();
  bool continued = false;
  manager_->WakeUp([&] { continued = true; });
  manager_->CloseLink();
  EXPECT_TRUE(link_.freed);
  Advance(5000);
  EXPECT_FALSE(continued);
}

}  // namespace
}  // namespace keep::server

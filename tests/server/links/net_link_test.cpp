#include "server/links/net_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "server/links/traffic_log.h"
#include "server/records/error_codes.h"
#include "tests/support/loop_runner.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr auto kLimit = 5000ms;

using test::ClosedLoopbackPort;
using test::LoopbackListener;

class NetLinkTest : public ::testing::Test {
 protected:
  NetLinkTest() {
    setup_.ServerSetup.UpsNetCardAddress = "127.0.0.1";
    link_.SetPortForTests(adapter_.Port());
  }

  void SetUp() override { ASSERT_TRUE(adapter_.Ok()); }

  void CreateOpenAndAccept(TLogger* logger = nullptr) {
    ASSERT_EQ(link_.CreateNetLink(setup_, logger), kErrorOk);
    ASSERT_EQ(link_.OpenNetLink(), kErrorOk);
    ASSERT_TRUE(link_.Client()->Active());
    ASSERT_TRUE(adapter_.Accept());
  }

  // Runs the loop's due work until `ready` holds, at most kLimit of real time.
  bool RunUntil(const std::function<bool()>& ready) { return test::RunLoopUntil(loop_, ready, kLimit); }

  LoopbackListener adapter_;  // stands for the network adapter
  std::unique_ptr<platform::MonotonicClock> clock_ = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop_{*clock_};
  std::string received_;
  bool all_on_loop_ = true;
  NetLink link_{loop_, [this](std::string text) {
                  all_on_loop_ = all_on_loop_ && loop_.IsInLoopThread();
                  received_ += text;
                }};
  TSetupData setup_;
};

TEST_F(NetLinkTest, TheConnectionGoesToTheAdapterAddressOnPort2101) {
  NetLink link(loop_, [](std::string) {});
  setup_.ServerSetup.UpsNetCardAddress = "192.168.10.20";
  EXPECT_EQ(link.OpenNetLink(), kErrorServerObject) << "nothing created yet";
  ASSERT_EQ(link.CreateNetLink(setup_, nullptr), kErrorOk);
  TDigiTcpClient* client = link.Client();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->Address(), "192.168.10.20");
  EXPECT_EQ(client->Host(), "");
  EXPECT_EQ(client->Port(), 2101);
  EXPECT_EQ(client->Service(), "");
  EXPECT_FALSE(client->DontSynchronize) << "received data is handled on the loop";
  EXPECT_TRUE(static_cast<bool>(client->OnRxChar));
  EXPECT_EQ(client->Logger, nullptr);
  EXPECT_FALSE(client->Active());
}

TEST_F(NetLinkTest, ReceivedBytesReachTheLoopInOrder) {
  CreateOpenAndAccept();
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    const std::string block = "<" + std::to_string(i) + ">";
    expected += block;
    ASSERT_TRUE(adapter_.Write(block));
  }
  ASSERT_TRUE(RunUntil([&] { return received_.size() >= expected.size(); })) << received_;
  EXPECT_EQ(received_, expected);
  EXPECT_TRUE(all_on_loop_);
}

TEST_F(NetLinkTest, SentAndReceivedBytesAreLogged) {
  test::TempDir install;
  std::filesystem::create_directory(install.path() / "data");
  platform::ManualClock wall;
  auto logger = CreateUpsTrafficLogger(install.path().string() + "/", wall, TFormatSettings{});
  CreateOpenAndAccept(logger.get());
  EXPECT_EQ(link_.Client()->Logger, logger.get());

  link_.SendNetLink("Q1\r");
  EXPECT_EQ(adapter_.Read(3), "Q1\r");
  ASSERT_TRUE(adapter_.Write("(2"));
  ASSERT_TRUE(RunUntil([&] { return received_ == "(2"; }));
  link_.FreeNetLink();

  const std::string log = test::ReadFileText(install.File("data/ups_debug.txt"));
  EXPECT_THAT(log, HasSubstr("01)51 31 0D \r\n"));
  EXPECT_THAT(log, HasSubstr("02)28 32 \r\n"));
  EXPECT_LT(log.find("01)"), log.find("02)"));
}

TEST_F(NetLinkTest, AnAdapterThatCannotBeReachedLeavesTheLinkClosedAndSilent) {
  test::TempDir install;
  std::filesystem::create_directory(install.path() / "data");
  platform::ManualClock wall;
  auto logger = CreateUpsTrafficLogger(install.path().string() + "/", wall, TFormatSettings{});
  struct Case {
    const char* name;
    std::string address;
    int port;
  };
  const Case cases[] = {
      {"nobody listening", "127.0.0.1", ClosedLoopbackPort()},
      {"a name instead of an address", "no-such-host..invalid", adapter_.Port()},
      {"no address", "", adapter_.Port()},
  };
  const int threads = test::CountProcessThreads();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setup_.ServerSetup.UpsNetCardAddress = c.address;
    link_.SetPortForTests(c.port);
    ASSERT_EQ(link_.CreateNetLink(setup_, logger.get()), kErrorOk);
    EXPECT_EQ(link_.OpenNetLink(), kErrorOk);
    EXPECT_FALSE(link_.Client()->Active());
    link_.SendNetLink("Q1\r");
    EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
  }
  EXPECT_FALSE(adapter_.Pending()) << "nothing reached the adapter";
  EXPECT_EQ(test::ReadFileText(install.File("data/ups_debug.txt")), "") << "nothing was logged";
}

TEST_F(NetLinkTest, CreatingAgainClosesTheOpenLinkUntilItIsOpenedAgain) {
  CreateOpenAndAccept();
  ASSERT_EQ(link_.CreateNetLink(setup_, nullptr), kErrorOk);
  EXPECT_FALSE(link_.Client()->Active());
  EXPECT_TRUE(adapter_.SeesEnd());
  link_.SendNetLink("lost");

  ASSERT_EQ(link_.OpenNetLink(), kErrorOk);
  ASSERT_TRUE(adapter_.Accept());
  link_.SendNetLink("Q1\r");
  EXPECT_EQ(adapter_.Read(3), "Q1\r");
}

TEST_F(NetLinkTest, AfterTheAdapterDropsTheConnectionOpeningAgainReconnects) {
  CreateOpenAndAccept();
  adapter_.ClosePeer(true);
  // The drop goes unnoticed: the link stays open and its sends fail quietly.
  for (int i = 0; i < 5; ++i) link_.SendNetLink("Q1\r");
  EXPECT_TRUE(link_.Client()->Active());

  ASSERT_EQ(link_.OpenNetLink(), kErrorOk);
  ASSERT_TRUE(link_.Client()->Active());
  ASSERT_TRUE(adapter_.Accept());
  link_.SendNetLink("Q1\r");
  EXPECT_EQ(adapter_.Read(3), "Q1\r");
  ASSERT_TRUE(adapter_.Write("(230.0\r"));
  ASSERT_TRUE(RunUntil([&] { return received_ == "(230.0\r"; })) << received_;
}

TEST_F(NetLinkTest, BlocksNotYetDeliveredWhenTheLinkIsFreedAreDropped) {
  CreateOpenAndAccept();
  ASSERT_TRUE(adapter_.Write("late"));
  // Wait until the block is there to read, and queue the freeing just before its reception: the
  // reception reads the block and posts its delivery, which then runs after the link is gone.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (link_.Client()->InQueue() < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(link_.Client()->InQueue(), 4);
  bool freed = false;
  TCommRxCharEvent receive = link_.Client()->OnRxChar;
  link_.Client()->OnRxChar = [&, receive](TConnection& sender, int count) {
    loop_.Post([&] {
      EXPECT_EQ(link_.Client()->InQueue(), 0) << "the block was read";
      link_.FreeNetLink();
      freed = true;
    });
    receive(sender, count);
  };
  loop_.RunDue();
  EXPECT_TRUE(freed);
  EXPECT_EQ(link_.Client(), nullptr);
  EXPECT_EQ(received_, "");
}

TEST_F(NetLinkTest, AReceiverMayFreeTheLinkItIsCalledFrom) {
  NetLink* self = nullptr;
  int calls = 0;
  NetLink link(loop_, [&](std::string) {
    ++calls;
    self->FreeNetLink();
  });
  self = &link;
  link.SetPortForTests(adapter_.Port());
  ASSERT_EQ(link.CreateNetLink(setup_, nullptr), kErrorOk);
  ASSERT_EQ(link.OpenNetLink(), kErrorOk);
  ASSERT_TRUE(adapter_.Accept());
  ASSERT_TRUE(adapter_.Write("bye"));
  ASSERT_TRUE(RunUntil([&] { return calls > 0; }));
  EXPECT_EQ(link.Client(), nullptr);
  EXPECT_TRUE(adapter_.SeesEnd());
}

TEST_F(NetLinkTest, OpeningAndFreeingManyTimesLeavesNoThread) {
  // A first cycle lets the runtime start any helper thread of its own (a sanitizer's) before counting.
  CreateOpenAndAccept();
  link_.FreeNetLink();
  const int threads = test::CountProcessThreads();
  for (int i = 0; i < 20; ++i) {
    CreateOpenAndAccept();
    if (i % 2 == 0) {
      ASSERT_EQ(link_.OpenNetLink(), kErrorOk);  // reopening closes first
      ASSERT_TRUE(adapter_.Accept());
    }
    link_.FreeNetLink();
  }
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
}

}  // namespace
}  // namespace keep::server

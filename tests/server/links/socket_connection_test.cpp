#include "server/links/socket_connection.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "tests/support/loop_runner.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/pty_pair.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 5000ms;

using test::ClosedLoopbackPort;
using test::LoopbackListener;

class SocketConnectionTest : public ::testing::Test {
 protected:
  SocketConnectionTest() {
    link_.SetAddress("127.0.0.1");
    link_.SetPort(listener_.Port());
    link_.SetEventLoop(&loop_);
    link_.OnRxChar = [this](TConnection&, int count) {
      all_on_loop_ = all_on_loop_ && loop_.IsInLoopThread();
      counts_.push_back(count);
      if (read_) received_ += link_.Receive(count);
    };
  }

  void SetUp() override { ASSERT_TRUE(listener_.Ok()); }

  void OpenAndAccept() {
    ASSERT_NO_THROW(link_.Open());
    ASSERT_TRUE(link_.Active());
    ASSERT_TRUE(listener_.Accept());
  }

  // Runs the loop's due work until `ready` holds, at most kLimit of real time (a real socket is on
  // the other side).
  bool RunUntil(const std::function<bool()>& ready) { return test::RunLoopUntil(loop_, ready, kLimit); }

  LoopbackListener listener_;
  std::unique_ptr<platform::MonotonicClock> clock_ = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop_{*clock_};
  TClientSocketConnection link_;
  std::vector<int> counts_;
  std::string received_;
  bool read_ = true;
  bool all_on_loop_ = true;
};

TEST_F(SocketConnectionTest, ArrivedBytesAreCountedAndReadOnTheLoop) {
  EXPECT_EQ(link_.InQueue(), -1);
  OpenAndAccept();
  EXPECT_EQ(link_.InQueue(), 0);
  ASSERT_TRUE(listener_.Write("(230.0 50.0)\r"));
  ASSERT_TRUE(RunUntil([&] { return received_.size() >= 13; }));
  EXPECT_EQ(received_, "(230.0 50.0)\r");
  EXPECT_TRUE(all_on_loop_);
  EXPECT_EQ(link_.InQueue(), 0);
}

TEST_F(SocketConnectionTest, PacketsArrivingWithinOneIntervalAreReportedAsOneCount) {
  OpenAndAccept();
  // Once one block has been reported, the receive thread is in its pause between looks.
  ASSERT_TRUE(listener_.Write("#0\r"));
  ASSERT_TRUE(RunUntil([&] { return received_.size() >= 3; }));
  // The three packets normally land within one 100 ms interval; a slow scheduler may split them now
  // and then, so a few tries are allowed, but the bytes must always add up.
  bool joined = false;
  for (int attempt = 0; attempt < 5 && !joined; ++attempt) {
    counts_.clear();
    received_.clear();
    ASSERT_TRUE(listener_.Write("#1\r"));
    ASSERT_TRUE(listener_.Write("#2\r"));
    ASSERT_TRUE(listener_.Write("#3\r"));
    ASSERT_TRUE(RunUntil([&] { return received_.size() >= 9; }));
    EXPECT_EQ(received_, "#1\r#2\r#3\r");
    int total = 0;
    for (int count : counts_) {
      total += count;
      joined = joined || count > 3;
    }
    EXPECT_EQ(total, 9);
  }
  EXPECT_TRUE(joined) << "no try reported more than one packet in one count";
}

TEST_F(SocketConnectionTest, BytesTheHandlerLeavesAreReportedAgain) {
  read_ = false;
  OpenAndAccept();
  ASSERT_TRUE(listener_.Write("abc"));
  ASSERT_TRUE(RunUntil([&] { return counts_.size() >= 2; }));
  EXPECT_EQ(counts_[0], 3);
  EXPECT_EQ(counts_[1], 3);
  read_ = true;
  ASSERT_TRUE(RunUntil([&] { return received_ == "abc"; }));
}

TEST_F(SocketConnectionTest, WithoutSynchronizingTheHandlerRunsOnTheReceiveThread) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::string received;
  std::thread::id handler_thread;
  link_.DontSynchronize = true;
  link_.OnRxChar = [&](TConnection&, int count) {
    std::string text = link_.Receive(count);
    std::lock_guard<std::mutex> guard(mutex);
    handler_thread = std::this_thread::get_id();
    received += text;
    arrived.notify_all();
  };
  OpenAndAccept();
  ASSERT_TRUE(listener_.Write("Q1"));
  {
    std::unique_lock<std::mutex> wait(mutex);
    ASSERT_TRUE(arrived.wait_for(wait, kLimit, [&] { return received.size() >= 2; }));
    EXPECT_EQ(received, "Q1");
    EXPECT_NE(handler_thread, std::this_thread::get_id());
  }
  EXPECT_EQ(loop_.RunDue(), 0u) << "nothing was handed to the loop";
  link_.Close();
}

TEST_F(SocketConnectionTest, HostComesBeforeAddressAndServiceBeforePort) {
  link_.SetAddress("not an address");
  link_.SetHost("localhost");
  OpenAndAccept();
  link_.Close();

  link_.SetHost("");
  link_.SetAddress("127.0.0.1");
  link_.SetPort(ClosedLoopbackPort());
  link_.SetService(std::to_string(listener_.Port()));
  OpenAndAccept();
  link_.Close();

  link_.SetService("");
  EXPECT_THROW(link_.Open(), ESocketError) << "the port nobody listens on";
}

TEST_F(SocketConnectionTest, AFailedOpenRaisesAndLeavesNothingOpenOrRunning) {
  struct Case {
    const char* name;
    std::function<void()> configure;
    const char* message;
    int code;  // -1: no socket code
  };
  const Case cases[] = {
      {"no address", [&] { link_.SetAddress(""); }, kNoSocketAddress, -1},
      {"a name as address", [&] { link_.SetAddress("localhost"); }, nullptr, platform::kSocketErrorNotConnected},
      {"a host that does not resolve", [&] { link_.SetHost("no-such-host..invalid"); }, nullptr,
       platform::kSocketErrorNotConnected},
      {"an unknown service", [&] { link_.SetService("no-such-service"); }, nullptr, platform::kSocketErrorNotConnected},
      {"port 0", [&] { link_.SetPort(0); }, kCannotOpenSocket, EINVAL},
      {"port 65536", [&] { link_.SetPort(65536); }, kCannotOpenSocket, EINVAL},
      {"nobody listening", [&] { link_.SetPort(ClosedLoopbackPort()); }, kCannotOpenSocket, ECONNREFUSED},
  };
  const int threads = test::CountProcessThreads();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link_.SetAddress("127.0.0.1");
    link_.SetHost("");
    link_.SetService("");
    link_.SetPort(listener_.Port());
    c.configure();
    try {
      link_.Open();
      ADD_FAILURE() << "opened";
    } catch (const ESocketError& e) {
      EXPECT_EQ(e.Code(), c.code);
      if (c.message != nullptr) {
        EXPECT_STREQ(e.what(), c.message);
      }
    } catch (const EConnectError& e) {
      EXPECT_EQ(c.code, -1) << e.what();
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(link_.Active());
    EXPECT_EQ(link_.InQueue(), -1);
    EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
  }
}

TEST_F(SocketConnectionTest, ThePeerCannotChangeWhileOpen) {
  OpenAndAccept();
  const std::function<void()> setters[] = {
      [&] { link_.SetAddress("10.0.0.1"); }, [&] { link_.SetHost("localhost"); },
      [&] { link_.SetPort(2101); },          [&] { link_.SetService("2101"); },
      [&] { link_.SetConnectTimeoutMs(1); }, [&] { link_.SetEventLoop(nullptr); },
  };
  for (const auto& set : setters) {
    try {
      set();
      ADD_FAILURE() << "changed while open";
    } catch (const EConnectError& e) {
      EXPECT_STREQ(e.what(), kConnectionIsActive);
    }
  }
  EXPECT_EQ(link_.Address(), "127.0.0.1");
  EXPECT_EQ(link_.Host(), "");
  EXPECT_EQ(link_.Port(), listener_.Port());
  EXPECT_EQ(link_.Service(), "");
  EXPECT_EQ(link_.ConnectTimeoutMs(), kDefaultConnectTimeoutMs);

  link_.Close();
  link_.SetAddress("10.0.0.1");
  EXPECT_EQ(link_.Address(), "10.0.0.1");
}

TEST_F(SocketConnectionTest, PurgeInDropsWhatIsWaiting) {
  link_.PurgeIn();  // inactive: nothing to do
  link_.OnRxChar = nullptr;
  OpenAndAccept();
  ASSERT_TRUE(listener_.Write("stale bytes"));
  ASSERT_TRUE(RunUntil([&] { return link_.InQueue() == 11; }));
  link_.PurgeIn();
  EXPECT_EQ(link_.InQueue(), 0);
  char buffer[16];
  EXPECT_EQ(link_.ReadData(buffer, sizeof buffer), 0);
  link_.PurgeOut();

  ASSERT_TRUE(listener_.Write("fresh"));
  ASSERT_TRUE(RunUntil([&] { return link_.InQueue() == 5; }));
  ASSERT_EQ(link_.ReadData(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "fresh");
}

TEST_F(SocketConnectionTest, AClosedConnectionNeitherReadsNorWrites) {
  char buffer[4];
  try {
    link_.WriteData("Q1\r", 3);
    ADD_FAILURE() << "written";
  } catch (const EConnectError& e) {
    EXPECT_STREQ(e.what(), kConnectionIsInactive);
  }
  EXPECT_THROW(link_.ReadData(buffer, sizeof buffer), EConnectError);
}

TEST_F(SocketConnectionTest, ClosingWithBytesWaitingForTheLoopReportsNothingAfterwards) {
  OpenAndAccept();
  ASSERT_TRUE(listener_.Write("late"));
  // The bytes are there, and the loop (this thread) has not run to report them.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (link_.InQueue() < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(link_.InQueue(), 4);
  link_.Close();
  EXPECT_FALSE(link_.Active());
  loop_.RunDue();
  EXPECT_TRUE(counts_.empty());
}

TEST_F(SocketConnectionTest, ASendOnADroppedConnectionRaisesASocketErrorAndStaysOpen) {
  OpenAndAccept();
  listener_.ClosePeer(true);
  // The process is not ended by a signal, and the error says which call failed.
  bool raised = false;
  for (int i = 0; i < 100 && !raised; ++i) {
    try {
      link_.WriteData("Q1\r", 3);
      std::this_thread::sleep_for(1ms);
    } catch (const ESocketError& e) {
      raised = true;
      EXPECT_TRUE(e.Code() == EPIPE || e.Code() == ECONNRESET) << e.what();
      EXPECT_THAT(e.what(), ::testing::HasSubstr("in send"));
    }
  }
  EXPECT_TRUE(raised);
  EXPECT_TRUE(link_.Active()) << "the link does not notice the drop by itself";
}

TEST_F(SocketConnectionTest, OpeningAndClosingManyTimesStartsNoThread) {
  // A first cycle lets the runtime start any helper thread of its own (a sanitizer's) before counting.
  OpenAndAccept();
  link_.Close();
  const int threads = test::CountProcessThreads();
  for (int i = 0; i < 20; ++i) {
    OpenAndAccept();
    EXPECT_EQ(test::CountProcessThreads(), threads) << "the loop watches the socket; opening " << i;
    link_.Close();
  }
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
}

}  // namespace
}  // namespace keep::server

#include "server/links/comm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
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
#include "platform/system_error.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/pty_pair.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr auto kLimit = 5000ms;

// What the event handlers saw, filled on whatever thread they run on.
struct Observed {
  std::mutex mutex;
  std::condition_variable changed;
  std::string text;
  std::vector<int> counts;
  std::vector<int> errors;
  std::vector<std::thread::id> threads;

  bool WaitUntil(const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kLimit, ready);
  }
};

// Runs `action` and returns the message of the EConnectError it raises ("" when none).
std::string ConnectErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EConnectError& e) {
    return e.what();
  }
  return "";
}

class CommTest : public ::testing::Test {
 protected:
  CommTest() {
    comm_.SetPortOpener(device_.MakeOpener());
    comm_.SetDeviceName("/dev/ttyUPS");
  }

  // Reads every reported block on the event thread, as the UPS link does.
  void ReadOnRxChar() {
    comm_.OnRxChar = [this](TConnection&, int count) {
      const std::string text = comm_.Receive(count);
      std::lock_guard<std::mutex> guard(observed_.mutex);
      observed_.counts.push_back(count);
      observed_.text += text;
      observed_.threads.push_back(std::this_thread::get_id());
      observed_.changed.notify_all();
    };
  }

  test::FakeSerialDevice device_;
  Observed observed_;
  TComm comm_;
};

TEST_F(CommTest, AClosedPortHasTheDocumentedDefaults) {
  TComm fresh;
  EXPECT_EQ(fresh.DeviceName(), "Com2");
  EXPECT_EQ(fresh.Baudrate(), br9600);
  EXPECT_EQ(fresh.Parity(), paNone);
  EXPECT_EQ(fresh.Stopbits(), sb10);
  EXPECT_EQ(fresh.Databits(), da8);
  EXPECT_EQ(fresh.FlowControl(), fcDefault);
  EXPECT_EQ(fresh.XonChar(), 17);
  EXPECT_EQ(fresh.XoffChar(), 19);
  EXPECT_EQ(fresh.ReadTimeout(), 1000);
  EXPECT_EQ(fresh.WriteTimeout(), 1000);
  EXPECT_EQ(fresh.ReadBufSize(), 4096);
  EXPECT_EQ(fresh.WriteBufSize(), 2048);
  EXPECT_EQ(fresh.MonitorEvents(), kAllCommEvents);
  EXPECT_EQ(fresh.MonitorEvents().Bits(), 0x1FF);
  EXPECT_EQ(fresh.InQueue(), -1);
}

TEST_F(CommTest, OpeningAppliesTheLineSettingsAndChangesWhileOpenApplyAtOnce) {
  comm_.SetDatabits(da5);
  comm_.SetParity(paMark);
  comm_.SetStopbits(sb15);
  comm_.SetFlowControl(fcDTR);
  comm_.SetOptions({coParityCheck, coNullStrip});
  comm_.SetXonChar('A');
  EXPECT_FALSE(device_.Settings().has_value());

  comm_.Open();
  EXPECT_EQ(device_.LastPath(), "/dev/ttyUPS");
  auto settings = device_.Settings();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->bit_rate, 9600);
  EXPECT_EQ(settings->data_bits, 5);
  EXPECT_EQ(settings->parity, platform::SerialParity::kMark);
  EXPECT_EQ(settings->stop_bits, platform::SerialStopBits::kOneAndHalf);
  EXPECT_EQ(settings->flow_control, platform::SerialFlowControl::kDtr);
  EXPECT_TRUE(settings->parity_check);
  EXPECT_EQ(settings->xon_char, 'A');
  EXPECT_EQ(settings->xoff_char, 19);

  comm_.SetBaudrate(br115200);
  comm_.SetFlowControl(fcDefault);
  comm_.SetParity(paOdd);
  comm_.SetOptions({});
  settings = device_.Settings();
  EXPECT_EQ(settings->bit_rate, 115200);
  EXPECT_EQ(settings->flow_control, platform::SerialFlowControl::kKeep);
  EXPECT_EQ(settings->parity, platform::SerialParity::kOdd);
  EXPECT_FALSE(settings->parity_check);

  // The device refusing a change raises, and the port stays open with the new value kept.
  device_.FailApply(EINVAL);
  EXPECT_THAT(ConnectErrorOf([&] { comm_.SetBaudrate(br256000); }), HasSubstr("in function: SetCommState"));
  EXPECT_TRUE(comm_.Active());
  EXPECT_EQ(comm_.Baudrate(), br256000);
}

TEST_F(CommTest, PropertiesTheOpenPortDependsOnAreRefusedWhileOpen) {
  comm_.Open();
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetDeviceName("/dev/other"); }), kConnectionIsActive);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetReadBufSize(1); }), kConnectionIsActive);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetWriteBufSize(1); }), kConnectionIsActive);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetMonitorEvents({evRxChar}); }), kConnectionIsActive);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetEventLoop(nullptr); }), kConnectionIsActive);
  EXPECT_EQ(comm_.DeviceName(), "/dev/ttyUPS");
  EXPECT_EQ(comm_.MonitorEvents(), kAllCommEvents);

  comm_.SetReadTimeout(10);
  comm_.SetWriteTimeout(20);
  EXPECT_EQ(comm_.WriteTimeout(), 20);

  comm_.Close();
  comm_.SetReadBufSize(100);
  EXPECT_EQ(comm_.ReadBufSize(), 100);
}

TEST_F(CommTest, FailedOpensNameTheCodeAndFunctionAndLeaveNothingOpen) {
  const auto open_error = [&]() -> std::pair<int, std::string> {
    try {
      comm_.Open();
    } catch (const EComError& e) {
      return {e.Code(), e.what()};
    }
    return {0, ""};
  };
  const int threads = test::CountProcessThreads();

  device_.FailOpen({2, false});
  EXPECT_EQ(open_error(), std::make_pair(2, "Error 2 " + platform::SystemErrorText(2) + " in function: CreateFile"));
  EXPECT_FALSE(comm_.Active());

  device_.FailOpen({ENOTTY, true});
  EXPECT_EQ(open_error().second,
            "Error " + std::to_string(ENOTTY) + " " + platform::SystemErrorText(ENOTTY) + " in function: GetFileType");

  device_.FailOpen({});
  device_.FailApply(EINVAL);
  EXPECT_EQ(open_error().first, EINVAL);
  EXPECT_FALSE(comm_.Active());
  EXPECT_FALSE(device_.IsOpen()) << "a failed open must not keep the device";
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();

  device_.FailApply(0);
  comm_.Open();
  EXPECT_TRUE(comm_.Active());
}

TEST_F(CommTest, SetLineDrivesModemLinesBreakAndOutputFlow) {
  EXPECT_EQ(ConnectErrorOf([&] { comm_.SetLine(1, true); }), kConnectionIsInactive);
  comm_.Open();
  comm_.SetLine(1, true);
  comm_.SetLine(2, false);
  comm_.SetLine(3, true);
  comm_.SetLine(3, false);
  comm_.SetLine(4, false);
  comm_.SetLine(4, true);
  EXPECT_THAT(device_.Calls(), ElementsAre("open", "dtr+", "rts-", "break+", "purge-in-out", "break-", "purge-in-out",
                                           "flow-", "flow+"));

  EXPECT_THAT(ConnectErrorOf([&] { comm_.SetLine(5, true); }), HasSubstr("in function: EscapeCommFunction"));
  device_.FailModemLines(EIO);
  try {
    comm_.SetLine(1, false);
    ADD_FAILURE() << "a refused modem line must raise";
  } catch (const EComError& e) {
    EXPECT_EQ(e.Code(), EIO);
    EXPECT_THAT(e.what(), HasSubstr("in function: EscapeCommFunction"));
  }
}

TEST_F(CommTest, TransfersNeedAnOpenPortAndAnIncompleteWriteReportsZero) {
  char buffer[8];
  EXPECT_EQ(comm_.InQueue(), -1);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.WriteData("ab", 2); }), kConnectionIsInactive);
  EXPECT_EQ(ConnectErrorOf([&] { comm_.ReadData(buffer, 8); }), kConnectionIsInactive);
  comm_.PurgeIn();

  comm_.Open();
  EXPECT_EQ(comm_.WriteData("Q1\r", 3), 3);
  device_.LimitWrites(2);
  EXPECT_EQ(comm_.WriteData("abcd", 4), 0);
  EXPECT_EQ(device_.Written(), "Q1\rab");
  device_.LimitWrites(-1);
  device_.FailWrite(EIO);
  EXPECT_THAT(ConnectErrorOf([&] { comm_.WriteData("x", 1); }), HasSubstr("in function: WriteFile"));

  EXPECT_EQ(comm_.ReadData(buffer, 8), 0) << "a read never waits for data";
}

TEST_F(CommTest, ReceivedBytesRunOnRxCharOnTheEventThreadWithTheQueuedCount) {
  comm_.DontSynchronize = true;
  ReadOnRxChar();
  comm_.Open();
  device_.Receive("hello");
  ASSERT_TRUE(observed_.WaitUntil([&] { return observed_.text == "hello"; }));
  std::lock_guard<std::mutex> guard(observed_.mutex);
  EXPECT_THAT(observed_.counts, ElementsAre(5));
  EXPECT_NE(observed_.threads.at(0), std::this_thread::get_id());
}

TEST_F(CommTest, BytesArrivingDuringADispatchAreCountedInTheNextOne) {
  comm_.DontSynchronize = true;
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool entered = false;
  bool released = false;
  comm_.OnRxChar = [&](TConnection&, int count) {
    {
      std::unique_lock<std::mutex> lock(gate_mutex);
      entered = true;
      gate.notify_all();
      gate.wait_for(lock, kLimit, [&] { return released; });
    }
    const std::string text = comm_.Receive(count);
    std::lock_guard<std::mutex> guard(observed_.mutex);
    observed_.counts.push_back(count);
    observed_.text += text;
    observed_.changed.notify_all();
  };
  comm_.Open();
  device_.Receive("a");
  {
    std::unique_lock<std::mutex> lock(gate_mutex);
    ASSERT_TRUE(gate.wait_for(lock, kLimit, [&] { return entered; }));
  }
  device_.Receive("b");
  device_.Receive("c");
  device_.Receive("d");
  {
    std::lock_guard<std::mutex> lock(gate_mutex);
    released = true;
    gate.notify_all();
  }
  ASSERT_TRUE(observed_.WaitUntil([&] { return observed_.text == "abcd"; }));
  std::lock_guard<std::mutex> guard(observed_.mutex);
  EXPECT_THAT(observed_.counts, ElementsAre(1, 3));
}

TEST_F(CommTest, OnlyMonitoredEventsAreReportedAndAHangUpIsAnIoError) {
  comm_.DontSynchronize = true;
  comm_.SetMonitorEvents({evError});
  ReadOnRxChar();
  comm_.OnError = [this](TConnection&, int errors) {
    std::lock_guard<std::mutex> guard(observed_.mutex);
    observed_.errors.push_back(errors);
    observed_.changed.notify_all();
  };
  comm_.Open();
  device_.Receive("abc");
  device_.HangUp();
  ASSERT_TRUE(observed_.WaitUntil([&] { return !observed_.errors.empty(); }));
  ASSERT_TRUE(device_.WaitFor([&] { return device_.EventsDelivered() == 2; }, kLimit));
  comm_.Close();
  std::lock_guard<std::mutex> guard(observed_.mutex);
  EXPECT_THAT(observed_.errors, ElementsAre(kCommErrorIo));
  EXPECT_TRUE(observed_.counts.empty());
}

TEST_F(CommTest, WithoutDontSynchronizeTheEventsRunOnTheLoop) {
  auto clock = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop(*clock);
  comm_.SetEventLoop(&loop);
  comm_.DontSynchronize = false;
  bool on_loop = false;
  std::string text;
  comm_.OnRxChar = [&](TConnection&, int count) {
    on_loop = loop.IsInLoopThread();
    text = comm_.Receive(count);
    loop.Stop();
  };
  comm_.Open();
  device_.Receive("xy");
  loop.AddTimer(kLimit.count(), false, [&] { loop.Stop(); });
  loop.Run();
  comm_.Close();  // the loop must outlive the open port
  EXPECT_TRUE(on_loop);
  EXPECT_EQ(text, "xy");
}

TEST_F(CommTest, ClosingWhileAnEventWaitsForTheLoopReturnsAndTheEventIsDropped) {
  auto clock = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop(*clock);
  auto comm = std::make_unique<TComm>();
  comm->SetPortOpener(device_.MakeOpener());
  comm->SetEventLoop(&loop);
  bool ran = false;
  comm->OnRxChar = [&](TConnection&, int) { ran = true; };
  comm->Open();
  device_.Receive("x");
  // The event thread has posted the event to the loop, which is not running, and waits for it.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (loop.MsUntilNextWork() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(loop.MsUntilNextWork(), 0);

  comm->Close();
  comm.reset();
  loop.RunDue();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(device_.IsOpen());
}

TEST_F(CommTest, OpeningAndClosingManyTimesLeavesNoThreadAndNoDevice) {
  // One round first: a sanitizer runtime may start a helper thread of its own at the first thread
  // the process creates, which is not ours to count.
  comm_.Open();
  comm_.Close();
  const int threads = test::CountProcessThreads();
  for (int i = 1; i < 25; ++i) {
    comm_.Open();
    comm_.Close();
  }
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
  EXPECT_EQ(device_.OpenCount(), 25);
  EXPECT_FALSE(device_.IsOpen());
  // The event thread leaves nothing queued for the next user of the device.
  const std::vector<std::string> calls = device_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(calls.end() - 3, calls.end()), ElementsAre("open", "purge-in-out", "close"));

  auto doomed = std::make_unique<TComm>();
  doomed->SetPortOpener(device_.MakeOpener());
  doomed->Open();
  doomed.reset();
  EXPECT_FALSE(device_.IsOpen()) << "destroying an open port closes it";
}

}  // namespace
}  // namespace keep::server

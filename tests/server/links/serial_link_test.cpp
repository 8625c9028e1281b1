#include "server/links/serial_link.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "server/links/traffic_log.h"
#include "server/records/error_codes.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/loop_runner.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr auto kLimit = 5000ms;

class SerialLinkTest : public ::testing::Test {
 protected:
  SerialLinkTest() { setup_.ServerSetup.UpsDevice = pty_.SlavePath(); }

  void SetUp() override { ASSERT_TRUE(pty_.Ok()); }

  int Create(const std::string& params, TLogger* logger = nullptr) {
    setup_.UpsSetup.ProtocolSetup.ProtocolParams = params;
    return link_.CreateSerialLink(setup_, logger);
  }

  // Runs the loop's due work until `ready` holds, at most kLimit of real time (a real device is on
  // the other side).
  bool RunUntil(const std::function<bool()>& ready) { return test::RunLoopUntil(loop_, ready, kLimit); }

  termios SlaveSettings() const {
    termios t{};
    EXPECT_EQ(::tcgetattr(pty_.Slave(), &t), 0);
    return t;
  }

  test::PtyPair pty_;
  std::unique_ptr<platform::MonotonicClock> clock_ = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop_{*clock_};
  std::string received_;
  bool all_on_loop_ = true;
  SerialLink link_{loop_, [this](std::string text) {
                     all_on_loop_ = all_on_loop_ && loop_.IsInLoopThread();
                     received_ += text;
                   }};
  TSetupData setup_;
};

TEST_F(SerialLinkTest, TheParameterTextSetsRateFrameAndParity) {
  struct Case {
    const char* params;
    TBaudrate rate;
    TDatabits data_bits;
    TParity parity;
    TStopbits stop_bits;
  };
  const Case cases[] = {
      {"2400,8,N,1", br2400, da8, paNone, sb10},         {"19200,7,e,2", br19200, da7, paEven, sb20},
      {"4000,8,N,1", br2400, da8, paNone, sb10},         {"110,5,o,1", br110, da5, paOdd, sb10},
      {"256000,6,M,3", br256000, da6, paMark, sb10},     {"57600,9,s,2", br57600, da8, paSpace, sb20},
      {" 9600 , 8 , x , 1 ", br9600, da8, paNone, sb10}, {"14400,4,n,2", br14400, da8, paNone, sb20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.params);
    ASSERT_EQ(Create(c.params), kErrorOk);
    TRs232Port* port = link_.Port();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->Baudrate(), c.rate);
    EXPECT_EQ(port->Databits(), c.data_bits);
    EXPECT_EQ(port->Parity(), c.parity);
    EXPECT_EQ(port->Stopbits(), c.stop_bits);
    EXPECT_EQ(port->FlowControl(), fcNone);
    EXPECT_TRUE(port->DontSynchronize);
    EXPECT_EQ(port->MonitorEvents(), TCommEventTypes({evRxChar}));
    EXPECT_EQ(port->DeviceName(), pty_.SlavePath());
  }
}

TEST_F(SerialLinkTest, AParameterTextWithoutItsNumbersGives100007) {
  for (const char* params : {"fast,8,N,1", "9600,8,N", "", "9600,eight,N,1", "9600,8,N,one", "9600,,N,1"}) {
    EXPECT_EQ(Create(params), kErrorLinkOrDatabase) << params;
  }
}

TEST_F(SerialLinkTest, TheOpenDeviceRunsAtTheRateOfTheTextWithoutFlowControl) {
  ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  termios t = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&t), B2400);
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

  // Setting up again closes the open port first.
  ASSERT_EQ(Create("19200,7,e,2"), kErrorOk);
  EXPECT_FALSE(link_.Port()->Active());
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  t = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&t), B19200);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST_F(SerialLinkTest, AMissingDeviceOrOneHeldElsewhereGives100004) {
  EXPECT_EQ(link_.OpenSerialLink(0), kErrorServerObject) << "nothing created yet";

  setup_.ServerSetup.UpsDevice = "/dev/no-such-serial-device";
  ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
  EXPECT_EQ(link_.OpenSerialLink(0), kErrorDeviceOpen);
  EXPECT_FALSE(link_.Port()->Active());

  setup_.ServerSetup.UpsDevice = pty_.SlavePath();
  ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
  {
    std::unique_ptr<platform::SerialPort> holder;
    ASSERT_EQ(platform::SerialPort::Open(pty_.SlavePath(), &holder).error, 0);
    EXPECT_EQ(link_.OpenSerialLink(0), kErrorDeviceOpen);
  }

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    std::unique_ptr<platform::SerialPort> holder;
    const char opened = platform::SerialPort::Open(pty_.SlavePath(), &holder).error == 0 ? 'y' : 'n';
    if (::write(ready[1], &opened, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(opened, 'y');
  EXPECT_EQ(link_.OpenSerialLink(0), kErrorDeviceOpen);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);

  EXPECT_EQ(link_.OpenSerialLink(0), kErrorOk) << "free again once the other holder is gone";
}

TEST_F(SerialLinkTest, ADeviceOfAnotherKindGivesTheSystemCode) {
  test::TempDir dir;
  test::WriteFileText(dir.File("not-a-port"), "");
  setup_.ServerSetup.UpsDevice = dir.File("not-a-port");
  ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
  EXPECT_EQ(link_.OpenSerialLink(0), ENOTTY);
  EXPECT_FALSE(link_.Port()->Active());
}

TEST_F(SerialLinkTest, ReceivedBytesReachTheLoopInOrder) {
  ASSERT_EQ(Create("9600,8,N,1"), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    const std::string block = "<" + std::to_string(i) + ">";
    expected += block;
    pty_.WriteMaster(block);
  }
  ASSERT_TRUE(RunUntil([&] { return received_.size() >= expected.size(); })) << received_;
  EXPECT_EQ(received_, expected);
  EXPECT_TRUE(all_on_loop_);
}

TEST_F(SerialLinkTest, ARunningLoopDeliversWhatArrives) {
  ASSERT_EQ(Create("9600,8,N,1"), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  pty_.WriteMaster("(230.0 50.0)\r");
  bool timed_out = false;
  loop_.AddTimer(kLimit.count(), false, [&] {
    timed_out = true;
    loop_.Stop();
  });
  loop_.AddTimer(1, true, [&] {
    if (received_.size() >= 13) loop_.Stop();
  });
  loop_.Run();
  EXPECT_FALSE(timed_out);
  EXPECT_EQ(received_, "(230.0 50.0)\r");
  EXPECT_TRUE(all_on_loop_);
}

TEST_F(SerialLinkTest, WithProtocol7InputFromBeforeTheOpenIsDropped) {
  for (const int protocol : {7, 0}) {
    SCOPED_TRACE(protocol);
    received_.clear();
    ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
    pty_.WriteMaster("stale");
    ASSERT_TRUE(pty_.WaitSlaveQueue(5, kLimit));
    ASSERT_EQ(link_.OpenSerialLink(protocol), kErrorOk);
    pty_.WriteMaster("fresh");
    const std::string expected = protocol == 7 ? "fresh" : "stalefresh";
    ASSERT_TRUE(RunUntil([&] { return received_.size() >= expected.size(); })) << received_;
    EXPECT_EQ(received_, expected);
    link_.FreeSerialLink();
  }
}

TEST_F(SerialLinkTest, SentBytesGoOutAndBothDirectionsAreLogged) {
  test::TempDir install;
  std::filesystem::create_directory(install.path() / "data");
  platform::ManualClock wall;
  auto logger = CreateUpsTrafficLogger(install.path().string() + "/", wall, TFormatSettings{});
  ASSERT_EQ(Create("2400,8,N,1", logger.get()), kErrorOk);
  EXPECT_EQ(link_.Port()->Logger, logger.get());
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);

  link_.SendSerialLink("Q1\r");
  EXPECT_EQ(pty_.ReadMaster(3, kLimit), "Q1\r");
  pty_.WriteMaster("(2");
  ASSERT_TRUE(RunUntil([&] { return received_ == "(2"; }));
  link_.FreeSerialLink();

  const std::string log = test::ReadFileText(install.File("data/ups_debug.txt"));
  EXPECT_THAT(log, HasSubstr("01)51 31 0D \r\n"));
  EXPECT_THAT(log, HasSubstr("02)28 32 \r\n"));
  EXPECT_LT(log.find("01)"), log.find("02)"));
}

TEST_F(SerialLinkTest, AHungUpDeviceNeitherBlocksNorBusiesTheLink) {
  ASSERT_EQ(Create("2400,8,N,1"), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  const int threads_open = test::CountProcessThreads();
  pty_.CloseMaster();
  link_.SendSerialLink("Q1\r");  // fails on the dead device; dropped

  const std::clock_t cpu_before = std::clock();
  const auto until = std::chrono::steady_clock::now() + 300ms;
  RunUntil([&] { return std::chrono::steady_clock::now() >= until; });
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  // The loop above polls every millisecond itself; a spinning event thread would add a whole core.
  EXPECT_LT(cpu_ms, 200.0);

  link_.FreeSerialLink();
  EXPECT_EQ(link_.Port(), nullptr);
  EXPECT_TRUE(test::ThreadsSettleAt(threads_open - 1)) << test::CountProcessThreads();
}

TEST_F(SerialLinkTest, OpeningAndFreeingManyTimesLeavesNoThread) {
  const auto round = [&](int i) {
    ASSERT_EQ(Create("9600,8,N,1"), kErrorOk);
    ASSERT_EQ(link_.OpenSerialLink(i % 2 == 0 ? 0 : 7), kErrorOk);
    link_.FreeSerialLink();
  };
  // One round first: a sanitizer runtime may start a helper thread of its own at the first thread
  // the process creates, which is not ours to count.
  round(0);
  const int threads = test::CountProcessThreads();
  for (int i = 1; i < 20; ++i) round(i);
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
  std::unique_ptr<platform::SerialPort> port;
  EXPECT_EQ(platform::SerialPort::Open(pty_.SlavePath(), &port).error, 0) << "the device was given back";
}

TEST_F(SerialLinkTest, BlocksNotYetDeliveredWhenTheLinkIsFreedAreDropped) {
  ASSERT_EQ(Create("9600,8,N,1"), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  pty_.WriteMaster("late");
  // Wait for the delivery to be posted, without running it.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (loop_.MsUntilNextWork() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(loop_.MsUntilNextWork(), 0);
  link_.FreeSerialLink();
  loop_.RunDue();
  EXPECT_EQ(received_, "");
}

class SerialLinkFakeDeviceTest : public ::testing::Test {
 protected:
  SerialLinkFakeDeviceTest() {
    link_.SetPortOpener(device_.MakeOpener());
    setup_.ServerSetup.UpsDevice = "/dev/ttyS0";
    setup_.UpsSetup.ProtocolSetup.ProtocolParams = "19200,7,e,2";
  }

  test::FakeSerialDevice device_;
  std::unique_ptr<platform::MonotonicClock> clock_ = platform::MonotonicClock::CreateReal();
  platform::EventLoop loop_{*clock_};
  SerialLink link_{loop_, [](std::string) {}};
  TSetupData setup_;
};

TEST_F(SerialLinkFakeDeviceTest, TheDeviceGetsTheWholeFrameOfTheText) {
  ASSERT_EQ(link_.CreateSerialLink(setup_, nullptr), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  const auto settings = device_.Settings();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(device_.LastPath(), "/dev/ttyS0");
  EXPECT_EQ(settings->bit_rate, 19200);
  EXPECT_EQ(settings->data_bits, 7);
  EXPECT_EQ(settings->parity, platform::SerialParity::kEven);
  EXPECT_EQ(settings->stop_bits, platform::SerialStopBits::kTwo);
  EXPECT_EQ(settings->flow_control, platform::SerialFlowControl::kNone);
}

TEST_F(SerialLinkFakeDeviceTest, Protocol7RaisesDtrThenRtsThenDropsInput) {
  ASSERT_EQ(link_.CreateSerialLink(setup_, nullptr), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(7), kErrorOk);
  EXPECT_THAT(device_.Calls(), ElementsAre("open", "dtr+", "rts+", "purge-in"));
  link_.FreeSerialLink();

  ASSERT_EQ(link_.CreateSerialLink(setup_, nullptr), kErrorOk);
  ASSERT_EQ(link_.OpenSerialLink(3), kErrorOk);
  const auto calls = device_.Calls();
  EXPECT_EQ(calls.back(), "open") << "other protocols leave the lines alone";
}

TEST_F(SerialLinkFakeDeviceTest, AFailureAfterOpeningClosesTheDeviceAgain) {
  device_.FailModemLines(EPIPE);
  ASSERT_EQ(link_.CreateSerialLink(setup_, nullptr), kErrorOk);
  EXPECT_EQ(link_.OpenSerialLink(7), EPIPE);
  EXPECT_FALSE(link_.Port()->Active());
  EXPECT_FALSE(device_.IsOpen());

  device_.FailModemLines(0);
  device_.FailOpen({5, false});
  EXPECT_EQ(link_.OpenSerialLink(7), kErrorDeviceOpen);
}

TEST_F(SerialLinkFakeDeviceTest, SendingNeedsAnOpenPortAndAFailedWriteIsDropped) {
  link_.SendSerialLink("before create");
  ASSERT_EQ(link_.CreateSerialLink(setup_, nullptr), kErrorOk);
  link_.SendSerialLink("before open");
  ASSERT_EQ(link_.OpenSerialLink(0), kErrorOk);
  link_.SendSerialLink("Q1\r");
  device_.FailWrite(EIO);
  link_.SendSerialLink("lost");
  EXPECT_EQ(device_.Written(), "Q1\r");
}

TEST_F(SerialLinkFakeDeviceTest, DestroyingTheLinkFreesTheDevice) {
  auto link = std::make_unique<SerialLink>(loop_, [](std::string) {});
  link->SetPortOpener(device_.MakeOpener());
  ASSERT_EQ(link->CreateSerialLink(setup_, nullptr), kErrorOk);
  ASSERT_EQ(link->OpenSerialLink(0), kErrorOk);
  device_.Receive("pending");
  link.reset();
  EXPECT_FALSE(device_.IsOpen());
  loop_.RunDue();  // a delivery posted before must find the link gone and do nothing
}

}  // namespace
}  // namespace keep::server

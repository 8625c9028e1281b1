#include "platform/serial_port.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <future>
#include <string>

#include "tests/support/fake_serial_port.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace keep::platform {
namespace {

using namespace std::chrono_literals;

constexpr auto kLimit = 5000ms;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Ok()); }

  std::unique_ptr<SerialPort> OpenPty() {
    std::unique_ptr<SerialPort> port;
    const SerialOpenResult result = SerialPort::Open(pty_.SlavePath(), &port);
    EXPECT_EQ(result.error, 0);
    return port;
  }

  termios SlaveSettings() const {
    termios t{};
    EXPECT_EQ(::tcgetattr(pty_.Slave(), &t), 0);
    return t;
  }

  // Reads from `port` until `count` bytes came, waiting for its events.
  static std::string ReadAtLeast(SerialPort& port, size_t count) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (text.size() < count && std::chrono::steady_clock::now() < deadline) {
      char buffer[64];
      int n = 0;
      EXPECT_EQ(port.Read(buffer, sizeof buffer, &n), 0);
      text.append(buffer, static_cast<size_t>(n));
      if (n == 0) port.WaitEvent(100);
    }
    return text;
  }

  test::PtyPair pty_;
};

TEST_F(SerialPortTest, AppliesRateFrameAndFlowControlInRawMode) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);

  SerialSettings settings;
  settings.bit_rate = 2400;
  settings.flow_control = SerialFlowControl::kNone;
  ASSERT_EQ(port->Apply(settings), 0);
  termios t = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&t), B2400);
  EXPECT_EQ(::cfgetispeed(&t), B2400);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  // A pseudo-terminal always frames 8 bits without parity (it clears CSIZE and PARENB), so of the
  // frame only the bits it keeps can be seen here.
  settings = SerialSettings{};
  settings.bit_rate = 19200;
  settings.data_bits = 7;
  settings.parity = SerialParity::kOdd;
  settings.stop_bits = SerialStopBits::kTwo;
  settings.flow_control = SerialFlowControl::kSoftware;
  settings.xon_char = 0x11;
  settings.xoff_char = 0x13;
  ASSERT_EQ(port->Apply(settings), 0);
  t = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&t), B19200);
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);

  // kKeep leaves the software flow control just set; one and a half stop bits become two.
  settings.flow_control = SerialFlowControl::kKeep;
  settings.stop_bits = SerialStopBits::kOneAndHalf;
  settings.parity = SerialParity::kMark;
  ASSERT_EQ(port->Apply(settings), 0);
  t = SlaveSettings();
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(PARODD | CMSPAR | CSTOPB));

  settings.parity = SerialParity::kSpace;
  settings.stop_bits = SerialStopBits::kOne;
  settings.flow_control = SerialFlowControl::kCts;
  ASSERT_EQ(port->Apply(settings), 0);
  t = SlaveSettings();
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(CMSPAR));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(SerialPortTest, RefusesRatesAndSizesWithoutEquivalentAndKeepsTheOldSettings) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  SerialSettings settings;
  settings.bit_rate = 9600;
  ASSERT_EQ(port->Apply(settings), 0);

  for (int rate : {14400, 56000, 128000, 256000, 4000}) {
    settings.bit_rate = rate;
    EXPECT_EQ(port->Apply(settings), EINVAL) << rate;
  }
  settings.bit_rate = 9600;
  settings.data_bits = 4;
  EXPECT_EQ(port->Apply(settings), EINVAL);
  const termios t = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(SerialPortTest, OpenFailuresGiveTheCodesOfAMissingOrBusyDevice) {
  std::unique_ptr<SerialPort> port;
  EXPECT_EQ(SerialPort::Open("/dev/no-such-serial-device", &port).error, 2);
  EXPECT_EQ(port, nullptr);

  test::TempDir dir;
  test::WriteFileText(dir.File("plain"), "not a device");
  const SerialOpenResult plain = SerialPort::Open(dir.File("plain"), &port);
  EXPECT_EQ(plain.error, ENOTTY);
  EXPECT_TRUE(plain.wrong_file_type);
  EXPECT_EQ(port, nullptr);
}

TEST_F(SerialPortTest, TheDeviceIsExclusiveToOneOpenEvenAcrossProcesses) {
  auto first = OpenPty();
  ASSERT_NE(first, nullptr);
  std::unique_ptr<SerialPort> second;
  EXPECT_EQ(SerialPort::Open(pty_.SlavePath(), &second).error, 5);
  EXPECT_EQ(second, nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    std::unique_ptr<SerialPort> other;
    ::_exit(SerialPort::Open(pty_.SlavePath(), &other).error);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 5);

  first.reset();
  EXPECT_EQ(SerialPort::Open(pty_.SlavePath(), &second).error, 0);
}

TEST_F(SerialPortTest, BytesTravelBothWays) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  int written = 0;
  ASSERT_EQ(port->Write("Q1\r", 3, 1000, &written), 0);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(pty_.ReadMaster(3, kLimit), "Q1\r");

  pty_.WriteMaster("(230.0 50.0)\r");
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  EXPECT_EQ(ReadAtLeast(*port, 13), "(230.0 50.0)\r");
  int queued = -1;
  EXPECT_EQ(port->InQueue(&queued), 0);
  EXPECT_EQ(queued, 0);
}

TEST_F(SerialPortTest, BytesWaitingAtOpenAreReportedOnlyWithTheNextArrival) {
  pty_.WriteMaster("old");
  ASSERT_TRUE(pty_.WaitSlaveQueue(3, kLimit));
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->WaitEvent(50), SerialPort::Event::kTimeout);

  pty_.WriteMaster("new");
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  EXPECT_EQ(ReadAtLeast(*port, 6), "oldnew");
}

TEST_F(SerialPortTest, UnreadBytesAreNotReportedAgainButNewOnesAre) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  pty_.WriteMaster("a");
  ASSERT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  EXPECT_EQ(port->WaitEvent(120), SerialPort::Event::kTimeout);

  pty_.WriteMaster("b");
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  // Reading counts as taking notice, so the rest is reported again only after the next arrival.
  char byte = 0;
  int n = 0;
  ASSERT_EQ(port->Read(&byte, 1, &n), 0);
  EXPECT_EQ(std::string(&byte, n), "a");
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
}

TEST_F(SerialPortTest, PurgeDropsWhatWasReceived) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  pty_.WriteMaster("garbage");
  ASSERT_EQ(port->WaitEvent(5000), SerialPort::Event::kReadable);
  ASSERT_EQ(port->Purge(true, false), 0);
  int queued = -1;
  EXPECT_EQ(port->InQueue(&queued), 0);
  EXPECT_EQ(queued, 0);
}

TEST_F(SerialPortTest, InterruptWakesTheWaiterAndIsKeptUntilTheNextWait) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  auto waiter = std::async(std::launch::async, [&] { return port->WaitEvent(-1); });
  port->Interrupt();
  ASSERT_EQ(waiter.wait_for(kLimit), std::future_status::ready);
  EXPECT_EQ(waiter.get(), SerialPort::Event::kInterrupted);

  port->Interrupt();
  EXPECT_EQ(port->WaitEvent(-1), SerialPort::Event::kInterrupted);
}

TEST_F(SerialPortTest, AHangUpIsReportedOnceAndThenWaitedOutWithoutSpinning) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  pty_.CloseMaster();
  EXPECT_EQ(port->WaitEvent(5000), SerialPort::Event::kHangUp);

  const std::clock_t cpu_before = std::clock();
  const auto wall_before = std::chrono::steady_clock::now();
  EXPECT_EQ(port->WaitEvent(300), SerialPort::Event::kTimeout);
  const auto wall = std::chrono::steady_clock::now() - wall_before;
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_before) / CLOCKS_PER_SEC;
  EXPECT_GE(wall, 290ms);
  EXPECT_LT(cpu_ms, 100.0) << "the wait kept a processor busy";

  // Writing to a device that went away fails instead of waiting for it.
  int written = 0;
  EXPECT_NE(port->Write("x", 1, 1000, &written), 0);
}

TEST_F(SerialPortTest, SuspendedOutputTimesOutAndResumes) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(port->SetOutputFlow(false), 0);
  int written = -1;
  EXPECT_EQ(port->Write("ping", 4, 50, &written), 0);
  EXPECT_LT(written, 4);

  ASSERT_EQ(port->SetOutputFlow(true), 0);
  const std::string unsent = std::string("ping").substr(static_cast<size_t>(written));
  int rest = 0;
  ASSERT_EQ(port->Write(unsent.data(), static_cast<int>(unsent.size()), 1000, &rest), 0);
  EXPECT_EQ(written + rest, 4);
  EXPECT_EQ(pty_.ReadMaster(4, kLimit), "ping");
}

TEST_F(SerialPortTest, ModemLinesOfADeviceWithoutThemAreNoError) {
  auto port = OpenPty();
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->SetModemLine(SerialModemLine::kDtr, true), 0);
  EXPECT_EQ(port->SetModemLine(SerialModemLine::kRts, true), 0);
  EXPECT_EQ(port->SetModemLine(SerialModemLine::kRts, false), 0);
}

}  // namespace
}  // namespace keep::platform

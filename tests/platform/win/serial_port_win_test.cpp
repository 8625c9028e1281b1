// A COM port backed by a pseudo-terminal whose far end echoes every byte (pty_echo.py, started by
// scripts/test-windows, names the port in KEEP_WIN_TEST_SERIAL_PORT).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/serial_port.h"

namespace keep::platform {
namespace {

using Event = SerialPort::Event;

class WindowsSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("KEEP_WIN_TEST_SERIAL_PORT");
    if (name == nullptr || *name == '\0') GTEST_SKIP() << "no COM port given (scripts/test-windows gives one)";
    name_ = name;
    ASSERT_EQ(SerialPort::Open(name_, &port_).error, 0);
    SerialSettings settings;
    settings.bit_rate = 2400;
    settings.flow_control = SerialFlowControl::kNone;
    ASSERT_EQ(port_->Apply(settings), 0);
    ASSERT_EQ(port_->Purge(true, true), 0);
  }

  // What comes back until `size` bytes are there, waiting for each event at most 5 s.
  std::string Receive(size_t size) {
    std::string got;
    while (got.size() < size) {
      char buffer[256];
      int count = 0;
      EXPECT_EQ(port_->Read(buffer, sizeof buffer, &count), 0);
      got.append(buffer, static_cast<size_t>(count));
      if (count == 0 && port_->WaitEvent(5000) != Event::kReadable) break;
    }
    return got;
  }

  std::string name_;
  std::unique_ptr<SerialPort> port_;
};

TEST_F(WindowsSerialPortTest, BytesGoOutAndComeBackInOrder) {
  EXPECT_EQ(port_->SetModemLine(SerialModemLine::kDtr, true), 0);
  EXPECT_EQ(port_->SetModemLine(SerialModemLine::kRts, false), 0);
  int written = 0;
  ASSERT_EQ(port_->Write("Q1\r", 3, 1000, &written), 0);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(Receive(3), "Q1\r");

  std::string block;
  for (int i = 0; i < 3000; ++i) block.push_back(static_cast<char>(i % 251));
  ASSERT_EQ(port_->Write(block.data(), static_cast<int>(block.size()), 5000, &written), 0);
  EXPECT_EQ(written, static_cast<int>(block.size()));
  EXPECT_EQ(Receive(block.size()), block);
}

TEST_F(WindowsSerialPortTest, UnreadBytesAreReportedOnceUntilMoreArrive) {
  int written = 0;
  ASSERT_EQ(port_->Write("AB", 2, 1000, &written), 0);
  ASSERT_EQ(port_->WaitEvent(5000), Event::kReadable);
  int waiting = 0;
  // Both may not have come in one piece: wait until they are.
  for (int i = 0; i < 10 && waiting < 2; ++i) {
    ASSERT_EQ(port_->InQueue(&waiting), 0);
    if (waiting < 2) port_->WaitEvent(500);
  }
  EXPECT_EQ(waiting, 2);
  EXPECT_EQ(port_->WaitEvent(300), Event::kTimeout);
  ASSERT_EQ(port_->Write("C", 1, 1000, &written), 0);
  EXPECT_EQ(port_->WaitEvent(5000), Event::kReadable);
  EXPECT_EQ(Receive(3), "ABC");

  // Purged bytes are gone for Read and InQueue alike.
  ASSERT_EQ(port_->Write("xyz", 3, 1000, &written), 0);
  ASSERT_EQ(port_->WaitEvent(5000), Event::kReadable);
  ASSERT_EQ(port_->Purge(true, false), 0);
  char byte = 0;
  int count = -1;
  EXPECT_EQ(port_->Read(&byte, 1, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(WindowsSerialPortTest, InterruptEndsAWaitWithoutLimit) {
  std::thread interrupter([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    port_->Interrupt();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(port_->WaitEvent(-1), Event::kInterrupted);
  interrupter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(WindowsSerialPortTest, PortIsExclusiveAndSettingsAreChecked) {
  std::unique_ptr<SerialPort> second;
  EXPECT_EQ(SerialPort::Open(name_, &second).error, 5);
  EXPECT_EQ(second, nullptr);
  SerialSettings settings;
  settings.data_bits = 9;
  EXPECT_NE(port_->Apply(settings), 0);
  settings.data_bits = 8;
  settings.bit_rate = 300000;
  EXPECT_NE(port_->Apply(settings), 0);
  port_.reset();
  EXPECT_EQ(SerialPort::Open(name_, &second).error, 0);
}

TEST_F(WindowsSerialPortTest, DeadDeviceIsReportedOnce) {
  int written = 0;
  ASSERT_EQ(port_->Write("\x18HUP", 4, 1000, &written), 0);
  Event event = Event::kReadable;
  // The line may still echo a byte before it goes dead.
  for (int i = 0; i < 10 && event == Event::kReadable; ++i) {
    event = port_->WaitEvent(5000);
    char buffer[16];
    int count = 0;
    port_->Read(buffer, sizeof buffer, &count);
  }
  EXPECT_EQ(event, Event::kHangUp);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(port_->WaitEvent(400), Event::kTimeout);
  // Looked at again in slices, not spun on.
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(350));
}

TEST(WindowsSerialPortOpenTest, MissingPortGivesTwo) {
  std::unique_ptr<SerialPort> port;
  EXPECT_EQ(SerialPort::Open("COM250", &port).error, 2);
  EXPECT_EQ(SerialPort::Open("", &port).error, 2);
  EXPECT_EQ(port, nullptr);
}

}  // namespace
}  // namespace keep::platform

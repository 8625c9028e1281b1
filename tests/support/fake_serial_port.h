// Serial devices for tests: a fake device in memory that records what is done to it and accepts
// scripted failures (for what a real device cannot show, such as the modem lines), and a
// pseudo-terminal pair whose slave side stands in for a real serial device.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace keep::test {

// The device behind any number of successive opens. Thread-safe: the port's event thread and the
// test thread use it at once.
class FakeSerialDevice {
 public:
  using Opener =
      std::function<platform::SerialOpenResult(const std::string& path, std::unique_ptr<platform::SerialPort>* port)>;

  FakeSerialDevice();
  ~FakeSerialDevice();
  FakeSerialDevice(const FakeSerialDevice&) = delete;
  FakeSerialDevice& operator=(const FakeSerialDevice&) = delete;

  // Opens this device whatever the path (the path is recorded). The opener may outlive the device
  // object: the ports share its state.
  Opener MakeOpener();

  // Scripted failures, in force until changed (0 or a default result clears them).
  void FailOpen(platform::SerialOpenResult result);
  void FailApply(int code);
  void FailWrite(int code);
  void FailModemLines(int code);
  // Bytes the device takes per write before it "times out"; negative takes everything.
  void LimitWrites(int bytes);

  // The peer sends `bytes`: they join the input queue and the port reports them.
  void Receive(std::string_view bytes);
  // The device goes away: the port reports a hang-up once.
  void HangUp();

  bool IsOpen() const;
  int OpenCount() const;
  std::string LastPath() const;
  // The settings of the last successful Apply.
  std::optional<platform::SerialSettings> Settings() const;
  std::string Written() const;
  std::string InputQueue() const;
  // Everything done to the device, in order: "open", "close", "dtr+", "dtr-", "rts+", "rts-",
  // "break+", "break-", "flow+", "flow-", "purge-in", "purge-out", "purge-in-out".
  std::vector<std::string> Calls() const;
  // Events WaitEvent has handed out so far.
  int EventsDelivered() const;

  // Waits until `ready` holds (checked under the device's lock whenever its state changes), at most
  // `limit`. True when it held.
  bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace keep::test

// The thread that waits for a HID device's input reports and hands on the text each one carries.
// It blocks in the device's read (nothing polls on a timer); a read that cannot even start (the
// device is going away) is retried after a pause that grows to a few seconds, so a dead device
// costs almost nothing until its removal is announced.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid_devices.h"

namespace keep::server {

class UsbReceiveThread {
 public:
  // Runs on the receive thread with the report's identifier and its non-empty text.
  using Deliver = std::function<void(uint8_t report_id, std::string text)>;

  // Starts reading at once. `device` must outlive the thread object.
  UsbReceiveThread(platform::HidDevice& device, Deliver deliver);
  // Stops and joins.
  ~UsbReceiveThread();
  UsbReceiveThread(const UsbReceiveThread&) = delete;
  UsbReceiveThread& operator=(const UsbReceiveThread&) = delete;

  // Asks the thread to end, interrupts its read and returns once it has ended: after this the
  // device may be released. Safe twice.
  void Stop();

 private:
  void Run();
  // Waits `ms` or until Stop; true when stopping.
  bool PauseOrStop(int ms);
  bool Stopping();

  platform::HidDevice& device_;
  Deliver deliver_;
  std::mutex mutex_;
  std::condition_variable stop_requested_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace keep::server

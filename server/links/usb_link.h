// The UPS link over USB: finds the UPS among the attached HID devices by the model's accepted
// vendor and product identifiers, keeps it across unplugging and plugging back, and carries the
// protocol text in HID reports.
//
// Two ways of carrying text, by protocol number:
//   report mode (1, 3, 8): output reports out; input reports in, read by a receive thread;
//   feature mode (7): one 64-byte set-feature out; the answer fetched with a get-feature when the
//   UPS manager polls for it.
// Any other protocol sends nothing over USB.
//
// Threads: every call, and the controller's arrival and removal announcements, run on the loop.
// Text received by the receive thread is handed to the loop, where `on_receive` gets it in order.
// With the debug switch on, every report sent or received is dumped to data/ups_debug.txt.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "platform/hid_devices.h"
#include "server/links/usb_receive_thread.h"
#include "server/links/usb_reports.h"
#include "server/records/setup_data.h"

namespace keep::server {

// A debug dump beyond this starts again from empty.
inline constexpr int64_t kUsbDumpMaxBytes = 4 * 1024 * 1024;

class UsbLink {
 public:
  // `controllers` makes the device controller (the system's, or a test double). `on_receive` runs on
  // `loop`, which must outlive the link.
  UsbLink(platform::EventLoop& loop, platform::HidControllerFactory controllers,
          std::function<void(std::string)> on_receive);
  ~UsbLink();  // frees the device and the controller
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  // Takes the model's accepted devices and protocol number, and the installation folder for the
  // dump when `debug`. Makes the controller unless there is one (100002 when that fails) and
  // listens for arrivals and removals. 0 otherwise.
  int CreateUsbLink(const TSetupData& setup, bool debug);
  // Looks at the devices attached now; a matching one is taken. 0 whether or not one was: without
  // a UPS the link stays silent until one arrives.
  int OpenUsbLink();
  // Sends `text` to the UPS held, by the mode of the protocol. Failed transfers are dropped: the
  // UPS manager's reply time-out notices the missing answer.
  void SendUsbLink(std::string_view text);
  // Feature mode: fetches one answer and hands its text to `on_receive` before returning.
  void PollUsbFeature();
  // With a device held: stops listening, releases the device and frees the controller. With none,
  // the controller stays for the next CreateUsbLink.
  void FreeUsbLink();

  bool FeatureMode() const { return protocol_ == 7; }
  bool DevicePresent() const { return device_ != nullptr && present_; }
  bool Receiving() const { return receiver_ != nullptr; }
  uint8_t ReportId() const { return report_id_; }

 private:
  void OnArrival(const platform::HidDeviceInfo& device);
  void OnRemoval(const platform::HidDeviceInfo& device);
  // Ends the receive thread first: the device is freed only once nothing can read it.
  void ReleaseDevice();
  void Dump(UsbDirection direction, uint8_t report_id, std::string_view text);
  bool ReportMode() const;

  platform::EventLoop& loop_;
  platform::HidControllerFactory controllers_;
  std::function<void(std::string)> on_receive_;
  std::unique_ptr<platform::HidDeviceController> controller_;
  std::unique_ptr<platform::HidDevice> device_;
  std::unique_ptr<UsbReceiveThread> receiver_;
  // Deliveries posted by the receive thread check this on the loop: false once their device has
  // been released.
  std::shared_ptr<std::atomic<bool>> alive_;
  bool present_ = false;
  uint8_t report_id_ = 0;
  std::vector<TUsbDeviceId> accepted_;
  int32_t protocol_ = 0;
  std::string dump_file_;  // empty: no dump
};

}  // namespace keep::server

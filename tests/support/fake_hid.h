// A HID device layer in memory, behind the same interface as the system's: devices attached to a
// bus, announced to every controller made on it, and handles that read the input reports the test
// queues and record what the link writes. Thread-safe: the link's receive thread reads while the
// test thread queues and detaches.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid_devices.h"

namespace keep::test {

using HidReport = std::vector<uint8_t>;

class FakeHidDevice {
 public:
  FakeHidDevice(uint16_t vendor, uint16_t product, std::string path, platform::HidCapabilities capabilities,
                uint8_t input_report_id);

  const platform::HidDeviceInfo& Info() const { return info_; }
  platform::HidCapabilities Capabilities() const { return capabilities_; }
  uint8_t InputReportId() const { return input_report_id_; }

  // Capability queries fail from now on (or succeed again).
  void FailCapabilities(bool fail);
  bool CapabilitiesFail() const;

  // Queues an input report for the next read.
  void PushInput(HidReport report);
  // Reads blocked on this device right now.
  int ReadsWaiting() const;
  // Input reports read so far.
  int ReportsRead() const;

  // What the link sent, in order.
  std::vector<HidReport> Outputs() const;
  std::vector<HidReport> FeaturesSet() const;
  int FeatureFetches() const;
  // The feature report a get-feature returns (64 bytes, zero-filled).
  void SetFeatureAnswer(HidReport report);

  // Run, outside the device's lock, for every output report and set-feature written: a UPS stand-in
  // answers here.
  std::function<void(FakeHidDevice&, const HidReport&)> on_output;
  std::function<void(FakeHidDevice&, const HidReport&)> on_set_feature;

  // How many handles are open, and whether one was destroyed while a read on it ran.
  int OpenHandles() const;
  bool FreedDuringRead() const { return freed_during_read_.load(); }

 private:
  friend class FakeHidHandle;
  friend class FakeHidBus;

  const platform::HidDeviceInfo info_;
  const platform::HidCapabilities capabilities_;
  const uint8_t input_report_id_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool attached_ = false;
  uint64_t generation_ = 0;  // counts attachments: handles of an earlier one fail
  bool fail_capabilities_ = false;
  std::vector<HidReport> input_;
  int reads_waiting_ = 0;
  int reports_read_ = 0;
  std::vector<HidReport> outputs_;
  std::vector<HidReport> features_set_;
  int feature_fetches_ = 0;
  HidReport feature_answer_;
  int open_handles_ = 0;
  std::atomic<bool> freed_during_read_{false};
};

class FakeHidBus {
 public:
  FakeHidBus();
  ~FakeHidBus();
  FakeHidBus(const FakeHidBus&) = delete;
  FakeHidBus& operator=(const FakeHidBus&) = delete;

  // The factory a link makes its controller with. Controllers made by it must not outlive the bus.
  platform::HidControllerFactory Factory();
  // Makes controller creation fail with this code (0: succeed again).
  void FailCreation(int error);

  // Attaches the device and announces it to every controller (posted to their loops).
  void Attach(const std::shared_ptr<FakeHidDevice>& device);
  // Detaches it: its handles' reads fail from now on; the removal is announced.
  void Detach(const std::shared_ptr<FakeHidDevice>& device);
  // Controllers alive now.
  int Controllers() const;

 private:
  friend class FakeHidController;
  struct State;
  std::shared_ptr<State> state_;
};

// A device of report mode: identifier 1, 9-byte input and output reports (8 bytes of data each).
std::shared_ptr<FakeHidDevice> MakeFakeHidDevice(uint16_t vendor, uint16_t product, int report_length = 9,
                                                 uint8_t report_id = 1);

}  // namespace keep::test

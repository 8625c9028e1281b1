// HID class devices (a UPS on USB carries its protocol text in HID reports): finding them by vendor
// and product identifier, hearing them arrive and leave, and exchanging reports with one of them.
//
// Reports are framed as on Windows whatever the system does underneath: byte 0 is the report
// identifier (0 for a device that does not number its reports), the data follows. Lengths count that
// byte.
//
// Threads: a controller belongs to the loop it was made with; its handlers run there. A device may be
// used from two threads at once: one reading input reports, one doing everything else; Interrupt may
// come from any thread. Errors are system codes (errno on POSIX), 0 for success.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"

namespace keep::platform {

// One attached device as enumeration and hot-plug announce it.
struct HidDeviceInfo {
  std::string path;  // names the device while it stays attached (a hidraw node on Linux)
  uint16_t vendor = 0;
  uint16_t product = 0;
};

// What the device's report descriptor says about its transfers.
struct HidCapabilities {
  int input_report_length = 0;    // the longest input report, identifier byte included
  int output_report_length = 0;   // the longest output report, identifier byte included
  int feature_report_length = 0;  // the longest feature report, identifier byte included
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;

  virtual const HidDeviceInfo& Info() const = 0;

  virtual int Capabilities(HidCapabilities* capabilities) = 0;
  // The report identifier of the device's first input value (a field of more than one bit, not
  // padding). An error when the device has none.
  virtual int FirstInputValueReportId(uint8_t* report_id) = 0;

  // Waits until one input report arrives (`timeout_ms` negative: without limit), then copies at most
  // `capacity` bytes of it, identifier first. *count is 0 when the time ran out or Interrupt() was
  // called. An error when the device has gone or the read failed.
  virtual int ReadInputReport(uint8_t* buffer, int capacity, int timeout_ms, int* count) = 0;
  // Makes the current or the next ReadInputReport return at once with *count 0. Any thread.
  virtual void Interrupt() = 0;

  // Writes one output report of `size` bytes; *written is how many the device took.
  virtual int WriteOutputReport(const uint8_t* data, int size, int* written) = 0;
  // Sends a feature report of `size` bytes (byte 0 its identifier).
  virtual int SetFeatureReport(const uint8_t* data, int size) = 0;
  // Fetches the feature report whose identifier is in data[0]; *count is how many bytes came,
  // identifier included.
  virtual int GetFeatureReport(uint8_t* data, int size, int* count) = 0;
};

class HidDeviceController {
 public:
  using Handler = std::function<void(const HidDeviceInfo&)>;

  virtual ~HidDeviceController() = default;

  // Handlers for devices that arrive and leave from now on; null handlers announce nothing. They run
  // on the controller's loop and may call any member, Open included.
  virtual void SetHandlers(Handler arrival, Handler removal) = 0;
  // Announces every device attached now to the arrival handler, before returning. Loop thread.
  virtual void Rescan() = 0;
  // Opens the first attached device with these identifiers. ENOENT when there is none. Loop thread.
  virtual int Open(uint16_t vendor, uint16_t product, std::unique_ptr<HidDevice>* device) = 0;
};

// Makes the system's controller: it announces arrivals and removals on `loop`, which must outlive
// it. 0 or a system code; *controller is set only on success.
using HidControllerFactory = std::function<int(EventLoop& loop, std::unique_ptr<HidDeviceController>* controller)>;
int CreateSystemHidController(EventLoop& loop, std::unique_ptr<HidDeviceController>* controller);

}  // namespace keep::platform

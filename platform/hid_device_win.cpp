// HID reports through the class driver: overlapped ReadFile/WriteFile for input and output reports,
// HidD_SetFeature/HidD_GetFeature for feature reports. The driver wants every transfer exactly as long
// as the longest report of its kind (identifier byte included), so shorter reports are padded with
// zeros and longer ones refused.
#include <windows.h>
// After windows.h: they use its types, and NTSTATUS from winternl.h; hidsdi.h brings hidpi.h.
#include <winternl.h>
// The header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/hid_device_win.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// A write the device does not take within this time is given up: a hung device must not hold the
// caller for ever.
constexpr DWORD kWriteTimeoutMs = 5000;

int LastError() { return static_cast<int>(::GetLastError()); }

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Hands the handle over; this no longer closes it.
  HANDLE Release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_;
};

struct Preparsed {
  ~Preparsed() {
    if (data != nullptr) ::HidD_FreePreparsedData(data);
  }
  PHIDP_PREPARSED_DATA data = nullptr;
};

class WindowsHidDevice final : public HidDevice {
 public:
  WindowsHidDevice(HANDLE file, HANDLE read_event, HANDLE write_event, HANDLE wake_event, const HidDeviceInfo& info,
                   const HIDP_CAPS& caps, bool has_input_value, uint8_t first_input_value_id)
      : file_(file),
        read_event_(read_event),
        write_event_(write_event),
        wake_event_(wake_event),
        info_(info),
        caps_(caps),
        has_input_value_(has_input_value),
        first_input_value_id_(first_input_value_id),
        report_(caps.InputReportByteLength) {}
  WindowsHidDevice(const WindowsHidDevice&) = delete;
  WindowsHidDevice& operator=(const WindowsHidDevice&) = delete;

  const HidDeviceInfo& Info() const override { return info_; }

  int Capabilities(HidCapabilities* capabilities) override {
    capabilities->input_report_length = caps_.InputReportByteLength;
    capabilities->output_report_length = caps_.OutputReportByteLength;
    capabilities->feature_report_length = caps_.FeatureReportByteLength;
    return 0;
  }

  int FirstInputValueReportId(uint8_t* report_id) override {
    if (!has_input_value_) return ERROR_NOT_FOUND;
    *report_id = first_input_value_id_;
    return 0;
  }

  int ReadInputReport(uint8_t* buffer, int capacity, int timeout_ms, int* count) override {
    *count = 0;
    // A read with no room would still take a report off the queue and lose it.
    if (capacity <= 0 || report_.empty()) return ERROR_INVALID_PARAMETER;
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_event_.get();
    ::ResetEvent(read_event_.get());
    DWORD got = 0;
    if (!::ReadFile(file_.get(), report_.data(), static_cast<DWORD>(report_.size()), &got, &overlapped)) {
      const int error = LastError();
      if (error != ERROR_IO_PENDING) return error;
      const HANDLE events[2] = {wake_event_.get(), read_event_.get()};
      const DWORD wait =
          ::WaitForMultipleObjects(2, events, FALSE, timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
      if (wait == WAIT_FAILED) {
        // The OVERLAPPED lives on this stack: the read is ended before the error is reported.
        const int wait_error = LastError();
        ::CancelIoEx(file_.get(), &overlapped);
        ::GetOverlappedResult(file_.get(), &overlapped, &got, TRUE);
        return wait_error;
      }
      if (wait != WAIT_OBJECT_0 + 1) {
        // Time out or Interrupt (consumed by the wait: one Interrupt ends one read). A report that
        // completed meanwhile is still delivered rather than lost.
        ::CancelIoEx(file_.get(), &overlapped);
        if (!::GetOverlappedResult(file_.get(), &overlapped, &got, TRUE)) {
          const int error_after = LastError();
          return error_after == ERROR_OPERATION_ABORTED ? 0 : error_after;
        }
      } else if (!::GetOverlappedResult(file_.get(), &overlapped, &got, TRUE)) {
        return LastError();
      }
    }
    const size_t copied = std::min<size_t>(got, static_cast<size_t>(capacity));
    std::memcpy(buffer, report_.data(), copied);
    *count = static_cast<int>(copied);
    return 0;
  }

  void Interrupt() override { ::SetEvent(wake_event_.get()); }

  int WriteOutputReport(const uint8_t* data, int size, int* written) override {
    *written = 0;
    if (size <= 0 || size > caps_.OutputReportByteLength) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> report(caps_.OutputReportByteLength, 0);
    std::memcpy(report.data(), data, static_cast<size_t>(size));
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_event_.get();
    ::ResetEvent(write_event_.get());
    DWORD sent = 0;
    if (!::WriteFile(file_.get(), report.data(), static_cast<DWORD>(report.size()), &sent, &overlapped)) {
      const int error = LastError();
      if (error != ERROR_IO_PENDING) return error;
      if (::WaitForSingleObject(write_event_.get(), kWriteTimeoutMs) != WAIT_OBJECT_0) {
        ::CancelIoEx(file_.get(), &overlapped);
      }
      if (!::GetOverlappedResult(file_.get(), &overlapped, &sent, TRUE)) {
        const int error_after = LastError();
        return error_after == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : error_after;
      }
    }
    // The padding is not the caller's: count only what it gave.
    *written = static_cast<int>(std::min<DWORD>(sent, static_cast<DWORD>(size)));
    return 0;
  }

  int SetFeatureReport(const uint8_t* data, int size) override {
    if (size <= 0 || size > caps_.FeatureReportByteLength) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> report(caps_.FeatureReportByteLength, 0);
    std::memcpy(report.data(), data, static_cast<size_t>(size));
    if (!::HidD_SetFeature(file_.get(), report.data(), static_cast<ULONG>(report.size()))) return LastError();
    return 0;
  }

  int GetFeatureReport(uint8_t* data, int size, int* count) override {
    *count = 0;
    if (size <= 0 || caps_.FeatureReportByteLength == 0) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> report(caps_.FeatureReportByteLength, 0);
    report[0] = data[0];
    if (!::HidD_GetFeature(file_.get(), report.data(), static_cast<ULONG>(report.size()))) return LastError();
    const size_t copied = std::min<size_t>(report.size(), static_cast<size_t>(size));
    std::memcpy(data, report.data(), copied);
    *count = static_cast<int>(copied);
    return 0;
  }

 private:
  const Handle file_;
  const Handle read_event_;   // the reading thread's
  const Handle write_event_;  // the other thread's
  const Handle wake_event_;   // auto-reset: set by Interrupt
  const HidDeviceInfo info_;
  const HIDP_CAPS caps_;
  const bool has_input_value_;
  const uint8_t first_input_value_id_;
  std::vector<uint8_t> report_;  // the reading thread's
};

// The first input value that is a field of more than one bit (a one-bit value reads as a flag).
bool FirstInputValue(PHIDP_PREPARSED_DATA preparsed, const HIDP_CAPS& caps, uint8_t* report_id) {
  if (caps.NumberInputValueCaps == 0) return false;
  USHORT length = caps.NumberInputValueCaps;
  std::vector<HIDP_VALUE_CAPS> values(length);
  if (::HidP_GetValueCaps(HidP_Input, values.data(), &length, preparsed) != HIDP_STATUS_SUCCESS) return false;
  for (USHORT i = 0; i < std::min<USHORT>(length, caps.NumberInputValueCaps); ++i) {
    if (static_cast<unsigned>(values[i].BitSize) * std::max<USHORT>(values[i].ReportCount, 1) > 1) {
      *report_id = values[i].ReportID;
      return true;
    }
  }
  return false;
}

}  // namespace

int OpenWindowsHidDevice(const HidDeviceInfo& info, std::unique_ptr<HidDevice>* device) {
  if (info.path.empty() || info.path.find('\0') != std::string::npos) return ERROR_INVALID_NAME;
  Handle file(::CreateFileW(WideFromUtf8(info.path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!file.valid()) return LastError();
  Preparsed preparsed;
  if (!::HidD_GetPreparsedData(file.get(), &preparsed.data)) return LastError();
  HIDP_CAPS caps{};
  if (::HidP_GetCaps(preparsed.data, &caps) != HIDP_STATUS_SUCCESS) return ERROR_INVALID_DATA;
  uint8_t first_id = 0;
  const bool has_input_value = FirstInputValue(preparsed.data, caps, &first_id);
  Handle read_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle write_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Handle wake_event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!read_event.valid() || !write_event.valid() || !wake_event.valid()) return LastError();
  // The handles pass to the device, which closes them.
  *device = std::make_unique<WindowsHidDevice>(file.Release(), read_event.Release(), write_event.Release(),
                                               wake_event.Release(), info, caps, has_input_value, first_id);
  return 0;
}

}  // namespace keep::platform

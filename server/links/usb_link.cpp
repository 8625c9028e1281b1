#include "server/links/usb_link.h"

#include <algorithm>

#include "server/records/error_codes.h"

namespace keep::server {

UsbLink::UsbLink(platform::EventLoop& loop, platform::HidControllerFactory controllers,
                 std::function<void(std::string)> on_receive)
    : loop_(loop), controllers_(std::move(controllers)), on_receive_(std::move(on_receive)) {}

UsbLink::~UsbLink() {
  FreeUsbLink();
  if (controller_) controller_->SetHandlers(nullptr, nullptr);
  controller_.reset();
}

bool UsbLink::ReportMode() const { return protocol_ == 1 || protocol_ == 3 || protocol_ == 8; }

int UsbLink::CreateUsbLink(const TSetupData& setup, bool debug) {
  accepted_ = setup.UpsSetup.UsbDevices;
  protocol_ = setup.UpsSetup.ProtocolSetup.ProtocolNumber;
  dump_file_ = debug ? setup.InstallPath + "data/ups_debug.txt" : std::string();
  if (controller_) return kErrorOk;
  if (!controllers_ || controllers_(loop_, &controller_) != 0 || !controller_) {
    controller_.reset();
    return kErrorServerObject;
  }
  controller_->SetHandlers([this](const platform::HidDeviceInfo& device) { OnArrival(device); },
                           [this](const platform::HidDeviceInfo& device) { OnRemoval(device); });
  return kErrorOk;
}

int UsbLink::OpenUsbLink() {
  if (controller_) controller_->Rescan();
  return kErrorOk;
}

void UsbLink::OnArrival(const platform::HidDeviceInfo& arrived) {
  for (const TUsbDeviceId& pair : accepted_) {
    if (device_ != nullptr) return;
    if (arrived.vendor != pair.VendorId || arrived.product != pair.ProductId) continue;
    std::unique_ptr<platform::HidDevice> device;
    present_ = controller_->Open(arrived.vendor, arrived.product, &device) == 0 && device != nullptr;
    if (!present_) continue;
    device_ = std::move(device);
    if (FeatureMode()) {
      report_id_ = kUsbFeatureReportId;
      return;
    }
    // Without an input value to read the device stays held, silent: a later removal frees it.
    uint8_t report_id = 0;
    if (device_->FirstInputValueReportId(&report_id) != 0) return;
    report_id_ = report_id;
    auto alive = std::make_shared<std::atomic<bool>>(true);
    alive_ = alive;
    receiver_ = std::make_unique<UsbReceiveThread>(*device_, [this, alive](uint8_t id, std::string text) {
      loop_.Post([this, alive, id, text = std::move(text)]() mutable {
        if (!alive->load()) return;
        Dump(UsbDirection::kReceived, id, text);
        on_receive_(std::move(text));
      });
    });
    return;
  }
}

void UsbLink::OnRemoval(const platform::HidDeviceInfo& removed) {
  if (device_ == nullptr || device_->Info().path != removed.path) return;
  ReleaseDevice();
}

void UsbLink::ReleaseDevice() {
  if (alive_) alive_->store(false);
  alive_.reset();
  if (receiver_) receiver_->Stop();
  receiver_.reset();
  device_.reset();
  present_ = false;
}

void UsbLink::SendUsbLink(std::string_view text) {
  if (!DevicePresent()) return;
  if (FeatureMode()) {
    uint8_t report[kUsbReportBuffer] = {};
    const size_t size = std::min(text.size(), sizeof report);
    std::copy_n(text.begin(), size, report);
    if (device_->SetFeatureReport(report, sizeof report) == 0) Dump(UsbDirection::kSent, report[0], text);
    return;
  }
  if (!ReportMode()) return;
  platform::HidCapabilities capabilities;
  if (device_->Capabilities(&capabilities) != 0) return;
  const size_t length = std::clamp<size_t>(static_cast<size_t>(std::max(capabilities.output_report_length, 0)), 0,
                                           kUsbReportBuffer);
  size_t offset = 0;
  for (const std::string& report : UsbSplitIntoReports(report_id_, text, length)) {
    const std::string_view piece = text.substr(std::min(offset, text.size()), length - 1);
    offset += length - 1;
    int written = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(report.data());
    if (device_->WriteOutputReport(bytes, static_cast<int>(report.size()), &written) != 0 || written <= 0) continue;
    const size_t end = piece.find('\r');
    Dump(UsbDirection::kSent, bytes[0], piece.substr(0, end == std::string_view::npos ? end : end + 1));
  }
}

void UsbLink::PollUsbFeature() {
  if (!DevicePresent()) return;
  uint8_t report[kUsbReportBuffer] = {};
  report[0] = report_id_;
  int count = 0;
  if (device_->GetFeatureReport(report, sizeof report, &count) != 0) return;
  std::string text = UsbFeatureReportText(report, std::clamp<size_t>(static_cast<size_t>(std::max(count, 0)), 0,
                                                                     sizeof report));
  Dump(UsbDirection::kReceived, report[0], text);
  if (!text.empty()) on_receive_(std::move(text));
}

void UsbLink::FreeUsbLink() {
  if (device_ == nullptr) return;
  if (controller_) controller_->SetHandlers(nullptr, nullptr);
  ReleaseDevice();
  controller_.reset();
}

void UsbLink::Dump(UsbDirection direction, uint8_t report_id, std::string_view text) {
  if (dump_file_.empty()) return;
  AppendUsbDump(dump_file_, UsbDumpLine(direction, report_id, text), kUsbDumpMaxBytes);
}

}  // namespace keep::server

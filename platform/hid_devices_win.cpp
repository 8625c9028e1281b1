// HID class devices found through SetupAPI (the HID interface class) and identified with
// HidD_GetAttributes. Arrivals and removals are found by a fresh enumeration on a loop timer every
// kRescanIntervalMs, compared with the devices seen before: no hidden window and message pump for
// device notifications, and the loop stays the one place that waits.
#include <windows.h>
// After windows.h: they use its types, and NTSTATUS from winternl.h.
#include <setupapi.h>
#include <winternl.h>
// The header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid_device_win.h"
#include "platform/hid_device_changes.h"
#include "platform/hid_devices.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// A UPS plugged in is noticed within this time; the scan is a few system calls per HID device.
constexpr int64_t kRescanIntervalMs = 3000;
// An interface path longer than this is no device path: such a detail is skipped.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

class DeviceList {
 public:
  explicit DeviceList(HDEVINFO list) : list_(list) {}
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  ~DeviceList() {
    if (valid()) ::SetupDiDestroyDeviceInfoList(list_);
  }
  bool valid() const { return list_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return list_; }

 private:
  HDEVINFO list_;
};

bool InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* interface_data, std::string* path) {
  DWORD needed = 0;
  ::SetupDiGetDeviceInterfaceDetailW(list, interface_data, nullptr, 0, &needed, nullptr);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || needed > kMaxDetailBytes) return false;
  // DWORD-aligned storage for the variable-length structure.
  std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!::SetupDiGetDeviceInterfaceDetailW(list, interface_data, detail, needed, nullptr, nullptr)) return false;
  // The path ends at its NUL or at the end of what the call said it wrote, whichever comes first.
  const size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  const size_t max_chars = (needed - offset) / sizeof(wchar_t);
  size_t length = 0;
  while (length < max_chars && detail->DevicePath[length] != L'\0') ++length;
  if (length == 0) return false;
  *path = Utf8FromWide(std::wstring_view(detail->DevicePath, length));
  return true;
}

// Opened without access rights: enough to ask the identifiers of a device another program holds.
bool Identify(const std::string& path, HidDeviceInfo* info) {
  HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const bool known = ::HidD_GetAttributes(file, &attributes) != FALSE;
  ::CloseHandle(file);
  if (!known) return false;
  info->path = path;
  info->vendor = attributes.VendorID;
  info->product = attributes.ProductID;
  return true;
}

int Enumerate(std::vector<HidDeviceInfo>* devices) {
  devices->clear();
  GUID hid_class{};
  ::HidD_GetHidGuid(&hid_class);
  DeviceList list(::SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list.valid()) return static_cast<int>(::GetLastError());
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!::SetupDiEnumDeviceInterfaces(list.get(), nullptr, &hid_class, index, &interface_data)) {
      const DWORD error = ::GetLastError();
      return error == ERROR_NO_MORE_ITEMS ? 0 : static_cast<int>(error);
    }
    std::string path;
    HidDeviceInfo info;
    // A device leaving during the scan is skipped; the next scan reports it gone.
    if (InterfacePath(list.get(), &interface_data, &path) && Identify(path, &info)) devices->push_back(std::move(info));
  }
}

class WindowsHidController final : public HidDeviceController {
 public:
  explicit WindowsHidController(EventLoop& loop) : timer_(loop) {
    timer_.SetInterval(kRescanIntervalMs);
    timer_.SetOnTimer([this] { Resynchronise(); });
    timer_.SetEnabled(true);
  }
  WindowsHidController(const WindowsHidController&) = delete;
  WindowsHidController& operator=(const WindowsHidController&) = delete;
  ~WindowsHidController() override { alive_->store(false); }

  // Records the devices attached now, announcing nothing.
  void RememberAttached() {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(&devices) != 0) return;
    for (const HidDeviceInfo& info : devices) known_[info.path] = info;
  }

  void SetHandlers(Handler arrival, Handler removal) override {
    arrival_ = std::move(arrival);
    removal_ = std::move(removal);
  }

  void Rescan() override {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(&devices) != 0) return;
    for (const HidDeviceInfo& info : devices) known_[info.path] = info;
    const std::shared_ptr<std::atomic<bool>> alive = alive_;
    for (const HidDeviceInfo& info : devices) {
      if (!alive->load()) return;  // a handler destroyed the controller
      Announce(arrival_, info);
    }
  }

  int Open(uint16_t vendor, uint16_t product, std::unique_ptr<HidDevice>* device) override {
    std::vector<HidDeviceInfo> devices;
    if (const int error = Enumerate(&devices); error != 0) return error;
    for (const HidDeviceInfo& info : devices) {
      known_[info.path] = info;
      if (info.vendor == vendor && info.product == product) return OpenWindowsHidDevice(info, device);
    }
    return ERROR_FILE_NOT_FOUND;
  }

 private:
  // A copy is called: the handler may replace the handlers while it runs.
  static void Announce(const Handler& handler, const HidDeviceInfo& info) {
    if (handler == nullptr) return;
    const Handler call = handler;
    call(info);
  }

  // What changed since the last look: devices gone first, then those that came.
  void Resynchronise() {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(&devices) != 0) return;
    const HidDeviceChanges changes = TrackHidDevices(known_, devices);
    const std::shared_ptr<std::atomic<bool>> alive = alive_;
    for (const HidDeviceInfo& info : changes.gone) {
      if (!alive->load()) return;
      Announce(removal_, info);
    }
    for (const HidDeviceInfo& info : changes.came) {
      if (!alive->load()) return;
      Announce(arrival_, info);
    }
  }

  Timer timer_;
  std::map<std::string, HidDeviceInfo> known_;  // path -> identifiers of the devices seen attached
  Handler arrival_;
  Handler removal_;
  // Cleared when the controller goes, so an announcement loop stops touching it.
  const std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace

int CreateSystemHidController(EventLoop& loop, std::unique_ptr<HidDeviceController>* controller) {
  auto made = std::make_unique<WindowsHidController>(loop);
  made->RememberAttached();
  *controller = std::move(made);
  return 0;
}

}  // namespace keep::platform

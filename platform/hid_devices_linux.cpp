#include <errno.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/hid_device_changes.h"
#include "platform/hid_devices.h"
#include "platform/hidraw_device.h"

namespace keep::platform {

namespace {

constexpr char kHidrawSubsystem[] = "hidraw";
// Present while udevd runs. Without it only the kernel's own announcements can be heard (a
// container, a minimal system): udevd would never relay anything.
constexpr char kUdevControl[] = "/run/udev/control";

struct UdevRelease {
  void operator()(udev* context) const { udev_unref(context); }
  void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
  void operator()(udev_device* device) const { udev_device_unref(device); }
  void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
};
using UdevContext = std::unique_ptr<udev, UdevRelease>;
using UdevMonitor = std::unique_ptr<udev_monitor, UdevRelease>;
using UdevDevice = std::unique_ptr<udev_device, UdevRelease>;
using UdevEnumerate = std::unique_ptr<udev_enumerate, UdevRelease>;

// One hexadecimal field of at most eight digits ending at `end` or ':'.
bool ParseHexField(const char*& text, uint32_t* value) {
  char* end = nullptr;
  if (!std::isxdigit(static_cast<unsigned char>(*text))) return false;
  const unsigned long parsed = std::strtoul(text, &end, 16);
  if (end - text > 8) return false;
  text = end;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

// HID_ID is "bus:vendor:product", each hexadecimal ("0003:0000051D:00000002").
bool ParseHidId(const char* text, uint16_t* vendor, uint16_t* product) {
  uint32_t fields[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (!ParseHexField(text, &fields[i])) return false;
    if (*text != (i < 2 ? ':' : '\0')) return false;
    if (i < 2) ++text;
  }
  if (fields[1] > 0xFFFF || fields[2] > 0xFFFF) return false;
  *vendor = static_cast<uint16_t>(fields[1]);
  *product = static_cast<uint16_t>(fields[2]);
  return true;
}

// The node of a hidraw device and the identifiers its parent HID device carries. Fails when the
// parent is gone (a removal) or says nothing usable.
bool InfoOf(udev_device* hidraw, HidDeviceInfo* info) {
  const char* node = udev_device_get_devnode(hidraw);
  if (node == nullptr) return false;
  info->path = node;
  // Owned by `hidraw`: not released here.
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
  if (hid == nullptr) return false;
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  return id != nullptr && ParseHidId(id, &info->vendor, &info->product);
}

int Enumerate(udev* context, std::vector<HidDeviceInfo>* devices) {
  devices->clear();
  UdevEnumerate enumerate(udev_enumerate_new(context));
  if (enumerate == nullptr) return errno != 0 ? errno : ENOMEM;
  if (const int r = udev_enumerate_add_match_subsystem(enumerate.get(), kHidrawSubsystem); r < 0) return -r;
  if (const int r = udev_enumerate_scan_devices(enumerate.get()); r < 0) return -r;
  for (udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate.get()); entry != nullptr;
       entry = udev_list_entry_get_next(entry)) {
    UdevDevice device(udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
    HidDeviceInfo info;
    // A device leaving during the scan is skipped; its removal is announced on its own.
    if (device != nullptr && InfoOf(device.get(), &info)) devices->push_back(std::move(info));
  }
  return 0;
}

class LinuxHidController final : public HidDeviceController {
 public:
  LinuxHidController(EventLoop& loop, UdevContext context) : loop_(loop), context_(std::move(context)) {}
  LinuxHidController(const LinuxHidController&) = delete;
  LinuxHidController& operator=(const LinuxHidController&) = delete;

  ~LinuxHidController() override {
    // Destroyed on the loop thread, so no task of this controller runs now, and none runs later.
    alive_->store(false);
    if (watcher_.joinable()) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t ignored = ::write(stop_fd_, &one, sizeof one);
      watcher_.join();
    }
    if (stop_fd_ >= 0) ::close(stop_fd_);
  }

  // Best effort: without a monitor (no netlink in a sandbox) enumeration still works, arrivals and
  // removals are just not heard. The monitor receives before the first scan, so a device arriving
  // in between is not missed.
  void StartMonitor() {
    UdevContext context(udev_new());
    if (context == nullptr) return;
    const char* source = ::access(kUdevControl, F_OK) == 0 ? "udev" : "kernel";
    UdevMonitor monitor(udev_monitor_new_from_netlink(context.get(), source));
    if (monitor == nullptr) return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), kHidrawSubsystem, nullptr) < 0) return;
    if (udev_monitor_enable_receiving(monitor.get()) < 0) return;
    const int stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd < 0) return;
    // The watcher thread alone uses this context and monitor: libudev objects are not thread-safe.
    monitor_context_ = std::move(context);
    monitor_ = std::move(monitor);
    stop_fd_ = stop_fd;
    try {
      watcher_ = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
      // Runs without hot-plug, as without a monitor.
    }
  }

  // Records the devices attached now, announcing nothing: a removal is then announced with its
  // identifiers even when its parent is gone by the time it is heard.
  void RememberAttached() {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(context_.get(), &devices) != 0) return;
    for (const HidDeviceInfo& info : devices) known_[info.path] = info;
  }

  void SetHandlers(Handler arrival, Handler removal) override {
    arrival_ = std::move(arrival);
    removal_ = std::move(removal);
  }

  void Rescan() override {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(context_.get(), &devices) != 0) return;
    for (const HidDeviceInfo& info : devices) known_[info.path] = info;
    const std::shared_ptr<std::atomic<bool>> alive = alive_;
    for (const HidDeviceInfo& info : devices) {
      if (!alive->load()) return;  // a handler destroyed the controller
      Announce(arrival_, info);
    }
  }

  int Open(uint16_t vendor, uint16_t product, std::unique_ptr<HidDevice>* device) override {
    std::vector<HidDeviceInfo> devices;
    if (const int error = Enumerate(context_.get(), &devices); error != 0) return error;
    for (const HidDeviceInfo& info : devices) {
      known_[info.path] = info;
      if (info.vendor == vendor && info.product == product) return OpenHidrawDevice(info, device);
    }
    return ENOENT;
  }

 private:
  // A copy is called: the handler may replace the handlers while it runs.
  static void Announce(const Handler& handler, const HidDeviceInfo& info) {
    if (handler == nullptr) return;
    const Handler call = handler;
    call(info);
  }

  // Watcher thread: waits for the monitor or the stop signal, nothing else.
  void Watch() {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {udev_monitor_get_fd(monitor_.get()), POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0) return;
      if (fds[1].revents == 0) continue;
      errno = 0;
      UdevDevice device(udev_monitor_receive_device(monitor_.get()));
      if (device != nullptr) {
        Heard(device.get());
      } else if (errno == ENOBUFS) {
        // Announcements were dropped: what is attached now tells what changed.
        Post([](LinuxHidController& self) { self.Resynchronise(); });
      } else if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return;  // a broken monitor would wake this thread for ever; Rescan still works
      }
    }
  }

  // Watcher thread.
  void Heard(udev_device* device) {
    const char* subsystem = udev_device_get_subsystem(device);
    const char* action = udev_device_get_action(device);
    if (subsystem == nullptr || action == nullptr || std::string(subsystem) != kHidrawSubsystem) return;
    HidDeviceInfo info;
    const bool identified = InfoOf(device, &info);
    if (info.path.empty()) return;
    const std::string what = action;
    if (what == "add" && identified) {
      Post([info](LinuxHidController& self) { self.Arrived(info); });
    } else if (what == "remove") {
      Post([info](LinuxHidController& self) { self.Removed(info); });
    }
  }

  // Any thread: runs `task` on the loop unless the controller is gone by then.
  template <typename Task>
  void Post(Task task) {
    loop_.Post([this, alive = alive_, task = std::move(task)] {
      if (alive->load()) task(*this);
    });
  }

  // Loop thread, from here on.
  void Arrived(const HidDeviceInfo& info) {
    known_[info.path] = info;
    Announce(arrival_, info);
  }

  void Removed(HidDeviceInfo info) {
    const auto it = known_.find(info.path);
    if (it != known_.end()) {
      info = it->second;
      known_.erase(it);
    }
    Announce(removal_, info);
  }

  void Resynchronise() {
    std::vector<HidDeviceInfo> devices;
    if (Enumerate(context_.get(), &devices) != 0) return;
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

  EventLoop& loop_;
  // Used on the loop thread only.
  const UdevContext context_;
  std::map<std::string, HidDeviceInfo> known_;  // path -> identifiers of the devices seen attached
  Handler arrival_;
  Handler removal_;
  // Cleared when the controller goes; tasks posted by the watcher look at it before touching it.
  const std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  // The watcher thread's.
  UdevContext monitor_context_;
  UdevMonitor monitor_;
  int stop_fd_ = -1;
  std::thread watcher_;
};

}  // namespace

int CreateSystemHidController(EventLoop& loop, std::unique_ptr<HidDeviceController>* controller) {
  errno = 0;
  UdevContext context(udev_new());
  if (context == nullptr) return errno != 0 ? errno : ENOMEM;
  auto made = std::make_unique<LinuxHidController>(loop, std::move(context));
  made->StartMonitor();
  made->RememberAttached();
  *controller = std::move(made);
  return 0;
}

}  // namespace keep::platform

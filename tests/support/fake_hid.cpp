#include "tests/support/fake_hid.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace keep::test {

FakeHidDevice::FakeHidDevice(uint16_t vendor, uint16_t product, std::string path,
                             platform::HidCapabilities capabilities, uint8_t input_report_id)
    : info_{std::move(path), vendor, product}, capabilities_(capabilities), input_report_id_(input_report_id) {}

void FakeHidDevice::FailCapabilities(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_capabilities_ = fail;
}

bool FakeHidDevice::CapabilitiesFail() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fail_capabilities_;
}

void FakeHidDevice::PushInput(HidReport report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.push_back(std::move(report));
  }
  changed_.notify_all();
}

int FakeHidDevice::ReadsWaiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reads_waiting_;
}

int FakeHidDevice::ReportsRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_read_;
}

std::vector<HidReport> FakeHidDevice::Outputs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_;
}

std::vector<HidReport> FakeHidDevice::FeaturesSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return features_set_;
}

int FakeHidDevice::FeatureFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return feature_fetches_;
}

void FakeHidDevice::SetFeatureAnswer(HidReport report) {
  std::lock_guard<std::mutex> lock(mutex_);
  feature_answer_ = std::move(report);
}

int FakeHidDevice::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_handles_;
}

// One open of a device: valid while the attachment it was opened on lasts.
class FakeHidHandle final : public platform::HidDevice {
 public:
  explicit FakeHidHandle(std::shared_ptr<FakeHidDevice> device) : device_(std::move(device)) {
    std::lock_guard<std::mutex> lock(device_->mutex_);
    generation_ = device_->generation_;
    ++device_->open_handles_;
  }
  ~FakeHidHandle() override {
    if (reading_.load()) device_->freed_during_read_.store(true);
    std::lock_guard<std::mutex> lock(device_->mutex_);
    --device_->open_handles_;
  }

  const platform::HidDeviceInfo& Info() const override { return device_->info_; }

  int Capabilities(platform::HidCapabilities* capabilities) override {
    std::lock_guard<std::mutex> lock(device_->mutex_);
    if (device_->fail_capabilities_ || !Valid()) return EIO;
    *capabilities = device_->capabilities_;
    return 0;
  }
  int FirstInputValueReportId(uint8_t* report_id) override {
    std::lock_guard<std::mutex> lock(device_->mutex_);
    if (device_->fail_capabilities_ || !Valid()) return EIO;
    *report_id = device_->input_report_id_;
    return 0;
  }

  int ReadInputReport(uint8_t* buffer, int capacity, int timeout_ms, int* count) override {
    reading_.store(true);
    *count = 0;
    std::unique_lock<std::mutex> lock(device_->mutex_);
    ++device_->reads_waiting_;
    auto ready = [&] { return interrupted_ || !Valid() || !device_->input_.empty(); };
    if (timeout_ms < 0) {
      device_->changed_.wait(lock, ready);
    } else {
      device_->changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    --device_->reads_waiting_;
    int result = 0;
    if (interrupted_) {
      interrupted_ = false;
    } else if (!Valid()) {
      result = ENODEV;
    } else if (!device_->input_.empty()) {
      const HidReport report = std::move(device_->input_.front());
      device_->input_.erase(device_->input_.begin());
      *count = std::min(capacity, static_cast<int>(report.size()));
      std::memcpy(buffer, report.data(), static_cast<size_t>(*count));
      ++device_->reports_read_;
    }
    lock.unlock();
    reading_.store(false);
    return result;
  }

  void Interrupt() override {
    {
      std::lock_guard<std::mutex> lock(device_->mutex_);
      interrupted_ = true;
    }
    device_->changed_.notify_all();
  }

  int WriteOutputReport(const uint8_t* data, int size, int* written) override {
    HidReport report(data, data + size);
    {
      std::lock_guard<std::mutex> lock(device_->mutex_);
      if (!Valid()) return ENODEV;
      device_->outputs_.push_back(report);
    }
    *written = size;
    if (device_->on_output) device_->on_output(*device_, report);
    return 0;
  }

  int SetFeatureReport(const uint8_t* data, int size) override {
    HidReport report(data, data + size);
    {
      std::lock_guard<std::mutex> lock(device_->mutex_);
      if (!Valid()) return ENODEV;
      device_->features_set_.push_back(report);
    }
    if (device_->on_set_feature) device_->on_set_feature(*device_, report);
    return 0;
  }

  int GetFeatureReport(uint8_t* data, int size, int* count) override {
    std::lock_guard<std::mutex> lock(device_->mutex_);
    if (!Valid()) return ENODEV;
    ++device_->feature_fetches_;
    HidReport answer = device_->feature_answer_;
    answer.resize(64, 0);
    *count = std::min(size, static_cast<int>(answer.size()));
    std::memcpy(data, answer.data(), static_cast<size_t>(*count));
    return 0;
  }

 private:
  // Called with the device's lock held.
  bool Valid() const { return device_->attached_ && device_->generation_ == generation_; }

  std::shared_ptr<FakeHidDevice> device_;
  uint64_t generation_ = 0;
  bool interrupted_ = false;  // guarded by the device's lock
  std::atomic<bool> reading_{false};
};

struct FakeHidBus::State {
  struct Listener {
    platform::EventLoop* loop;
    std::shared_ptr<platform::HidDeviceController::Handler> arrival;
    std::shared_ptr<platform::HidDeviceController::Handler> removal;
  };
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<FakeHidDevice>> attached;
  std::vector<std::shared_ptr<Listener>> listeners;
  int fail_creation = 0;

  std::vector<std::shared_ptr<FakeHidDevice>> Attached() const {
    std::lock_guard<std::mutex> lock(mutex);
    return attached;
  }
  void Announce(const platform::HidDeviceInfo& info, bool arrived) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::shared_ptr<Listener>& listener : listeners) {
      std::weak_ptr<Listener> weak = listener;
      listener->loop->Post([weak, info, arrived] {
        // A controller destroyed meanwhile hears nothing.
        const std::shared_ptr<Listener> alive = weak.lock();
        if (!alive) return;
        const auto handler = arrived ? alive->arrival : alive->removal;
        if (handler && *handler) (*handler)(info);
      });
    }
  }
};

class FakeHidController final : public platform::HidDeviceController {
 public:
  FakeHidController(std::shared_ptr<FakeHidBus::State> bus, platform::EventLoop& loop)
      : bus_(std::move(bus)), listener_(std::make_shared<FakeHidBus::State::Listener>()) {
    listener_->loop = &loop;
    std::lock_guard<std::mutex> lock(bus_->mutex);
    bus_->listeners.push_back(listener_);
  }
  ~FakeHidController() override {
    std::lock_guard<std::mutex> lock(bus_->mutex);
    std::erase(bus_->listeners, listener_);
  }

  void SetHandlers(Handler arrival, Handler removal) override {
    listener_->arrival = std::make_shared<Handler>(std::move(arrival));
    listener_->removal = std::make_shared<Handler>(std::move(removal));
  }
  void Rescan() override {
    for (const std::shared_ptr<FakeHidDevice>& device : bus_->Attached()) {
      const auto arrival = listener_->arrival;
      if (arrival && *arrival) (*arrival)(device->Info());
    }
  }
  int Open(uint16_t vendor, uint16_t product, std::unique_ptr<platform::HidDevice>* device) override {
    for (const std::shared_ptr<FakeHidDevice>& candidate : bus_->Attached()) {
      if (candidate->Info().vendor == vendor && candidate->Info().product == product) {
        *device = std::make_unique<FakeHidHandle>(candidate);
        return 0;
      }
    }
    return ENOENT;
  }

 private:
  std::shared_ptr<FakeHidBus::State> bus_;
  std::shared_ptr<FakeHidBus::State::Listener> listener_;
};

FakeHidBus::FakeHidBus() : state_(std::make_shared<State>()) {}
FakeHidBus::~FakeHidBus() = default;

platform::HidControllerFactory FakeHidBus::Factory() {
  return [state = state_](platform::EventLoop& loop, std::unique_ptr<platform::HidDeviceController>* controller) {
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->fail_creation != 0) return state->fail_creation;
    }
    *controller = std::make_unique<FakeHidController>(state, loop);
    return 0;
  };
}

void FakeHidBus::FailCreation(int error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->fail_creation = error;
}

void FakeHidBus::Attach(const std::shared_ptr<FakeHidDevice>& device) {
  {
    std::lock_guard<std::mutex> device_lock(device->mutex_);
    device->attached_ = true;
    ++device->generation_;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->attached.push_back(device);
  }
  state_->Announce(device->Info(), true);
}

void FakeHidBus::Detach(const std::shared_ptr<FakeHidDevice>& device) {
  {
    std::lock_guard<std::mutex> device_lock(device->mutex_);
    device->attached_ = false;
  }
  device->changed_.notify_all();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::erase(state_->attached, device);
  }
  state_->Announce(device->Info(), false);
}

int FakeHidBus::Controllers() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->listeners.size());
}

std::shared_ptr<FakeHidDevice> MakeFakeHidDevice(uint16_t vendor, uint16_t product, int report_length,
                                                 uint8_t report_id) {
  platform::HidCapabilities capabilities;
  capabilities.input_report_length = report_length;
  capabilities.output_report_length = report_length;
  capabilities.feature_report_length = 64;
  return std::make_shared<FakeHidDevice>(vendor, product, "fakehid:" + std::to_string(vendor) + ":" + std::to_string(product), capabilities,
                                         report_id);
}

}  // namespace keep::test

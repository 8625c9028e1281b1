#include "server/links/usb_receive_thread.h"

#include <algorithm>
#include <chrono>

#include "server/links/usb_reports.h"

namespace keep::server {
namespace {

constexpr int kFirstRetryPauseMs = 100;
constexpr int kLongestRetryPauseMs = 3200;

}  // namespace

UsbReceiveThread::UsbReceiveThread(platform::HidDevice& device, Deliver deliver)
    : device_(device), deliver_(std::move(deliver)), thread_([this] { Run(); }) {}

UsbReceiveThread::~UsbReceiveThread() { Stop(); }

void UsbReceiveThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stop_requested_.notify_all();
  // A read that starts after this returns at once too.
  device_.Interrupt();
  if (thread_.joinable()) thread_.join();
}

bool UsbReceiveThread::Stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool UsbReceiveThread::PauseOrStop(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stop_requested_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void UsbReceiveThread::Run() {
  int pause_ms = kFirstRetryPauseMs;
  while (!Stopping()) {
    uint8_t report[kUsbReportBuffer] = {};
    platform::HidCapabilities capabilities;
    int count = 0;
    const bool read = device_.Capabilities(&capabilities) == 0 && capabilities.input_report_length > 0 &&
                      device_.ReadInputReport(report, std::min<int>(capabilities.input_report_length, sizeof report),
                                              -1, &count) == 0;
    if (!read) {
      if (PauseOrStop(pause_ms)) return;
      pause_ms = std::min(pause_ms * 2, kLongestRetryPauseMs);
      continue;
    }
    pause_ms = kFirstRetryPauseMs;
    if (count <= 0) continue;  // interrupted: the loop's test decides
    std::string text = UsbInputReportText(report, std::min<size_t>(static_cast<size_t>(count), sizeof report));
    if (!text.empty()) deliver_(report[0], std::move(text));
  }
}

}  // namespace keep::server

#include "server/services/transfer_pump.h"

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace keep::server {
namespace {

namespace fs = std::filesystem;

// Between slices while some client reads: short, so a fast reader is served at its pace. While every
// client waits to read, the pump looks again only now and then.
constexpr int64_t kBusyPumpMs = 1;
constexpr int64_t kStalledPumpMs = 20;

}  // namespace

TransferPump::TransferPump(platform::EventLoop& loop, const platform::MonotonicClock& clock, std::string install_path,
                           TransferPorts ports)
    : loop_(loop), clock_(clock), install_path_(std::move(install_path)), ports_(std::move(ports)) {}

TransferPump::~TransferPump() { Clear(); }

void TransferPump::Request(platform::ConnectionId id, const std::string& file_name, int code) {
  QueuedTransfer request{id, file_name, code};
  if (running_.size() < kMaxTransfers) {
    Start(request);
  } else {
    waiting_.push_back(std::move(request));
  }
}

void TransferPump::Start(const QueuedTransfer& request) {
  // The connection and a serial number make the copy's name unique among all transfers under way.
  const std::string copy_name = fs::path(request.file_name).filename().string() + "." + std::to_string(request.id) +
                                "." + std::to_string(++serial_);
  std::unique_ptr<FileTransfer> transfer =
      FileTransfer::Open(install_path_, request.file_name, copy_name, request.code);
  if (transfer == nullptr) {
    ports_.answer(request.id, request.code, "0");
    ports_.resume(request.id);
    return;
  }
  running_[request.id] = ActiveTransfer{std::move(transfer), clock_.NowMs()};
  Arm(0);
}

void TransferPump::StartWaiting() {
  while (running_.size() < kMaxTransfers && !waiting_.empty()) {
    const QueuedTransfer next = std::move(waiting_.front());
    waiting_.pop_front();
    Start(next);
  }
}

void TransferPump::Forget(platform::ConnectionId id) {
  running_.erase(id);  // deletes the copy
  std::erase_if(waiting_, [id](const QueuedTransfer& request) { return request.id == id; });
  StartWaiting();
}

void TransferPump::Clear() {
  running_.clear();
  waiting_.clear();
  if (timer_ != 0) loop_.CancelTimer(timer_);
  timer_ = 0;
}

void TransferPump::Arm(int64_t delay_ms) {
  if (timer_ != 0 || running_.empty()) return;
  timer_ = loop_.AddTimer(delay_ms, false, [this] {
    timer_ = 0;
    Pump();
  });
}

void TransferPump::Pump() {
  const int64_t now = clock_.NowMs();
  bool progressed = false;
  std::vector<platform::ConnectionId> finished;
  std::vector<platform::ConnectionId> stalled;
  for (auto& [id, running] : running_) {
    if (ports_.pending(id) > kTransferLowWaterBytes) {
      if (now - running.progress_ms >= kTransferStallMs) stalled.push_back(id);
      continue;
    }
    const platform::ConnectionId client = id;
    const int code = running.transfer->Code();
    const bool more = running.transfer->Pump(
        [this, client, code](const std::string& parameter) { return ports_.answer(client, code, parameter); },
        kTransferSliceBytes);
    running.progress_ms = now;
    progressed = true;
    if (!more) finished.push_back(id);
  }
  for (const platform::ConnectionId id : finished) {
    running_.erase(id);  // the copy goes as soon as it is sent
    ports_.resume(id);
  }
  for (const platform::ConnectionId id : stalled) {
    running_.erase(id);
    ports_.drop(id);
  }
  StartWaiting();
  Arm(progressed ? kBusyPumpMs : kStalledPumpMs);
}

void ClearTransferFolder(const std::string& install_path) {
  if (install_path.empty()) return;
  std::error_code error;
  for (fs::directory_iterator it(install_path + "srvtemp/", error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored)) fs::remove(it->path(), ignored);
  }
}

}  // namespace keep::server

#include "server/links/comm.h"

#include <cerrno>
#include <condition_variable>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/system_error.h"
#include "server/links/loop_handover.h"

namespace keep::server {

namespace {

std::string ComErrorText(int code, const std::string& function) {
  return "Error " + std::to_string(code) + " " + platform::SystemErrorText(code) + " in function: " + function;
}

platform::SerialParity ParityOf(TParity parity) {
  switch (parity) {
    case paOdd:
      return platform::SerialParity::kOdd;
    case paEven:
      return platform::SerialParity::kEven;
    case paMark:
      return platform::SerialParity::kMark;
    case paSpace:
      return platform::SerialParity::kSpace;
    case paNone:
      break;
  }
  return platform::SerialParity::kNone;
}

platform::SerialStopBits StopBitsOf(TStopbits stop_bits) {
  switch (stop_bits) {
    case sb15:
      return platform::SerialStopBits::kOneAndHalf;
    case sb20:
      return platform::SerialStopBits::kTwo;
    case sb10:
      break;
  }
  return platform::SerialStopBits::kOne;
}

platform::SerialFlowControl FlowOf(TFlowControl flow) {
  switch (flow) {
    case fcNone:
      return platform::SerialFlowControl::kNone;
    case fcCTS:
      return platform::SerialFlowControl::kCts;
    case fcDTR:
      return platform::SerialFlowControl::kDtr;
    case fcSoftware:
      return platform::SerialFlowControl::kSoftware;
    case fcDefault:
      break;
  }
  return platform::SerialFlowControl::kKeep;
}

}  // namespace

EComError::EComError(int code, const std::string& function)
    : EConnectError(ComErrorText(code, function)), code_(code) {}

int BaudrateValue(TBaudrate rate) {
  static constexpr int kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};
  const auto index = static_cast<size_t>(rate);
  return index < std::size(kRates) ? kRates[index] : 0;
}

// Watches the port until stopped and dispatches what it reports. Owned by the port component,
// created when it opens and destroyed (stopped and joined) before the device closes.
class TCommHandle::EventThread {
 public:
  EventThread(TCommHandle& owner, platform::SerialPort& port, TCommEventTypes mask, platform::EventLoop* loop)
      : owner_(owner), port_(port), mask_(mask), handover_(loop) {
    thread_ = std::thread([this] { Run(); });
  }
  EventThread(const EventThread&) = delete;
  EventThread& operator=(const EventThread&) = delete;

  ~EventThread() {
    stop_ = true;
    handover_.Cancel();
    port_.Interrupt();
    thread_.join();
  }

 private:
  void Run() {
    while (!stop_) {
      const platform::SerialPort::Event event = port_.WaitEvent(-1);
      if (stop_) break;
      TCommEventTypes reported;
      if (event == platform::SerialPort::Event::kReadable && mask_.Has(evRxChar)) reported.Include(evRxChar);
      if (event == platform::SerialPort::Event::kHangUp) {
        owner_.pending_errors_.fetch_or(kCommErrorIo);
        if (mask_.Has(evError)) reported.Include(evError);
      }
      if (!reported.Empty()) Dispatch(reported);
    }
    // Nothing is left queued for a later user of the device.
    port_.Purge(true, true);
  }

  // One dispatch at a time: bytes arriving meanwhile are counted by the next one.
  void Dispatch(TCommEventTypes mask) {
    TCommHandle* owner = &owner_;
    handover_.RunAndWait([owner, mask] { RunHandlers(*owner, mask); });
  }

  // The handlers' errors have no caller to go to on this path; a failed read shows again at the
  // next event or as a hang-up.
  static void RunHandlers(TCommHandle& owner, TCommEventTypes mask) {
    try {
      owner.DoCommEvent(mask);
    } catch (const std::exception&) {
    }
  }

  TCommHandle& owner_;
  platform::SerialPort& port_;
  const TCommEventTypes mask_;
  LoopHandover handover_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TCommHandle::TCommHandle() = default;

TCommHandle::~TCommHandle() { Destroy(); }

void TCommHandle::SetBaudrate(TBaudrate value) {
  baudrate_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetParity(TParity value) {
  parity_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetStopbits(TStopbits value) {
  stopbits_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetDatabits(TDatabits value) {
  databits_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetOptions(TCommOptions value) {
  options_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetFlowControl(TFlowControl value) {
  flow_control_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetXonChar(char value) {
  xon_char_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetXoffChar(char value) {
  xoff_char_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetErrorChar(char value) {
  error_char_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetEofChar(char value) {
  eof_char_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetEvtChar(char value) {
  evt_char_ = value;
  ApplyIfOpen();
}

void TCommHandle::SetReadBufSize(int value) {
  CheckInactive();
  read_buf_size_ = value;
}

void TCommHandle::SetWriteBufSize(int value) {
  CheckInactive();
  write_buf_size_ = value;
}

void TCommHandle::SetMonitorEvents(TCommEventTypes value) {
  CheckInactive();
  monitor_events_ = value;
}

void TCommHandle::SetEventLoop(platform::EventLoop* loop) {
  CheckInactive();
  event_loop_ = loop;
}

void TCommHandle::ApplyIfOpen() {
  if (Active()) ApplySettings();
}

platform::SerialSettings TCommHandle::Settings() const {
  platform::SerialSettings settings;
  settings.bit_rate = BaudrateValue(baudrate_);
  settings.data_bits = 4 + static_cast<int>(databits_ - da4);
  settings.parity = ParityOf(parity_);
  settings.stop_bits = StopBitsOf(stopbits_);
  settings.flow_control = FlowOf(flow_control_);
  settings.parity_check = options_.Has(coParityCheck);
  settings.xon_char = xon_char_;
  settings.xoff_char = xoff_char_;
  return settings;
}

void TCommHandle::ApplySettings() {
  const platform::SerialSettings settings = Settings();
  std::lock_guard<std::mutex> guard(lock_);
  if (!port_) return;
  const int code = port_->Apply(settings);
  if (code != 0) throw EComError(code, kFnSetCommState);
}

void TCommHandle::SetLine(int line, bool state) {
  CheckActive();
  std::lock_guard<std::mutex> guard(lock_);
  if (!port_) throw EConnectError(kConnectionIsInactive);
  int code = 0;
  switch (line) {
    case 1:
      code = port_->SetModemLine(platform::SerialModemLine::kDtr, state);
      break;
    case 2:
      code = port_->SetModemLine(platform::SerialModemLine::kRts, state);
      break;
    case 3:
      code = port_->SetBreak(state);
      // Whatever was queued around a break is garbage to both ends.
      port_->Purge(true, true);
      break;
    case 4:
      code = port_->SetOutputFlow(state);
      break;
    default:
      code = EINVAL;
      break;
  }
  if (code != 0) throw EComError(code, kFnEscapeCommFunction);
}

int TCommHandle::InQueue() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!port_) return -1;
  int count = 0;
  // A device that cannot say (it hung up) has nothing to read.
  if (port_->InQueue(&count) != 0) return 0;
  return count;
}

void TCommHandle::PurgeIn() {
  std::lock_guard<std::mutex> guard(lock_);
  if (port_) port_->Purge(true, false);
}

void TCommHandle::PurgeOut() {
  std::lock_guard<std::mutex> guard(lock_);
  if (port_) port_->Purge(false, true);
}

int TCommHandle::WriteData(const char* Buffer, int Count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!port_) throw EConnectError(kConnectionIsInactive);
  if (Count <= 0) return 0;
  int written = 0;
  const int code = port_->Write(Buffer, Count, write_timeout_, &written);
  if (code != 0) throw EComError(code, kFnWriteFile);
  return written == Count ? Count : 0;
}

int TCommHandle::ReadData(char* Buffer, int Count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!port_) throw EConnectError(kConnectionIsInactive);
  int count = 0;
  const int code = port_->Read(Buffer, Count, &count);
  if (code != 0) throw EComError(code, kFnReadFile);
  return count;
}

int TCommHandle::TakeErrors() { return pending_errors_.exchange(0); }

void TCommHandle::DoCommEvent(TCommEventTypes mask) {
  const int errors = TakeErrors();
  const int count = mask.Has(evRxChar) ? InQueue() : 0;
  if (mask.Has(evBreak) && OnBreak) OnBreak(*this);
  if (mask.Has(evCts) && OnCts) OnCts(*this);
  if (mask.Has(evDsr) && OnDsr) OnDsr(*this);
  if (mask.Has(evError) && OnError) OnError(*this, errors);
  if (mask.Has(evRing) && OnRing) OnRing(*this);
  if (mask.Has(evRlsd) && OnRlsd) OnRlsd(*this);
  if (mask.Has(evRxChar) && count > 0) DoRxChar(count);
  if (mask.Has(evRxFlag) && OnRxFlag) OnRxFlag(*this);
  if (mask.Has(evTxEmpty) && OnTxEmpty) OnTxEmpty(*this);
}

void TCommHandle::OpenWith(std::unique_ptr<platform::SerialPort> port) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    port_ = std::move(port);
  }
  pending_errors_ = 0;
  // A failed open must not leave a device held or a thread running: the component counts as
  // closed, and a held device would refuse the next attempt.
  try {
    ApplySettings();
    // The driver's queue sizes (ReadBufSize, WriteBufSize) are fixed by the system on POSIX.
    platform::EventLoop* loop = DontSynchronize ? nullptr : event_loop_;
    event_thread_ = std::make_unique<EventThread>(*this, *port_, monitor_events_, loop);
  } catch (const std::system_error& e) {
    ReleasePort();
    throw EComError(e.code().value(), kFnCreateFile);
  } catch (...) {
    ReleasePort();
    throw;
  }
}

void TCommHandle::ReleasePort() {
  event_thread_.reset();
  std::lock_guard<std::mutex> guard(lock_);
  port_.reset();
}

void TCommHandle::DoOpen() {
  // This class opens no device of its own; TComm does.
  throw EComError(static_cast<int>(std::errc::bad_file_descriptor), kFnCreateFile);
}

void TCommHandle::DoClose() { ReleasePort(); }

TComm::~TComm() { Destroy(); }

void TComm::SetDeviceName(const std::string& value) {
  CheckInactive();
  device_name_ = value;
}

void TComm::SetPortOpener(PortOpener opener) {
  CheckInactive();
  opener_ = std::move(opener);
}

void TComm::DoOpen() {
  std::unique_ptr<platform::SerialPort> port;
  const platform::SerialOpenResult result =
      opener_ ? opener_(device_name_, &port) : platform::SerialPort::Open(device_name_, &port);
  if (result.error != 0 || !port) {
    const int code = result.error != 0 ? result.error : static_cast<int>(std::errc::no_such_device);
    throw EComError(code, result.wrong_file_type ? kFnGetFileType : kFnCreateFile);
  }
  OpenWith(std::move(port));
}

TRs232Port::~TRs232Port() { Destroy(); }

void TRs232Port::RxChar(TConnection& /*Sender*/, int Count) {
  std::string text = Receive(Count);
  if (!text.empty() && on_received_) on_received_(std::move(text));
}

}  // namespace keep::server

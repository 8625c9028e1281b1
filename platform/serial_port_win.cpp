// A COM port through the Win32 communications calls, opened for overlapped I/O.
//
// WaitCommEvent is not dependable on every driver (nor under Wine), so the port is watched by reading
// it: WaitEvent keeps one overlapped ReadFile going, which completes as soon as a byte arrives, and
// moves what it got into a bounded buffer that Read and InQueue serve first. Nothing else reads the
// device while that read is in flight, so the bytes keep their order.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// How often a hung-up device is looked at again.
constexpr int kHangUpRecheckMs = 100;
// Bytes WaitEvent reads ahead of the user; beyond this it waits for them to be read.
constexpr size_t kMaxBufferedBytes = 64 * 1024;
constexpr DWORD kReadChunkBytes = 4096;
// A read with nothing to take gives up after this long (and WaitEvent starts another); it bounds how
// long a cancelled read may take to come back on drivers that ignore the cancel.
constexpr DWORD kReadSliceMs = 500;
// How long Read waits for bytes the driver said it holds.
constexpr DWORD kImmediateReadMs = 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int MapOpenError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return 2;  // the port does not exist
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return 5;  // someone else holds it, or we may not use it
    default:
      return static_cast<int>(code);
  }
}

// "COM10" and above open only through the device namespace; it works for every port, and a name
// given with its namespace is kept.
std::wstring DevicePath(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.rfind(L"\\\\", 0) == 0) return wide;
  return L"\\\\.\\" + wide;
}

// An event handle that closes itself.
class EventHandle {
 public:
  explicit EventHandle(bool manual_reset) : handle_(::CreateEventW(nullptr, manual_reset, FALSE, nullptr)) {}
  ~EventHandle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool ReadTimedOut(DWORD code) { return code == ERROR_TIMEOUT || code == ERROR_SEM_TIMEOUT; }

// Drivers refuse a second open of a COM port, but not every one (Wine's does not): a named mutex per
// port name makes the claim machine-wide whatever the driver does. Null when the port is taken.
HANDLE ClaimPortName(const std::string& path) {
  std::wstring name = L"Global\\KeepSerialPort-";
  for (const wchar_t c : WideFromUtf8(path)) {
    // The name may hold no backslash; ports compare without regard to case.
    name.push_back(c == L'\\' ? L'_' : static_cast<wchar_t>(::towupper(c)));
  }
  HANDLE claim = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

class WindowsSerialPort final : public SerialPort {
 public:
  WindowsSerialPort(HANDLE device, HANDLE claim) : device_(device), claim_(claim), chunk_(kReadChunkBytes) {
    reported_level_ = static_cast<int>(DriverQueue());
  }
  WindowsSerialPort(const WindowsSerialPort&) = delete;
  WindowsSerialPort& operator=(const WindowsSerialPort&) = delete;
  ~WindowsSerialPort() override {
    ::CloseHandle(device_);
    ::CloseHandle(claim_);
  }

  bool Ready() const { return read_done_.get() != nullptr && write_done_.get() != nullptr && wake_.get() != nullptr; }

  int Apply(const SerialSettings& settings) override {
    if (settings.bit_rate < 110 || settings.bit_rate > 256000 || settings.data_bits < 5 || settings.data_bits > 8) {
      return ERROR_INVALID_PARAMETER;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(device_, &dcb)) return static_cast<int>(::GetLastError());
    dcb.BaudRate = static_cast<DWORD>(settings.bit_rate);
    dcb.ByteSize = static_cast<BYTE>(settings.data_bits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity_check ? TRUE : FALSE;
    switch (settings.parity) {
      case SerialParity::kNone:
        dcb.Parity = NOPARITY;
        break;
      case SerialParity::kOdd:
        dcb.Parity = ODDPARITY;
        break;
      case SerialParity::kEven:
        dcb.Parity = EVENPARITY;
        break;
      case SerialParity::kMark:
        dcb.Parity = MARKPARITY;
        break;
      case SerialParity::kSpace:
        dcb.Parity = SPACEPARITY;
        break;
    }
    switch (settings.stop_bits) {
      case SerialStopBits::kOne:
        dcb.StopBits = ONESTOPBIT;
        break;
      case SerialStopBits::kOneAndHalf:
        dcb.StopBits = ONE5STOPBITS;
        break;
      case SerialStopBits::kTwo:
        dcb.StopBits = TWOSTOPBITS;
        break;
    }
    if (settings.flow_control != SerialFlowControl::kKeep) {
      // The modem lines stay raised unless a handshake drives them.
      dcb.fOutxCtsFlow = settings.flow_control == SerialFlowControl::kCts;
      dcb.fRtsControl = settings.flow_control == SerialFlowControl::kCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
      dcb.fOutxDsrFlow = settings.flow_control == SerialFlowControl::kDtr;
      dcb.fDtrControl = settings.flow_control == SerialFlowControl::kDtr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
      dcb.fOutX = settings.flow_control == SerialFlowControl::kSoftware;
      dcb.fInX = settings.flow_control == SerialFlowControl::kSoftware;
    }
    dcb.XonChar = settings.xon_char;
    dcb.XoffChar = settings.xoff_char;
    dcb.fAbortOnError = FALSE;  // an error must not stop every later read until cleared
    if (!::SetCommState(device_, &dcb)) return static_cast<int>(::GetLastError());
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    *count = 0;
    if (capacity <= 0) return 0;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!buffered_.empty()) {
      const size_t taken = std::min(buffered_.size(), static_cast<size_t>(capacity));
      std::copy_n(buffered_.data(), taken, buffer);
      buffered_.erase(0, taken);
      *count = static_cast<int>(taken);
      consumed_.fetch_add(1);
      return 0;
    }
    // While WaitEvent's read is in flight, whatever arrives goes to it.
    if (reading_) return 0;
    const DWORD waiting = DriverQueue();
    if (waiting == 0) return 0;
    DWORD got = 0;
    const int code = ReadNow(buffer, std::min<DWORD>(waiting, static_cast<DWORD>(capacity)), &got);
    if (got > 0) {
      *count = static_cast<int>(got);
      consumed_.fetch_add(1);
    }
    return code;
  }

  int Write(const char* data, int size, int timeout_ms, int* written) override {
    *written = 0;
    if (size <= 0) return 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_done_.get();
    DWORD done = 0;
    if (!::WriteFile(device_, data, static_cast<DWORD>(size), &done, &overlapped)) {
      const DWORD code = ::GetLastError();
      if (code != ERROR_IO_PENDING) return static_cast<int>(code);
      if (::WaitForSingleObject(write_done_.get(), static_cast<DWORD>(std::max(timeout_ms, 0))) != WAIT_OBJECT_0) {
        // Whatever the device took before the cancel counts.
        ::CancelIo(device_);
      }
      if (!::GetOverlappedResult(device_, &overlapped, &done, TRUE)) {
        const DWORD result = ::GetLastError();
        if (result != ERROR_OPERATION_ABORTED && result != ERROR_TIMEOUT) return static_cast<int>(result);
      }
    }
    *written = static_cast<int>(done);
    return 0;
  }

  int InQueue(int* count) override {
    std::lock_guard<std::mutex> guard(mutex_);
    *count = static_cast<int>(buffered_.size() + DriverQueue());
    return 0;
  }

  int Purge(bool input, bool output) override {
    if (!input && !output) return 0;
    std::lock_guard<std::mutex> guard(mutex_);
    // No abort flags: the read WaitEvent has in flight goes on, and simply finds nothing.
    const DWORD flags = (input ? PURGE_RXCLEAR : 0u) | (output ? PURGE_TXCLEAR : 0u);
    if (!::PurgeComm(device_, flags)) return static_cast<int>(::GetLastError());
    if (input) {
      buffered_.clear();
      consumed_.fetch_add(1);
    }
    return 0;
  }

  int SetModemLine(SerialModemLine line, bool raised) override {
    const DWORD function = line == SerialModemLine::kDtr ? (raised ? SETDTR : CLRDTR) : (raised ? SETRTS : CLRRTS);
    if (::EscapeCommFunction(device_, function)) return 0;
    const DWORD code = ::GetLastError();
    // A port without modem lines (a pseudo-terminal behind Wine's COM port) refuses; its peer does
    // not look at them.
    if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION) return 0;
    return static_cast<int>(code);
  }

  int SetBreak(bool on) override {
    const BOOL done = on ? ::SetCommBreak(device_) : ::ClearCommBreak(device_);
    return done ? 0 : static_cast<int>(::GetLastError());
  }

  int SetOutputFlow(bool resume) override {
    return ::EscapeCommFunction(device_, resume ? SETXON : SETXOFF) ? 0 : static_cast<int>(::GetLastError());
  }

  Event WaitEvent(int timeout_ms) override {
    const int64_t deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
    for (;;) {
      if (FreshBytesLocked()) return Event::kReadable;
      const bool full = BufferFull();
      if (hung_up_ || full) {
        // Nothing to read for now (a dead device, or a full buffer nobody reads): look again after
        // a slice, so neither keeps this thread busy.
        const int64_t remaining = deadline < 0 ? kHangUpRecheckMs : std::max<int64_t>(deadline - NowMs(), 0);
        const DWORD slice = static_cast<DWORD>(std::min<int64_t>(remaining, kHangUpRecheckMs));
        if (::WaitForSingleObject(wake_.get(), slice) == WAIT_OBJECT_0) return Event::kInterrupted;
        if (deadline >= 0 && NowMs() >= deadline) return Event::kTimeout;
        if (full) continue;
      }
      bool interrupted = false;
      const DWORD code = ReadAhead(deadline, &interrupted);
      if (interrupted) return Event::kInterrupted;
      if (code != 0) {
        if (!hung_up_) {
          hung_up_ = true;
          return Event::kHangUp;
        }
      } else {
        hung_up_ = false;
      }
      if (deadline >= 0 && NowMs() >= deadline) return FreshBytesLocked() ? Event::kReadable : Event::kTimeout;
    }
  }

  void Interrupt() override { ::SetEvent(wake_.get()); }

  // Read time-outs WaitEvent relies on: a read ends as soon as a byte came, or after kReadSliceMs.
  bool SetReadTimeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadSliceMs;
    return ::SetCommTimeouts(device_, &timeouts) != 0;
  }

 private:
  // Bytes the driver holds (0 when it cannot say).
  DWORD DriverQueue() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(device_, &errors, &status)) return 0;
    return status.cbInQue;
  }

  // One read of bytes the driver already holds; it ends at once, but is bounded all the same.
  int ReadNow(char* buffer, DWORD size, DWORD* got) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_done_.get();
    if (::ReadFile(device_, buffer, size, got, &overlapped)) return 0;
    DWORD code = ::GetLastError();
    if (code == ERROR_IO_PENDING) {
      if (::WaitForSingleObject(read_done_.get(), kImmediateReadMs) != WAIT_OBJECT_0) ::CancelIo(device_);
      if (::GetOverlappedResult(device_, &overlapped, got, TRUE)) return 0;
      code = ::GetLastError();
    }
    return ReadTimedOut(code) || code == ERROR_OPERATION_ABORTED ? 0 : static_cast<int>(code);
  }

  bool BufferFull() {
    std::lock_guard<std::mutex> guard(mutex_);
    return buffered_.size() >= kMaxBufferedBytes;
  }

  // One overlapped read into the buffer, ended by the first byte, the read slice, the deadline or an
  // Interrupt. 0, or the code of a failed device (a read that ends at once with nothing counts as
  // one: a live port waits out its slice).
  DWORD ReadAhead(int64_t deadline, bool* interrupted) {
    DWORD room = 0;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      // What the driver holds, or else one byte: a read for more than has come may wait for all of it
      // on drivers that do not end a read at the first byte (Wine's), whatever the time-outs say.
      const size_t wanted = std::max<size_t>(DriverQueue(), 1);
      room = static_cast<DWORD>(std::min({kMaxBufferedBytes - buffered_.size(), chunk_.size(), wanted}));
      reading_ = true;
    }
    const int64_t started = NowMs();
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_done_.get();
    DWORD got = 0;
    DWORD code = 0;
    if (!::ReadFile(device_, chunk_.data(), room, &got, &overlapped)) {
      code = ::GetLastError();
      if (code == ERROR_IO_PENDING) {
        const HANDLE handles[2] = {wake_.get(), read_done_.get()};
        const DWORD wait = deadline < 0 ? INFINITE : static_cast<DWORD>(std::max<int64_t>(deadline - NowMs(), 0));
        const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, wait);
        *interrupted = which == WAIT_OBJECT_0;
        // Bytes that came before the cancel are kept.
        if (which != WAIT_OBJECT_0 + 1) ::CancelIo(device_);
        code = ::GetOverlappedResult(device_, &overlapped, &got, TRUE) ? 0 : ::GetLastError();
      }
    }
    {
      std::lock_guard<std::mutex> guard(mutex_);
      reading_ = false;
      buffered_.append(chunk_.data(), got);
    }
    if (ReadTimedOut(code) || code == ERROR_OPERATION_ABORTED) return 0;
    if (code == 0 && got == 0 && !*interrupted && NowMs() - started < kReadSliceMs / 2 &&
        (deadline < 0 || NowMs() < deadline)) {
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    return code;
  }

  bool FreshBytesLocked() {
    std::lock_guard<std::mutex> guard(mutex_);
    return FreshBytes();
  }

  // Whether the bytes waiting are news since the last kReadable; records them as reported if so.
  bool FreshBytes() {
    const int level = static_cast<int>(buffered_.size() + DriverQueue());
    const uint64_t consumed = consumed_.load();
    if (level <= 0 || (consumed == reported_consumed_ && level <= reported_level_)) return false;
    reported_consumed_ = consumed;
    reported_level_ = level;
    return true;
  }

  const HANDLE device_;
  const HANDLE claim_;
  EventHandle read_done_{true};
  EventHandle write_done_{true};
  EventHandle wake_{false};
  std::mutex mutex_;      // guards buffered_ and reading_, and keeps Read, Purge and WaitEvent apart
  std::string buffered_;  // read from the device and not yet by the user
  bool reading_ = false;  // WaitEvent's read is in flight
  // Counts reads and input purges, so WaitEvent can tell bytes already reported from fresh ones.
  std::atomic<uint64_t> consumed_{0};
  // WaitEvent's own state (its one thread only).
  std::vector<char> chunk_;
  int reported_level_ = 0;
  uint64_t reported_consumed_ = 0;
  bool hung_up_ = false;
};

}  // namespace

SerialOpenResult SerialPort::Open(const std::string& path, std::unique_ptr<SerialPort>* port) {
  if (path.empty() || path.find('\0') != std::string::npos) return {2, false};
  const HANDLE claim = ClaimPortName(path);
  if (claim == nullptr) return {5, false};
  // No sharing: no other open of the port succeeds while this one lasts.
  const HANDLE device = ::CreateFileW(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    ::CloseHandle(claim);
    return {MapOpenError(code), false};
  }
  if (::GetFileType(device) != FILE_TYPE_CHAR) {
    ::CloseHandle(device);
    ::CloseHandle(claim);
    return {ERROR_BAD_DEVICE, true};
  }
  auto opened = std::make_unique<WindowsSerialPort>(device, claim);  // owns both handles from here
  if (!opened->Ready() || !opened->SetReadTimeouts()) {
    const DWORD code = ::GetLastError();
    return {code != 0 ? static_cast<int>(code) : ERROR_GEN_FAILURE, false};
  }
  *port = std::move(opened);
  return {};
}

}  // namespace keep::platform

// A general serial port component: line settings as properties, byte transfer under a lock, modem
// line control, and an event thread that watches the port and reports what happens through the On...
// events. TComm adds the device name; TRs232Port is the UPS link's port.
//
// Threads: the component is configured, opened and closed from one thread (the main loop's). The
// event thread runs DoCommEvent: on itself when DontSynchronize is true, otherwise on the main loop
// (given with SetEventLoop), waiting until it has run. WriteData, ReadData, InQueue, PurgeIn and
// PurgeOut may be called from either thread; they are serialised by the port's lock.
//
// Errors: failing system calls raise EComError, whose message names the system code, its text and
// the function that failed; closed ports raise EConnectError "Connection is inactive".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/event_loop.h"
#include "platform/serial_port.h"
#include "server/links/log_connection.h"

namespace keep::server {

// The failing function named in an EComError, after the operation it stands for.
inline constexpr char kFnCreateFile[] = "CreateFile";
inline constexpr char kFnGetFileType[] = "GetFileType";
inline constexpr char kFnSetCommTimeouts[] = "SetCommTimeouts";
inline constexpr char kFnSetCommState[] = "SetCommState";
inline constexpr char kFnSetupComm[] = "SetupComm";
inline constexpr char kFnWriteFile[] = "WriteFile";
inline constexpr char kFnReadFile[] = "ReadFile";
inline constexpr char kFnEscapeCommFunction[] = "EscapeCommFunction";

class EComError : public EConnectError {
 public:
  // Message "Error <code> <system text> in function: <function>".
  EComError(int code, const std::string& function);
  int Code() const { return code_; }

 private:
  int code_;
};

enum TBaudrate {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits { sb10, sb15, sb20 };
enum TDatabits { da4, da5, da6, da7, da8 };
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };

// The bit rate a TBaudrate member stands for.
int BaudrateValue(TBaudrate rate);

// A set of members of a small enumeration, bit n for the member of value n.
template <typename E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  constexpr bool Has(E m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
  constexpr void Include(E m) { bits_ = static_cast<uint16_t>(bits_ | (1u << static_cast<unsigned>(m))); }
  constexpr void Exclude(E m) { bits_ = static_cast<uint16_t>(bits_ & ~(1u << static_cast<unsigned>(m))); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint16_t Bits() const { return bits_; }
  constexpr bool operator==(const TEnumSet&) const = default;

 private:
  uint16_t bits_ = 0;
};
using TCommOptions = TEnumSet<TCommOption>;
using TCommEventTypes = TEnumSet<TCommEventType>;

inline constexpr TCommEventTypes kAllCommEvents{evBreak, evCts,    evDsr,    evError,  evRing,
                                                evRlsd,  evRxChar, evRxFlag, evTxEmpty};

// The error bits OnError receives when the device reports a failure or goes away (a USB adapter
// unplugged, the far end of a pseudo-terminal closed): "I/O error".
inline constexpr int kCommErrorIo = 0x0400;

using TNotifyEvent = std::function<void(TConnection& Sender)>;
using TCommErrorEvent = std::function<void(TConnection& Sender, int Errors)>;

class TCommHandle : public TCommunicationConnection {
 public:
  TCommHandle();
  ~TCommHandle() override;

  // Line settings, applied to the open port at once (raising EComError "SetCommState" when the
  // device refuses them; the new value is kept). On POSIX: sb15 sends two stop bits; fcDTR is no
  // flow control; of the options only coParityCheck has an equivalent; br14400, br56000, br128000,
  // br256000 and da4 have none and are refused with EINVAL; ErrorChar, EofChar and EvtChar are kept
  // but unused.
  TBaudrate Baudrate() const { return baudrate_; }
  void SetBaudrate(TBaudrate value);
  TParity Parity() const { return parity_; }
  void SetParity(TParity value);
  TStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TStopbits value);
  TDatabits Databits() const { return databits_; }
  void SetDatabits(TDatabits value);
  TCommOptions Options() const { return options_; }
  void SetOptions(TCommOptions value);
  TFlowControl FlowControl() const { return flow_control_; }
  void SetFlowControl(TFlowControl value);
  char XonChar() const { return xon_char_; }
  void SetXonChar(char value);
  char XoffChar() const { return xoff_char_; }
  void SetXoffChar(char value);
  char ErrorChar() const { return error_char_; }
  void SetErrorChar(char value);
  char EofChar() const { return eof_char_; }
  void SetEofChar(char value);
  char EvtChar() const { return evt_char_; }
  void SetEvtChar(char value);

  // Milliseconds; may change while open. Reads never wait (they return what is buffered), so
  // ReadTimeout bounds nothing on POSIX; WriteData waits at most WriteTimeout.
  int ReadTimeout() const { return read_timeout_; }
  void SetReadTimeout(int value) { read_timeout_ = value; }
  int WriteTimeout() const { return write_timeout_; }
  void SetWriteTimeout(int value) { write_timeout_ = value; }

  // Refused while open. The driver's queue sizes are the system's own on POSIX; the values are kept.
  int ReadBufSize() const { return read_buf_size_; }
  void SetReadBufSize(int value);
  int WriteBufSize() const { return write_buf_size_; }
  void SetWriteBufSize(int value);
  // Refused while open. What the event thread reports: on POSIX only evRxChar (bytes arrived) and
  // evError (the device failed or went away) can be observed.
  TCommEventTypes MonitorEvents() const { return monitor_events_; }
  void SetMonitorEvents(TCommEventTypes value);
  // Refused while open. The loop on which DoCommEvent runs when DontSynchronize is false; it must
  // outlive the open port. Without one, DoCommEvent runs on the event thread regardless.
  void SetEventLoop(platform::EventLoop* loop);
  // DontSynchronize (inherited) is read when the port opens and holds until it closes.

  // The events run where DoCommEvent runs. Set them while the port is closed: the event thread reads
  // them while it is open.
  TNotifyEvent OnBreak;
  TNotifyEvent OnCts;
  TNotifyEvent OnDsr;
  TNotifyEvent OnRing;
  TNotifyEvent OnRlsd;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnTxEmpty;
  TCommErrorEvent OnError;

  // line 1 DTR, 2 RTS (true raises, false lowers), 3 break (on/off; then all queues are purged),
  // 4 software flow (true resumes output as a received XON would, false suspends it as XOFF would).
  // EConnectError when closed; EComError "EscapeCommFunction" when the device refuses or the line
  // number is unknown.
  void SetLine(int line, bool state);

  // -1 when closed.
  int InQueue() override;
  // Nothing when closed.
  void PurgeIn() override;
  void PurgeOut() override;
  // Writes Count bytes; returns Count, or 0 when the device did not take them all within
  // WriteTimeout. EConnectError when closed, EComError "WriteFile" on failure.
  int WriteData(const char* Buffer, int Count) override;
  // Returns what is buffered, at most Count bytes, possibly none. EConnectError when closed,
  // EComError "ReadFile" on failure.
  int ReadData(char* Buffer, int Count) override;

 protected:
  // Applies the line settings to the open port (nothing when closed). EComError "SetCommState".
  virtual void ApplySettings();
  // Runs the events for `mask` in the fixed order: break, CTS, DSR, error, ring, RLSD, received
  // characters (DoRxChar with the input count, only when above 0), event character, transmit empty.
  virtual void DoCommEvent(TCommEventTypes mask);

  // Takes over an open device, starts the event thread and applies the settings; on failure the
  // device is closed again and nothing is left running. For TComm::DoOpen.
  void OpenWith(std::unique_ptr<platform::SerialPort> port);
  void DoOpen() override;
  // Stops the event thread, then closes the device. Nothing when no device is open.
  void DoClose() override;

 private:
  class EventThread;
  // The errors DoCommEvent reports with evError; taken (and cleared) by the dispatch.
  int TakeErrors();
  void ApplyIfOpen();
  platform::SerialSettings Settings() const;
  // Stops the event thread and closes the device.
  void ReleasePort();

  TBaudrate baudrate_ = br9600;
  TParity parity_ = paNone;
  TStopbits stopbits_ = sb10;
  TDatabits databits_ = da8;
  TCommOptions options_;
  TFlowControl flow_control_ = fcDefault;
  char xon_char_ = 17;
  char xoff_char_ = 19;
  char error_char_ = 0;
  char eof_char_ = 0;
  char evt_char_ = 0;
  std::atomic<int> read_timeout_{1000};
  std::atomic<int> write_timeout_{1000};
  int read_buf_size_ = 4096;
  int write_buf_size_ = 2048;
  TCommEventTypes monitor_events_ = kAllCommEvents;
  platform::EventLoop* event_loop_ = nullptr;

  // The device and the lock around its transfers. port_ is set and reset only while no event thread
  // runs.
  std::unique_ptr<platform::SerialPort> port_;
  std::mutex lock_;
  std::atomic<int> pending_errors_{0};
  std::unique_ptr<EventThread> event_thread_;
};

// A serial port named by its device path.
class TComm : public TCommHandle {
 public:
  using PortOpener =
      std::function<platform::SerialOpenResult(const std::string& path, std::unique_ptr<platform::SerialPort>* port)>;

  TComm() = default;
  ~TComm() override;

  // Refused while open.
  const std::string& DeviceName() const { return device_name_; }
  void SetDeviceName(const std::string& value);
  // Refused while open. How devices are opened; platform::SerialPort::Open unless replaced (tests
  // put a fake device here).
  void SetPortOpener(PortOpener opener);

 protected:
  // Opens DeviceName exclusively: EComError "CreateFile" when it cannot be opened (code 2 when
  // missing, 5 when held by someone else), "GetFileType" when it is no character device; then the
  // rest of TCommHandle's opening.
  void DoOpen() override;

 private:
  std::string device_name_ = "Com2";
  PortOpener opener_;
};

// The UPS link's port: its RxChar handler reads what arrived and hands it on.
class TRs232Port : public TComm {
 public:
  // `on_received` gets every non-empty block read by RxChar, on the thread where RxChar runs.
  explicit TRs232Port(std::function<void(std::string)> on_received) : on_received_(std::move(on_received)) {}
  ~TRs232Port() override;

  // The handler OnRxChar is set to: Receive(Count) (logged on channel 2), then on_received.
  void RxChar(TConnection& Sender, int Count);

 private:
  std::function<void(std::string)> on_received_;
};

}  // namespace keep::server

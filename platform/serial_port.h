// One open serial device (a UART, a USB serial adapter or a pseudo-terminal): line settings, byte
// transfer, modem lines and a wait for the port's events. The terminal interface lives behind it.
//
// Threads: WaitEvent belongs to one thread (the port's event thread); Interrupt may be called from
// any thread; every other call may come from any thread, but the caller serialises them (the serial
// link holds its own lock around them). Errors are system codes (errno on POSIX), 0 for success.
#pragma once

#include <memory>
#include <string>

namespace keep::platform {

enum class SerialParity { kNone, kOdd, kEven, kMark, kSpace };
// One and a half stop bits exist only on some UARTs; POSIX offers one or two, so kOneAndHalf means
// two there.
enum class SerialStopBits { kOne, kOneAndHalf, kTwo };
// kDtr (DSR/DTR handshake) has no POSIX equivalent and behaves as kNone there. kKeep leaves the
// flow control the device has.
enum class SerialFlowControl { kNone, kCts, kDtr, kSoftware, kKeep };
enum class SerialModemLine { kDtr, kRts };

struct SerialSettings {
  // 110 ... 256000. Rates the system has no constant for (14400, 56000, 128000, 256000 on POSIX)
  // make Apply fail with EINVAL rather than run at a rate the peer does not expect.
  int bit_rate = 9600;
  int data_bits = 8;  // 5..8; anything else makes Apply fail with EINVAL
  SerialParity parity = SerialParity::kNone;
  SerialStopBits stop_bits = SerialStopBits::kOne;
  SerialFlowControl flow_control = SerialFlowControl::kKeep;
  bool parity_check = false;  // check the parity of received bytes
  char xon_char = 17;
  char xoff_char = 19;
};

struct SerialOpenResult {
  // 0, or a system code with the usual unavailable-device codes mapped to the numbers the server's
  // logic knows: a missing device gives 2; a device held by someone else or not accessible gives 5.
  int error = 0;
  // The path exists but is no character device (error then holds ENOTTY on POSIX).
  bool wrong_file_type = false;
};

class SerialPort {
 public:
  enum class Event {
    kReadable,     // bytes arrived (see WaitEvent)
    kHangUp,       // the device went away or reports an error; reported once per hang-up
    kTimeout,      // nothing happened within the time given
    kInterrupted,  // Interrupt() was called
  };

  // Opens `path` for exclusive use (no other open of the device succeeds while this one lasts, even
  // by root), non-blocking, in raw mode; a port object is created only on success. Bytes already
  // waiting at this moment count as reported (see WaitEvent).
  static SerialOpenResult Open(const std::string& path, std::unique_ptr<SerialPort>* port);

  virtual ~SerialPort() = default;  // releases exclusivity and closes the device

  // Applies all of `settings` or returns an error and leaves the device as it was.
  virtual int Apply(const SerialSettings& settings) = 0;

  // Reads what is buffered now, at most `capacity` bytes, never waiting; *count is 0 when nothing
  // is there.
  virtual int Read(char* buffer, int capacity, int* count) = 0;
  // Writes `size` bytes, waiting at most `timeout_ms` for the device to take them all. *written says
  // how many it took; when that is less than `size` the time ran out (the call still returns 0).
  virtual int Write(const char* data, int size, int timeout_ms, int* written) = 0;
  // Bytes received and not yet read.
  virtual int InQueue(int* count) = 0;
  // Drops received bytes not yet read and/or bytes not yet sent.
  virtual int Purge(bool input, bool output) = 0;

  // Raises (true) or lowers (false) a modem line. A device without modem lines (a pseudo-terminal)
  // succeeds: there is no line to raise, and a peer on such a device does not look at one.
  virtual int SetModemLine(SerialModemLine line, bool raised) = 0;
  // Starts (true) or ends (false) sending a break.
  virtual int SetBreak(bool on) = 0;
  // Resumes (true) or suspends (false) output, as a received XON or XOFF would.
  virtual int SetOutputFlow(bool resume) = 0;

  // Waits up to `timeout_ms` (negative: without limit) for an event. kReadable is reported when
  // bytes are waiting and, since the previous kReadable, some arrived or some were read or purged:
  // bytes left unread do not report again until more arrive, so a listener that ignores them is not
  // woken over and over. After a hang-up has been reported the device is looked at again only every
  // 100 ms, so a dead device does not keep the waiting thread busy.
  virtual Event WaitEvent(int timeout_ms) = 0;
  // Makes the current or the next WaitEvent return kInterrupted. Any thread.
  virtual void Interrupt() = 0;
};

}  // namespace keep::platform

// The UPS link over a serial port: the operations the UPS manager calls to set up, open, use and free
// its one serial port. Owned by the server; there is at most one port at a time.
//
// Threads: every call comes from the loop thread. Received bytes are read on the port's event
// thread and handed to the loop, where `on_receive` gets them in the order they arrived.
// Failures are result codes; nothing is thrown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_loop.h"
#include "server/links/comm.h"
#include "server/links/logger.h"
#include "server/records/setup_data.h"

namespace keep::server {

class SerialLink {
 public:
  // `on_receive` runs on `loop` with each received block, in order. The loop must outlive the link.
  SerialLink(platform::EventLoop& loop, std::function<void(std::string)> on_receive);
  ~SerialLink();  // frees the port
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // How ports created from now on open their device (tests put a fake device here).
  void SetPortOpener(TComm::PortOpener opener);

  // Creates the port if there is none (100002 when that fails), closes it if open, and sets it up
  // from the model's parameter text "rate,data bits,parity letter,stop bits" and the device
  // setup.ServerSetup.UpsDevice: a rate outside the known list gives 2400 bit/s, data bits other
  // than 5-7 give 8, stop bits other than 2 give 1, parity letters E, M, O, S (any case) select
  // their parity and anything else none. A missing field or a rate, data-bit or stop-bit field that
  // is no number gives 100007. `traffic_logger` (may be null; not owned, must outlive the port or be
  // replaced first) receives sent bytes on channel 1 and received bytes on channel 2.
  int CreateSerialLink(const TSetupData& setup, TLogger* traffic_logger);
  // Opens the port; for protocol 7 then raises DTR and RTS and drops input received before.
  // Returns 0; 100004 when the device is missing or held by someone else; 100002 when no port was
  // created; otherwise the system error code. The port stays closed after a failure.
  int OpenSerialLink(int32_t protocol_number);
  // Sends `text` when the port is open (logged on channel 1). A failed write is dropped: the UPS
  // manager's reply time-out notices the missing answer.
  void SendSerialLink(std::string_view text);
  // Closes and frees the port. Returns after its event thread has ended; blocks received but not yet
  // delivered are dropped.
  void FreeSerialLink();
  // Null when there is none.
  TRs232Port* Port() { return port_.get(); }

 private:
  platform::EventLoop& loop_;
  std::function<void(std::string)> on_receive_;
  TComm::PortOpener opener_;
  std::unique_ptr<TRs232Port> port_;
  // Deliveries posted to the loop check this there: it is false once the port they came from has
  // been freed.
  std::shared_ptr<std::atomic<bool>> alive_;
};

}  // namespace keep::server

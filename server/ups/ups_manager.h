// The UPS manager: owns the one link to the UPS and the protocol driver of the model, turns a
// command into protocol exchanges sent one at a time, feeds what the link receives to the driver,
// and watches for a silent UPS with a reply timer and three attempts. Main loop only: links hand
// their bytes to the loop first, so nothing here is shared with another thread.
//
// The waits of the exchange (the wake-up pause, a driver's delay between exchanges) are timer
// continuations: the manager stays Busy and the bytes keep their order and spacing on the link,
// while the loop goes on serving everything else.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "common/text_lists.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/hid_devices.h"
#include "server/links/file_logger.h"
#include "server/ups/protocol_driver.h"
#include "server/ups/ups_link.h"

namespace keep::server {

// Link types of the "UpsManType" setting.
inline constexpr uint8_t kLinkSerial = 0;
inline constexpr uint8_t kLinkUsb = 1;
inline constexpr uint8_t kLinkNetwork = 2;

inline constexpr uint16_t kInitialReplyTimeout = 10000;  // ms, until a driver sets the model's
inline constexpr int64_t kWakeUpPauseMs = 2000;
inline constexpr int32_t kTimeoutsBeforeCommLost = 3;
// Received bytes no parser takes wait in RxBuffer; beyond this the oldest are dropped so a
// chattering line cannot exhaust memory.
inline constexpr size_t kRxBufferLimit = 64 * 1024;

// What the manager is lent of the server: no more than it uses. The references must outlive the
// manager; the records are read where they are used, so settings loaded after the manager was made
// still count.
struct UpsManagerContext {
  platform::EventLoop& loop;
  const platform::WallClock& wall;
  // Makes the USB link's device controller; empty: a USB link cannot be created.
  platform::HidControllerFactory hid_controllers;
  bool debug = false;  // keep a traffic log of the serial and network links
  const TFormatSettings& format;
  TSetupData& setup;
  TUpsData& ups;
  TServerData& server;
  // Queues a request of the server's own at the front of the request queue.
  std::function<void(int code, const TStringList& fields)> queue_internal_request;
};

class UpsManager {
 public:
  explicit UpsManager(UpsManagerContext context);
  ~UpsManager();
  UpsManager(const UpsManager&) = delete;
  UpsManager& operator=(const UpsManager&) = delete;

  // Tests hand in scripted links and drivers; the defaults make the real ones.
  using DriverFactory = std::function<std::unique_ptr<ProtocolDriver>(int32_t protocol_number)>;
  void SetLinkFactory(UpsLinkFactory factory) { link_factory_ = std::move(factory); }
  void SetDriverFactory(DriverFactory factory) { driver_factory_ = std::move(factory); }

  // Creates the link of the configured type (with the traffic log in debug mode) and the driver of
  // the model's protocol. 0, the link's failure code, or 100000 for a link type this server does not
  // offer; after a failure nothing is left.
  int CreateLink();
  // Opens the link; on 0 clears CommLost, Connected and Busy.
  int ConnectLink();
  // Frees the link, the traffic log and the reply timer; drops pending continuations. Safe twice.
  void CloseLink();

  // Sends the driver's wake-up text (a lost network link is reopened first), then pauses 2000 ms,
  // empties RxBuffer and runs `then`. Busy from the start until `then` decides.
  void WakeUp(std::function<void()> then);
  // Starts a command (item 0 the request code). True when the driver queued no exchange and the
  // caller answers at once from TUpsData; false when exchanges are under way (Busy).
  bool SendCommand(const TStringList& fields);
  // Entry for received bytes. True when they completed the reply to the exchange on the wire.
  bool OnReceive(std::string_view text);

  // Called whenever the manager takes up work (a wake-up or a command): from then on it is Busy until
  // the work ends. The command step sleeps while the manager is idle and wakes on this.
  void SetOnActivity(std::function<void()> on_activity) { on_activity_ = std::move(on_activity); }
  // Called whenever a reply of the UPS completed an exchange, so a watcher can tell how old the
  // record's measurements are.
  void SetOnReply(std::function<void()> on_reply) { on_reply_ = std::move(on_reply); }

  bool Busy = false;
  bool CommLost = false;
  bool Connected = false;
  int32_t TimeoutCount = 0;
  uint16_t ReplyTimeout = kInitialReplyTimeout;
  std::string RxBuffer;
  TUpsManCommandRecord UpsCommand;

  TFileLogger* TrafficLog() { return traffic_log_.get(); }
  bool HasDriver() const { return driver_ != nullptr; }
  // True while a reply is awaited (the reply timer runs).
  bool AwaitingReply() const { return awaiting_reply_; }

 private:
  DriverContext Driver();
  void SendNext();
  void OnReplyTimeout();
  void After(int64_t delay_ms, std::function<void()> then);
  void CancelPause();

  UpsManagerContext context_;
  UpsLinkFactory link_factory_;
  DriverFactory driver_factory_;
  std::unique_ptr<TFileLogger> traffic_log_;
  std::unique_ptr<UpsLink> link_;
  std::unique_ptr<ProtocolDriver> driver_;
  std::unique_ptr<platform::Timer> reply_timer_;
  platform::EventLoop::TimerId pause_ = 0;
  bool awaiting_reply_ = false;
  std::function<void()> on_activity_;
  std::function<void()> on_reply_;
};

}  // namespace keep::server

// One link to the UPS as the manager drives it, whatever its kind, so the manager holds no
// per-type code and tests can hand it a scripted link. Main loop only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_loop.h"
#include "platform/hid_devices.h"
#include "server/links/logger.h"
#include "server/records/setup_data.h"

namespace keep::server {

class UpsLink {
 public:
  virtual ~UpsLink() = default;
  // Configures the link from the settings; `traffic_log` (may be null, not owned) gets the traffic.
  // 0 or the link's failure code.
  virtual int Create(const TSetupData& setup, TLogger* traffic_log) = 0;
  // 0 or the link's failure code (a network link reports none: it just stays closed).
  virtual int Open() = 0;
  virtual void Send(std::string_view text) = 0;
  virtual void Free() = 0;
  // True for links whose lost connection the wake-up reopens first (the network adapter).
  virtual bool ReopensOnWakeUp() const { return false; }
  // False for links that carry no wake-up text (USB: the device is awake when attached).
  virtual bool SendsWakeUp() const { return true; }
  // Milliseconds after a query that expects a reply at which the manager fetches the answer with
  // PollAnswer (USB feature reports, which the UPS never sends unasked); 0: answers arrive by
  // themselves.
  virtual int64_t AnswerPollDelayMs() const { return 0; }
  virtual void PollAnswer() {}
};

// Received blocks reach `on_receive` on the loop, in order.
using ReceiveHandler = std::function<void(std::string)>;

// Makes the link of a link type ("UpsManType"); null for a type this server does not offer.
using UpsLinkFactory =
    std::function<std::unique_ptr<UpsLink>(uint8_t link_type, platform::EventLoop& loop, ReceiveHandler on_receive)>;

// What the real links need beyond the loop: the USB link's device controller and the debug switch
// (its own dump of reports; the other links get a traffic log instead).
struct SystemLinkOptions {
  platform::HidControllerFactory hid_controllers;
  bool debug = false;
};

// The real links: 0 serial port, 1 USB, 2 network adapter.
std::unique_ptr<UpsLink> CreateSystemUpsLink(uint8_t link_type, platform::EventLoop& loop, ReceiveHandler on_receive,
                                             const SystemLinkOptions& options);

}  // namespace keep::server

#include "server/ups/ups_link.h"

#include "server/links/net_link.h"
#include "server/links/serial_link.h"
#include "server/links/usb_link.h"

namespace keep::server {
namespace {

class SerialUpsLink final : public UpsLink {
 public:
  SerialUpsLink(platform::EventLoop& loop, ReceiveHandler on_receive) : link_(loop, std::move(on_receive)) {}
  ~SerialUpsLink() override { link_.FreeSerialLink(); }

  int Create(const TSetupData& setup, TLogger* traffic_log) override {
    protocol_number_ = setup.UpsSetup.ProtocolSetup.ProtocolNumber;
    return link_.CreateSerialLink(setup, traffic_log);
  }
  int Open() override { return link_.OpenSerialLink(protocol_number_); }
  void Send(std::string_view text) override { link_.SendSerialLink(text); }
  void Free() override { link_.FreeSerialLink(); }

 private:
  SerialLink link_;
  int32_t protocol_number_ = 0;
};

class NetUpsLink final : public UpsLink {
 public:
  NetUpsLink(platform::EventLoop& loop, ReceiveHandler on_receive) : link_(loop, std::move(on_receive)) {}
  ~NetUpsLink() override { link_.FreeNetLink(); }

  int Create(const TSetupData& setup, TLogger* traffic_log) override { return link_.CreateNetLink(setup, traffic_log); }
  int Open() override { return link_.OpenNetLink(); }
  void Send(std::string_view text) override { link_.SendNetLink(text); }
  void Free() override { link_.FreeNetLink(); }
  bool ReopensOnWakeUp() const override { return true; }

 private:
  NetLink link_;
};

// The feature-mode answer is fetched this long after its query: the UPS needs the time to fill it.
constexpr int64_t kUsbFeaturePollDelayMs = 500;

class UsbUpsLink final : public UpsLink {
 public:
  UsbUpsLink(platform::EventLoop& loop, ReceiveHandler on_receive, const SystemLinkOptions& options)
      : link_(loop, options.hid_controllers, std::move(on_receive)), debug_(options.debug) {}

  int Create(const TSetupData& setup, TLogger*) override { return link_.CreateUsbLink(setup, debug_); }
  int Open() override { return link_.OpenUsbLink(); }
  void Send(std::string_view text) override { link_.SendUsbLink(text); }
  void Free() override { link_.FreeUsbLink(); }
  bool SendsWakeUp() const override { return false; }
  int64_t AnswerPollDelayMs() const override { return link_.FeatureMode() ? kUsbFeaturePollDelayMs : 0; }
  void PollAnswer() override { link_.PollUsbFeature(); }

 private:
  UsbLink link_;
  bool debug_;
};

}  // namespace

std::unique_ptr<UpsLink> CreateSystemUpsLink(uint8_t link_type, platform::EventLoop& loop, ReceiveHandler on_receive,
                                             const SystemLinkOptions& options) {
  switch (link_type) {
    case 0:
      return std::make_unique<SerialUpsLink>(loop, std::move(on_receive));
    case 1:
      return std::make_unique<UsbUpsLink>(loop, std::move(on_receive), options);
    case 2:
      return std::make_unique<NetUpsLink>(loop, std::move(on_receive));
    default:
      return nullptr;
  }
}

}  // namespace keep::server

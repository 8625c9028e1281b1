// The one link to the UPS, chosen by the link type of the settings, and the exchange state around
// it. Main loop only: the links hand received bytes to the loop before they reach the manager.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/links/file_logger.h"
#include "server/links/serial_link.h"

namespace keep::server {

struct ServerContext;

// Link types of the "UpsManType" setting.
inline constexpr uint8_t kLinkSerial = 0;
inline constexpr uint8_t kLinkUsb = 1;
inline constexpr uint8_t kLinkNetwork = 2;

// Received bytes wait here for the protocol parser; more than this means nothing parses them, and
// the oldest are dropped so a chattering line cannot exhaust memory.
inline constexpr size_t kRxBufferLimit = 64 * 1024;

inline constexpr uint16_t kInitialReplyTimeout = 10000;  // ms, until a driver sets the model's

class UpsManager {
 public:
  // `context` must outlive the manager.
  explicit UpsManager(ServerContext& context);
  ~UpsManager();
  UpsManager(const UpsManager&) = delete;
  UpsManager& operator=(const UpsManager&) = delete;

  // Creates the link of the configured type (with a traffic log in debug mode). 0, the link's
  // failure code, or 100000 for a link type this server does not offer; on failure nothing is left.
  int CreateLink();
  // Opens the link; 0 clears CommLost, Connected and Busy. Otherwise the link's failure code.
  int ConnectLink();
  // Frees the link and the traffic log. Safe to call when nothing was created.
  void CloseLink();

  // Sends bytes over the open link (nothing when there is none).
  void SendToLink(std::string_view text);

  bool Busy = false;
  bool CommLost = false;
  bool Connected = false;
  uint16_t ReplyTimeout = kInitialReplyTimeout;
  // Bytes received and not yet consumed by a parser.
  std::string RxBuffer;

  TFileLogger* TrafficLog() { return traffic_log_.get(); }

 private:
  void ReceiveFromLink(std::string text);

  ServerContext& context_;
  std::unique_ptr<TFileLogger> traffic_log_;
  std::unique_ptr<SerialLink> serial_;
};

}  // namespace keep::server

#include "server/ups/ups_manager.h"

#include "server/core/error_codes.h"
#include "server/core/server_context.h"
#include "server/links/traffic_log.h"

namespace keep::server {

UpsManager::UpsManager(ServerContext& context) : context_(context) {}

UpsManager::~UpsManager() { CloseLink(); }

int UpsManager::CreateLink() {
  const TSetupData& setup = context_.Setup;
  int result = kErrorInvalidSetup;
  if (setup.ServerSetup.UpsManType == kLinkSerial) {
    if (context_.Debug) {
      traffic_log_ = CreateUpsTrafficLogger(setup.InstallPath, context_.env.wall, context_.Format);
    }
    serial_ = std::make_unique<SerialLink>(context_.env.loop, [this](std::string text) { ReceiveFromLink(text); });
    result = serial_->CreateSerialLink(setup, traffic_log_.get());
  }
  if (result != kErrorOk) {
    CloseLink();
    return result;
  }
  ReplyTimeout = kInitialReplyTimeout;
  return kErrorOk;
}

int UpsManager::ConnectLink() {
  if (serial_ == nullptr) return kErrorInvalidSetup;
  const int result = serial_->OpenSerialLink(context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber);
  if (result == kErrorOk) {
    CommLost = false;
    Connected = false;
    Busy = false;
  }
  return result;
}

void UpsManager::CloseLink() {
  if (serial_ != nullptr) {
    serial_->FreeSerialLink();
    serial_.reset();
  }
  if (traffic_log_ != nullptr) {
    traffic_log_->Close();
    traffic_log_.reset();
  }
}

void UpsManager::SendToLink(std::string_view text) {
  if (serial_ != nullptr) serial_->SendSerialLink(text);
}

void UpsManager::ReceiveFromLink(std::string text) {
  RxBuffer += text;
  if (RxBuffer.size() > kRxBufferLimit) RxBuffer.erase(0, RxBuffer.size() - kRxBufferLimit);
}

}  // namespace keep::server

#include "server/links/net_link.h"

#include <charconv>
#include <new>
#include <utility>

#include "server/records/error_codes.h"

namespace keep::server {

TDigiTcpClient::~TDigiTcpClient() { Destroy(); }

void TDigiTcpClient::RxChar(TConnection& /*Sender*/, int Count) {
  std::string text = Receive(Count);
  if (!text.empty() && on_received_) on_received_(std::move(text));
}

NetLink::NetLink(platform::EventLoop& loop, std::function<void(std::string)> on_receive)
    : loop_(loop), on_receive_(std::move(on_receive)) {}

NetLink::~NetLink() { FreeNetLink(); }

NetAdapterAddress SplitAdapterAddress(std::string_view setting, int default_port) {
  const size_t colon = setting.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = setting.substr(colon + 1);
    int port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (error == std::errc() && end == digits.data() + digits.size() && port >= 1 && port <= 65535) {
      return {std::string(setting.substr(0, colon)), port};
    }
  }
  return {std::string(setting), default_port};
}

int NetLink::CreateNetLink(const TSetupData& setup, TLogger* traffic_logger) {
  if (!client_) {
    try {
      auto alive = std::make_shared<std::atomic<bool>>(true);
      // RxChar runs inside the connection's hand-over on the loop. The block goes to the receiver
      // through a task of its own, so a receiver that frees the link does not free the connection
      // under its own running handler.
      auto deliver = [this, alive](std::string text) {
        loop_.Post([this, alive, text = std::move(text)]() mutable {
          if (alive->load()) on_receive_(std::move(text));
        });
      };
      client_ = std::make_unique<TDigiTcpClient>(std::move(deliver));
      alive_ = std::move(alive);
    } catch (const std::bad_alloc&) {
      return kErrorServerObject;
    }
  }
  try {
    client_->Close();
    client_->SetHost("");
    client_->SetService("");
    const NetAdapterAddress adapter = SplitAdapterAddress(setup.ServerSetup.UpsNetCardAddress, port_);
    client_->SetAddress(adapter.address);
    client_->SetPort(adapter.port);
    client_->SetEventLoop(&loop_);
    client_->DontSynchronize = false;
    TDigiTcpClient* client = client_.get();
    client_->OnRxChar = [client](TConnection& sender, int count) { client->RxChar(sender, count); };
    client_->Logger = traffic_logger;
  } catch (const std::exception&) {
    return kErrorLinkOrDatabase;
  }
  return kErrorOk;
}

int NetLink::OpenNetLink() {
  if (!client_) return kErrorServerObject;
  try {
    client_->Close();
    client_->Open();
  } catch (const std::exception&) {
    // An adapter that cannot be reached looks like a silent UPS; the manager's time-outs deal with it.
  }
  return kErrorOk;
}

void NetLink::SendNetLink(std::string_view text) {
  if (!client_ || !client_->Active()) return;
  try {
    client_->Send(text);
  } catch (const std::exception&) {
  }
}

void NetLink::FreeNetLink() {
  if (!client_) return;
  alive_->store(false);
  client_->Close();
  client_->OnRxChar = nullptr;
  client_->Logger = nullptr;
  client_.reset();
  alive_.reset();
}

}  // namespace keep::server

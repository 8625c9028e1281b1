#include "server/links/serial_link.h"

#include <charconv>
#include <new>
#include <utility>

#include "common/text_lists.h"
#include "server/records/error_codes.h"

namespace keep::server {

namespace {

// A whole field holding a decimal number with an optional sign.
bool ParseInteger(std::string_view text, int* value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

TBaudrate BaudrateOf(int rate) {
  for (int member = br110; member <= br256000; ++member) {
    if (BaudrateValue(static_cast<TBaudrate>(member)) == rate) return static_cast<TBaudrate>(member);
  }
  return br2400;
}

TDatabits DatabitsOf(int bits) {
  switch (bits) {
    case 5:
      return da5;
    case 6:
      return da6;
    case 7:
      return da7;
    default:
      return da8;
  }
}

TParity ParityOf(const std::string& letter) {
  if (letter == "E" || letter == "e") return paEven;
  if (letter == "M" || letter == "m") return paMark;
  if (letter == "O" || letter == "o") return paOdd;
  if (letter == "S" || letter == "s") return paSpace;
  return paNone;
}

}  // namespace

SerialLink::SerialLink(platform::EventLoop& loop, std::function<void(std::string)> on_receive)
    : loop_(loop), on_receive_(std::move(on_receive)) {}

SerialLink::~SerialLink() { FreeSerialLink(); }

void SerialLink::SetPortOpener(TComm::PortOpener opener) { opener_ = std::move(opener); }

int SerialLink::CreateSerialLink(const TSetupData& setup, TLogger* traffic_logger) {
  if (!port_) {
    try {
      auto alive = std::make_shared<std::atomic<bool>>(true);
      // Runs on the port's event thread: only the hand-over to the loop happens here.
      auto deliver = [this, alive](std::string text) {
        loop_.Post([this, alive, text = std::move(text)]() mutable {
          if (alive->load()) on_receive_(std::move(text));
        });
      };
      port_ = std::make_unique<TRs232Port>(std::move(deliver));
      alive_ = std::move(alive);
    } catch (const std::bad_alloc&) {
      return kErrorServerObject;
    }
    if (opener_) port_->SetPortOpener(opener_);
  }
  port_->Close();

  TStringList fields;
  SplitText(',', setup.UpsSetup.ProtocolSetup.ProtocolParams, fields, true);
  int rate = 0;
  int data_bits = 0;
  int stop_bits = 0;
  if (fields.size() < 4 || !ParseInteger(fields[0], &rate) || !ParseInteger(fields[1], &data_bits) ||
      !ParseInteger(fields[3], &stop_bits)) {
    return kErrorLinkOrDatabase;
  }
  port_->SetDeviceName(setup.ServerSetup.UpsDevice);
  port_->SetBaudrate(BaudrateOf(rate));
  port_->SetDatabits(DatabitsOf(data_bits));
  port_->SetStopbits(stop_bits == 2 ? sb20 : sb10);
  port_->SetParity(ParityOf(fields[2]));
  port_->SetFlowControl(fcNone);
  port_->DontSynchronize = true;
  port_->SetMonitorEvents({evRxChar});
  TRs232Port* port = port_.get();
  port_->OnRxChar = [port](TConnection& sender, int count) { port->RxChar(sender, count); };
  port_->Logger = traffic_logger;
  return kErrorOk;
}

int SerialLink::OpenSerialLink(int32_t protocol_number) {
  if (!port_) return kErrorServerObject;
  try {
    port_->Open();
    // The protocol 7 interface expects DTR and RTS raised; input from before that belongs to no
    // reply.
    if (protocol_number == 7) {
      port_->SetLine(1, true);
      port_->SetLine(2, true);
      port_->PurgeIn();
    }
    return kErrorOk;
  } catch (const EComError& e) {
    port_->Close();
    return e.Code() == 2 || e.Code() == 5 ? kErrorDeviceOpen : e.Code();
  } catch (const std::exception&) {
    port_->Close();
    return kErrorDeviceOpen;
  }
}

void SerialLink::SendSerialLink(std::string_view text) {
  if (!port_ || !port_->Active()) return;
  try {
    port_->Send(text);
  } catch (const std::exception&) {
  }
}

void SerialLink::FreeSerialLink() {
  if (!port_) return;
  alive_->store(false);
  port_->Close();
  port_->OnRxChar = nullptr;
  port_->Logger = nullptr;
  port_.reset();
  alive_.reset();
}

}  // namespace keep::server

// Connecting the console to a server: the dialog, the connection and the receive thread.
#include <cstdio>

#include "console/broadcasts.h"
#include "console/console_client.h"
#include "console/input.h"
#include "console/output.h"

namespace keep::console {

namespace {

bool IsCancel(const std::string& answer) { return answer == "Q" || answer == "q"; }

// An identification that names no model means that the server has no UPS.
bool NamesUps(const std::string& model) { return !model.empty() && model != "&" && model != "Not available"; }

}  // namespace

ConsoleClient::ConsoleClient(ConsoleIo& io, ServerLink& link, Pause& pause, RenderStyle style)
    : io_(io), link_(link), pause_(pause), style_(std::move(style)) {}

ConsoleClient::~ConsoleClient() { DisconnectFromServer(); }

int ConsoleClient::UpsKind() const {
  return state_.Inspect([](const ConsoleData& data) { return data.ups.info.ups_kind; });
}

int ConsoleClient::ConnectDialog() {
  state_.host.clear();
  state_.port.clear();
  state_.ups_present = false;

  const std::string host = ReadLine(io_, "Host IP address [default: localhost / Q=cancel]: ", true);
  if (IsCancel(host) || io_.InputEnded()) return 0;
  state_.host = host.empty() ? kDefaultHost : host;

  char prompt[64];
  std::snprintf(prompt, sizeof prompt, "Host IP port [default: %d / Q=cancel]: ", kDefaultPort);
  for (;;) {
    const std::string port = ReadLine(io_, prompt, false);
    if (IsCancel(port) || io_.InputEnded()) return 0;
    if (port.empty()) {
      state_.port = std::to_string(kDefaultPort);
      break;
    }
    const std::optional<int> number = ParseWholeNumber(port);
    if (number && *number >= 1 && *number <= 65535) {
      state_.port = std::to_string(*number);
      break;
    }
    ShowErrorLine(io_, "Number invalid or out of range (1 - 65535) !");
  }

  ConnectToServer(true);
  if (state_.connected) {
    const bool answered = SendRequest(100, true);
    const std::string model = state_.Inspect([](const ConsoleData& data) { return data.ups.info.model_name; });
    state_.ups_present = answered && NamesUps(model);
    if (!state_.ups_present) {
      ShowErrorLine(io_, "Connected with " + state_.host + " but no UPS found !");
      WaitEnter(io_);
    }
  } else {
    ShowErrorLine(io_, "Host " + state_.host + " on port " + state_.port + " not found !");
    WaitEnter(io_);
  }
  return 1;
}

void ConsoleClient::ConnectToServer(bool reconnect) {
  DisconnectFromServer();
  if (reconnect) {
    state_.Update([](ConsoleData& data) {
      data.ups = ConsoleUpsData{};
      data.event_list.clear();
      data.scheduler_items.clear();
    });
    state_.ups_present = false;
    state_.answer_received = false;
    state_.pending_code = -1;
    if (link_.Connect(state_.host, state_.port, kConnectTimeoutMs)) StartReceiving();
  }
  state_.connected = link_.Connected();
}

void ConsoleClient::DisconnectFromServer() {
  // The thread is stopped first: the link may not be closed under a running read.
  receiver_.reset();
  link_.Close();
}

void ConsoleClient::ToggleConnection() {
  if (state_.connected) {
    ConnectToServer(false);
  } else {
    ConnectDialog();
  }
}

void ConsoleClient::StartReceiving() {
  receiver_ = std::make_unique<ReceiveThread>(
      link_, state_, style_, [this](const std::string& text, std::stop_token stop) { ShowBroadcast(io_, text, stop); });
}

}  // namespace keep::console

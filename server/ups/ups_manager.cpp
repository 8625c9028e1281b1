#include "server/ups/ups_manager.h"

#include <charconv>

#include "server/links/traffic_log.h"
#include "server/records/error_codes.h"

namespace keep::server {
namespace {

int32_t CodeOf(const TStringList& fields) {
  int32_t code = 0;
  if (fields.empty()) return code;
  const std::string& text = fields[0];
  std::from_chars(text.data(), text.data() + text.size(), code);
  return code;
}

}  // namespace

UpsManager::UpsManager(UpsManagerContext context)
    : context_(std::move(context)),
      link_factory_([this](uint8_t link_type, platform::EventLoop& loop, ReceiveHandler on_receive) {
        return CreateSystemUpsLink(link_type, loop, std::move(on_receive),
                                   SystemLinkOptions{context_.hid_controllers, context_.debug});
      }),
      driver_factory_([this](int32_t protocol_number) {
        // The format is read when the driver is made: the settings are loaded by then.
        DriverServices services;
        services.queue_internal_request = context_.queue_internal_request;
        services.format = context_.format;
        return CreateProtocolDriver(protocol_number, services);
      }) {}

UpsManager::~UpsManager() { CloseLink(); }

DriverContext UpsManager::Driver() {
  return DriverContext{UpsCommand, ReplyTimeout, context_.ups, context_.setup, context_.server};
}

int UpsManager::CreateLink() {
  const TSetupData& setup = context_.setup;
  const uint8_t type = setup.ServerSetup.UpsManType;
  link_ = link_factory_(type, context_.loop, [this](std::string text) { OnReceive(text); });
  if (link_ == nullptr) {
    CloseLink();
    return kErrorInvalidSetup;
  }
  // The traffic log exists only in debug mode, and only for the links that write one.
  if (context_.debug && (type == kLinkSerial || type == kLinkNetwork)) {
    traffic_log_ = CreateUpsTrafficLogger(setup.InstallPath, context_.wall, context_.format);
  }
  const int result = link_->Create(setup, traffic_log_.get());
  if (result != kErrorOk) {
    CloseLink();
    return result;
  }
  ReplyTimeout = kInitialReplyTimeout;
  reply_timer_ = std::make_unique<platform::Timer>(context_.loop);
  reply_timer_->SetInterval(ReplyTimeout);
  reply_timer_->SetOnTimer([this] { OnReplyTimeout(); });
  UpsCommand = TUpsManCommandRecord{};
  driver_ = driver_factory_(setup.UpsSetup.ProtocolSetup.ProtocolNumber);
  return kErrorOk;
}

int UpsManager::ConnectLink() {
  if (link_ == nullptr) return kErrorInvalidSetup;
  const int result = link_->Open();
  if (result == kErrorOk) {
    CommLost = false;
    Connected = false;
    Busy = false;
  }
  return result;
}

void UpsManager::CloseLink() {
  CancelPause();
  awaiting_reply_ = false;
  if (link_ != nullptr) {
    link_->Free();
    link_.reset();
  }
  if (traffic_log_ != nullptr) {
    traffic_log_->Close();
    traffic_log_.reset();
  }
  reply_timer_.reset();
  driver_.reset();
  UpsCommand = TUpsManCommandRecord{};
}

void UpsManager::After(int64_t delay_ms, std::function<void()> then) {
  CancelPause();
  pause_ = context_.loop.AddTimer(delay_ms, false, [this, then = std::move(then)] {
    pause_ = 0;
    then();
  });
}

void UpsManager::CancelPause() {
  if (pause_ != 0) context_.loop.CancelTimer(pause_);
  pause_ = 0;
}

void UpsManager::WakeUp(std::function<void()> then) {
  Busy = true;
  if (on_activity_) on_activity_();
  std::string wake;
  if (driver_ != nullptr) {
    DriverContext driver = Driver();
    wake = driver_->Init(driver);
  }
  if (!wake.empty() && link_ != nullptr && link_->SendsWakeUp()) {
    if (link_->ReopensOnWakeUp() && CommLost) link_->Open();
    // One send per character, as some UPS firmware wants them.
    for (char c : wake) link_->Send(std::string_view(&c, 1));
  }
  After(kWakeUpPauseMs, [this, then = std::move(then)] {
    RxBuffer.clear();
    if (then) then();
  });
}

bool UpsManager::SendCommand(const TStringList& fields) {
  Busy = true;
  if (on_activity_) on_activity_();
  UpsCommand.Args.clear();
  UpsCommand.Exchange.Frame.clear();
  UpsCommand.Exchange.Queue.clear();
  UpsCommand.Code = CodeOf(fields);
  UpsCommand.Args = fields;
  bool queued = false;
  if (driver_ != nullptr) {
    DriverContext driver = Driver();
    queued = driver_->BuildCommand(driver);
  }
  if (queued) {
    TimeoutCount = 0;
    SendNext();
    return false;
  }
  Busy = false;
  return true;
}

void UpsManager::SendNext() {
  TStringList& queue = UpsCommand.Exchange.Queue;
  while (true) {
    if (queue.empty() || driver_ == nullptr) {
      Busy = false;
      return;
    }
    uint8_t expect_reply = 0;
    int32_t delay_ms = 0;
    DriverContext driver = Driver();
    driver_->BuildNext(driver, expect_reply, delay_ms);
    if (link_ != nullptr) link_->Send(UpsCommand.Exchange.Frame);
    if (expect_reply != 0) {
      CommLost = false;
      awaiting_reply_ = true;
      if (reply_timer_ != nullptr) {
        reply_timer_->SetEnabled(false);
        reply_timer_->SetInterval(ReplyTimeout);
        reply_timer_->SetEnabled(true);
      }
      if (link_ != nullptr && link_->AnswerPollDelayMs() > 0) {
        After(link_->AnswerPollDelayMs(), [this] {
          if (awaiting_reply_ && link_ != nullptr) link_->PollAnswer();
        });
      }
      return;
    }
    queue.erase(queue.begin());
    if (delay_ms > 0) {
      After(delay_ms, [this] {
        Busy = !UpsCommand.Exchange.Queue.empty();
        if (Busy) SendNext();
      });
      return;
    }
    Busy = !queue.empty();
    if (!Busy) return;
  }
}

bool UpsManager::OnReceive(std::string_view text) {
  RxBuffer.append(text);
  if (RxBuffer.size() > kRxBufferLimit) RxBuffer.erase(0, RxBuffer.size() - kRxBufferLimit);
  // Bytes that come while no reply is awaited (during a pause, or unasked) only wait in the buffer:
  // there is no exchange on the wire they could answer.
  if (!awaiting_reply_ || driver_ == nullptr) return false;
  DriverContext driver = Driver();
  if (!driver_->Parse(driver, RxBuffer)) return false;

  awaiting_reply_ = false;
  if (reply_timer_ != nullptr) reply_timer_->SetEnabled(false);
  CommLost = false;
  Connected = true;
  if (on_reply_) on_reply_();
  TStringList& queue = UpsCommand.Exchange.Queue;
  if (!queue.empty()) queue.erase(queue.begin());
  if (!queue.empty()) {
    TimeoutCount = 0;
    SendNext();
  } else {
    Busy = false;
  }
  return true;
}

void UpsManager::OnReplyTimeout() {
  if (reply_timer_ != nullptr) reply_timer_->SetEnabled(false);
  awaiting_reply_ = false;
  ++TimeoutCount;
  if (TimeoutCount >= kTimeoutsBeforeCommLost) {
    CommLost = true;
    Connected = false;
    Busy = false;
    return;
  }
  WakeUp([this] { SendNext(); });
}

}  // namespace keep::server

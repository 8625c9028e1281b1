#include "server/core/command_step.h"

#include <optional>
#include <utility>

#include "server/core/command_codes.h"
#include "server/core/ups_identification.h"

namespace keep::server {

CommandStep::CommandStep(ServerContext& context, RequestQueue& queue, AnswerRouter router)
    : context_(context), queue_(queue), router_(std::move(router)), timer_(context.env.loop) {
  timer_.SetInterval(kCommandStepIntervalMs);
  timer_.SetOnTimer([this] { OnTick(); });
}

void CommandStep::Hold(int64_t milliseconds) { held_until_ms_ = context_.env.monotonic.NowMs() + milliseconds; }

void CommandStep::Enable(bool enabled) { timer_.SetEnabled(enabled); }

void CommandStep::OnTick() {
  // The next period starts after the step, so a slow step never makes ticks pile up.
  timer_.SetEnabled(false);
  Step();
  timer_.SetEnabled(true);
}

void CommandStep::Step() {
  UpsManager* manager = context_.Manager.get();
  if (manager == nullptr || manager->Busy) return;
  if (manager->CommLost) {
    context_.Server.LinkFailed = true;
    if (evaluate_) evaluate_();
    IdentifyUps(context_);
    return;
  }
  TServerData& server = context_.Server;
  if (!server.Info.CompletionDone) CompleteRequest(context_, router_, evaluate_);
  // A completion put off to the next step still needs Command: executing the next request now
  // would overwrite it and lose that request's answer.
  const bool completion_pending = !server.Info.CompletionDone && !server.Command.Requester.empty();
  const bool held = context_.env.monotonic.NowMs() < held_until_ms_;
  if (!queue_.Empty() && !completion_pending && !held) ExecuteNextRequest();
}

void CommandStep::ExecuteNextRequest() {
  UpsManager* manager = context_.Manager.get();
  if (manager == nullptr) return;
  std::optional<QueuedRequest> next = queue_.TakeNext();
  if (!next) return;
  TTcpCmdInfo& command = context_.Server.Command;
  command.Requester = std::move(next->Requester);
  command.Code = static_cast<uint16_t>(next->Code);
  command.Params = std::move(next->Params);
  if (manager->SendCommand(command.Params)) {
    // A calibration start the UPS cannot carry out must not leave the test marked as running: that
    // state suppresses the mains-failure event and the shutdown countdown. The answer says so.
    if (command.Code == kCodeAutonomyTest && command.Params.size() > 1 && command.Params[1] == "1") {
      context_.Ups.Test.AutonomyTestState = "0";
    }
    AnswerRequester(router_, command.Requester, command.Code);
    // Nothing is left to complete; a stale false here (as after a reset) would answer it twice.
    context_.Server.Info.CompletionDone = true;
  } else {
    context_.Server.Info.CompletionDone = false;
  }
}

}  // namespace keep::server

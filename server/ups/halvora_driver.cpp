#include "server/ups/halvora_driver.h"

#include <optional>
#include <utility>

#include "server/records/command_codes.h"
#include "server/ups/halvora_commands.h"
#include "server/ups/halvora_replies.h"
#include "server/ups/halvora_requests.h"
#include "server/ups/quadrel_frame.h"

namespace keep::server {

std::string HalvoraDriver::Init(DriverContext& /*context*/) { return std::string(kQuadrelWakeUpLength, '\0'); }

bool HalvoraDriver::BuildCommand(DriverContext& context) {
  BuildHalvoraExchanges(context, protocol_);
  return !context.UpsCommand.Exchange.Queue.empty();
}

void HalvoraDriver::BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) {
  expect_reply = 1;
  delay_ms = 0;
  context.ReplyTimeout = context.Server.ModelTime1;
  TUpsManUpsCommand& exchange = context.UpsCommand.Exchange;
  if (exchange.Queue.empty()) {
    exchange.Frame.clear();
    return;
  }
  const HalvoraItem item = ParseHalvoraItem(exchange.Queue.front());
  exchange.ProtoCmd = item.cmd;
  // The short battery test answers only when it is over.
  if (item.cmd == kHalvoraBatteryTest && context.UpsCommand.Code == kCodeBatteryTest) {
    context.ReplyTimeout = context.Server.ModelTime2;
  }
  exchange.Frame = BuildQuadrelFrame(item.cmd, HalvoraDataBytes(context, item));
}

bool HalvoraDriver::Parse(DriverContext& context, std::string& buffer) {
  TUpsManUpsCommand& exchange = context.UpsCommand.Exchange;
  if (exchange.Queue.empty()) return false;

  const uint8_t sent = static_cast<uint8_t>(exchange.ProtoCmd & 0xFF);
  std::string bytes;
  bool refused = false;
  if (TakeQuadrelReply(buffer, sent, bytes, refused) != QuadrelTake::kTaken) return false;
  const QuadrelReply reply(bytes);
  if (!reply.Has(1) || reply.Byte(1) != sent) return false;

  const HalvoraItem head = ParseHalvoraItem(exchange.Queue.front());
  std::optional<std::string> next;
  const bool stored = StoreHalvoraReply(context, HalvoraReplyInput{head.hint, refused}, reply, next);
  if (next) exchange.Queue.insert(exchange.Queue.begin() + 1, std::move(*next));
  return stored;
}

}  // namespace keep::server

#include "server/ups/quadrel_driver.h"

#include <optional>
#include <utility>
#include <vector>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/ups/quadrel_commands.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/quadrel_replies.h"

namespace keep::server {
namespace {

std::vector<int64_t> ItemNumbers(const std::string& item) {
  TStringList parts;
  SplitText(',', item, parts, true);
  std::vector<int64_t> numbers;
  numbers.reserve(parts.size());
  for (const std::string& part : parts) {
    int64_t value = 0;
    numbers.push_back(ParseDecimalInt64(TrimBlanks(part), value) ? value : 0);
  }
  return numbers;
}

// The parameter commands answer each other: a read may come back as a write's echo and back.
bool Answers(uint8_t reply_cmd, uint8_t sent_cmd) {
  const auto parameter = [](uint8_t cmd) { return cmd == kQuadrelReadParameter || cmd == kQuadrelWriteParameter; };
  return reply_cmd == sent_cmd || (parameter(reply_cmd) && parameter(sent_cmd));
}

}  // namespace

int32_t QuadrelItemCommand(const std::string& item) {
  const std::vector<int64_t> numbers = ItemNumbers(item);
  return numbers.empty() ? 0 : static_cast<int32_t>(numbers.front() & 0xFF);
}

QuadrelDriver::QuadrelDriver(QuadrelServices services) : services_(std::move(services)) {}

std::string QuadrelDriver::Init(DriverContext& /*context*/) { return std::string(kQuadrelWakeUpLength, '\0'); }

bool QuadrelDriver::BuildCommand(DriverContext& context) {
  BuildQuadrelExchanges(context, services_.queue_internal_request);
  return !context.UpsCommand.Exchange.Queue.empty();
}

void QuadrelDriver::BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) {
  expect_reply = 1;
  delay_ms = 0;
  context.ReplyTimeout = context.Server.ModelTime1;
  TUpsManUpsCommand& exchange = context.UpsCommand.Exchange;
  if (exchange.Queue.empty()) {
    exchange.Frame.clear();
    return;
  }
  std::vector<int64_t> numbers = ItemNumbers(exchange.Queue.front());
  const int64_t cmd = numbers.empty() ? 0 : numbers.front();
  exchange.ProtoCmd = static_cast<int32_t>(cmd & 0xFF);
  if (!numbers.empty()) numbers.erase(numbers.begin());
  const uint8_t cmd_byte = static_cast<uint8_t>(exchange.ProtoCmd);
  exchange.Frame = BuildQuadrelFrame(cmd_byte, QuadrelDataBytes(cmd_byte, numbers));
}

bool QuadrelDriver::Parse(DriverContext& context, std::string& buffer) {
  TUpsManUpsCommand& exchange = context.UpsCommand.Exchange;
  if (exchange.Queue.empty()) return false;

  const uint8_t sent = static_cast<uint8_t>(exchange.ProtoCmd & 0xFF);
  std::string bytes;
  bool refused = false;
  if (TakeQuadrelReply(buffer, sent, bytes, refused) != QuadrelTake::kTaken) return false;
  const QuadrelReply reply(bytes);
  if (!reply.Has(1) || !Answers(reply.Byte(1), sent)) return false;

  // Copied: the queue may grow below.
  const std::string head = exchange.Queue.front();
  std::optional<std::string> next;
  const bool stored = StoreQuadrelReply(context, QuadrelReplyInput{head, services_.format}, reply, next);
  if (next) exchange.Queue.insert(exchange.Queue.begin() + 1, std::move(*next));
  return stored;
}

}  // namespace keep::server

#include "server/ups/quadrel_frame.h"

#include "common/text_lists.h"
#include "server/ups/quadrel_commands.h"

namespace keep::server {
namespace {

int64_t Field(const std::vector<int64_t>& fields, size_t index) { return index < fields.size() ? fields[index] : 0; }

}  // namespace

uint8_t FrameByte(int64_t value) { return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF); }

void AppendLittleEndian(std::vector<uint8_t>& data, int64_t value, int bytes) {
  const uint64_t bits = static_cast<uint64_t>(value);
  for (int i = 0; i < bytes; ++i) data.push_back(static_cast<uint8_t>((bits >> (8 * i)) & 0xFF));
}

uint8_t QuadrelBcd(int64_t value) {
  const int64_t two_digits = ((value % 100) + 100) % 100;
  return static_cast<uint8_t>((two_digits / 10) * 16 + two_digits % 10);
}

std::string QuadrelBcdText(uint8_t raw) {
  const unsigned high = raw >> 4;
  const unsigned low = raw & 0x0Fu;
  if (high > 9 || low > 9) return "&";
  return std::string{static_cast<char>('0' + high), static_cast<char>('0' + low)};
}

QuadrelTake TakeQuadrelReply(std::string& buffer, uint8_t sent, std::string& reply, bool& refused) {
  const QuadrelTake take = TakeQuadrelFrame(buffer, reply);
  refused = take == QuadrelTake::kTaken && reply.size() >= 2 && reply[0] == kQuadrelRefusal[0] &&
            reply[1] == kQuadrelRefusal[1];
  if (refused) reply.insert(reply.begin(), static_cast<char>(sent));
  return take;
}

uint8_t QuadrelChecksum(uint8_t len, std::string_view counted) {
  unsigned sum = len;
  for (char c : counted) sum += static_cast<unsigned char>(c);
  return static_cast<uint8_t>(sum & 0xFF);
}

std::string BuildQuadrelFrame(uint8_t cmd, const std::vector<uint8_t>& data) {
  std::string frame;
  frame.reserve(data.size() + 4);
  frame += static_cast<char>(kQuadrelStart);
  // Data lengths come from QuadrelDataBytes and stay far below what LEN can count.
  const uint8_t len = static_cast<uint8_t>((data.size() + 2) & 0xFF);
  frame += static_cast<char>(len);
  frame += static_cast<char>(cmd);
  for (uint8_t byte : data) frame += static_cast<char>(byte);
  frame += static_cast<char>(QuadrelChecksum(len, std::string_view(frame).substr(kQuadrelFrameOverhead)));
  return frame;
}

std::vector<uint8_t> QuadrelDataBytes(uint8_t cmd, const std::vector<int64_t>& fields) {
  std::vector<uint8_t> data;
  switch (cmd) {
    case kQuadrelIdentification:
    case kQuadrelStatus:
    case kQuadrelBattery:
    case kQuadrelModuleAlarms:
    case kQuadrelOutputStates:
      data = {0};
      break;
    case kQuadrelModuleInfo:
    case kQuadrelOutputPhase:
    case kQuadrelInputPhase:
    case kQuadrelModuleMain:
    case kQuadrelModuleOutput:
    case kQuadrelModuleInput:
    case kQuadrelModuleBattery:
    case kQuadrelModuleHardware:
    case kQuadrelModuleHistory:
    case kQuadrelBeeper:
    case kQuadrelAlarmTexts:
    case kQuadrelEventReset:
    case kQuadrelEventTexts:
    case kQuadrelForcedBypass:
    case kQuadrelBatteryTest:
      data = {0, FrameByte(Field(fields, 0))};
      break;
    case kQuadrelEventLog:
    case kQuadrelOutputOnOff:
      data = {0, FrameByte(Field(fields, 0)), FrameByte(Field(fields, 1))};
      break;
    case kQuadrelReadParameter:
      data = {0};
      AppendLittleEndian(data, Field(fields, 0), 2);
      break;
    case kQuadrelWriteParameter:
      data = {0};
      AppendLittleEndian(data, Field(fields, 0), 2);
      AppendLittleEndian(data, Field(fields, 1), 4);
      break;
    case kQuadrelTimer:
      data = {FrameByte(Field(fields, 0))};
      AppendLittleEndian(data, Field(fields, 1), 4);
      break;
    case kQuadrelClock:
      for (size_t i = 0; i < 8; ++i) data.push_back(FrameByte(Field(fields, i)));
      break;
    default:
      break;
  }
  return data;
}

QuadrelTake TakeQuadrelFrame(std::string& buffer, std::string& reply) {
  reply.clear();
  const size_t start = buffer.find(static_cast<char>(kQuadrelStart));
  if (start == std::string::npos) {
    buffer.clear();
    return QuadrelTake::kNoStart;
  }
  buffer.erase(0, start);
  if (buffer.size() < 3) return QuadrelTake::kIncomplete;
  const size_t len = static_cast<unsigned char>(buffer[1]);
  if (buffer.size() < len + kQuadrelFrameOverhead) return QuadrelTake::kIncomplete;

  const std::string counted = buffer.substr(kQuadrelFrameOverhead, len);
  buffer.erase(0, len + kQuadrelFrameOverhead);
  if (counted.empty()) return QuadrelTake::kBadChecksum;
  const std::string_view body = std::string_view(counted).substr(0, counted.size() - 1);
  if (QuadrelChecksum(static_cast<uint8_t>(len), body) != static_cast<unsigned char>(counted.back())) {
    return QuadrelTake::kBadChecksum;
  }
  reply.assign(body);
  return QuadrelTake::kTaken;
}

std::string QuadrelReply::Text(size_t first, size_t last) const {
  if (first < 1 || first > bytes_.size() || last < first) return "&";
  const size_t end = last < bytes_.size() ? last : bytes_.size();
  const std::string_view text = TrimBlanks(bytes_.substr(first - 1, end - first + 1));
  return text.empty() ? std::string("&") : std::string(text);
}

}  // namespace keep::server

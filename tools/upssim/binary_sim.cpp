#include "tools/upssim/binary_sim.h"

namespace keep::tools {
namespace {

uint8_t Byte(char c) { return static_cast<uint8_t>(c); }

uint8_t Checksum(uint8_t len, std::string_view body) {
  unsigned sum = len;
  for (const char c : body) sum += Byte(c);
  return static_cast<uint8_t>(sum % 256);
}

}  // namespace

std::string BinaryFrame(uint8_t cmd, std::string_view data) {
  const auto len = static_cast<uint8_t>(data.size() + 2);
  std::string body(1, static_cast<char>(cmd));
  body.append(data);
  std::string frame{kBinaryStart, static_cast<char>(len)};
  frame += body;
  frame += static_cast<char>(Checksum(len, body));
  return frame;
}

std::string BinaryRefusalFrame() {
  constexpr std::string_view kRefusal = "Ko";
  std::string frame{kBinaryStart, static_cast<char>(kRefusal.size() + 1)};
  frame += kRefusal;
  frame += static_cast<char>(Checksum(static_cast<uint8_t>(kRefusal.size() + 1), kRefusal));
  return frame;
}

std::string PrintableRequest(const BinaryRequest& request) {
  std::string text = std::to_string(request.cmd);
  for (const char c : request.data) text += " " + std::to_string(Byte(c));
  return text;
}

BinarySim::BinarySim(std::unique_ptr<BinaryDialect> dialect) : dialect_(std::move(dialect)) {}

std::vector<SimExchange> BinarySim::OnBytes(std::string_view in, SimState& state, int64_t now_ms) {
  std::vector<SimExchange> exchanges;
  if (in.empty()) return exchanges;
  if (!pending_.empty() && now_ms - last_byte_ms_ > kRequestGapMs) pending_.clear();
  last_byte_ms_ = now_ms;
  for (const char c : in) {
    if (pending_.empty() && c != kBinaryStart) continue;
    // Settling after every byte keeps pending_ within one request's length.
    pending_ += c;
    TakeRequests(exchanges, state, now_ms);
  }
  return exchanges;
}

void BinarySim::Reset() { pending_.clear(); }

void BinarySim::TakeRequests(std::vector<SimExchange>& exchanges, SimState& state, int64_t now_ms) {
  // Drops the start byte of a frame that turned out wrong; the bytes after it may hold a good one.
  const auto resync = [this] {
    const size_t next = pending_.find(kBinaryStart, 1);
    pending_.erase(0, next == std::string::npos ? pending_.size() : next);
  };
  while (pending_.size() >= 2) {
    const size_t len = Byte(pending_[1]);
    if (len < 2 || len > kMaxRequestLen) {
      resync();
      continue;
    }
    if (pending_.size() < len + 2) return;
    const std::string_view body = std::string_view(pending_).substr(2, len - 1);
    if (Checksum(static_cast<uint8_t>(len), body) != Byte(pending_[len + 1])) {
      resync();
      continue;
    }
    BinaryRequest request{Byte(body[0]), std::string(body.substr(1))};
    pending_.erase(0, len + 2);
    exchanges.push_back(Exchange(request, state, now_ms));
  }
}

SimExchange BinarySim::Exchange(const BinaryRequest& request, SimState& state, int64_t now_ms) {
  SimExchange exchange{PrintableRequest(request), std::string()};
  if (state.refused_commands.test(request.cmd)) {
    exchange.answer = BinaryRefusalFrame();
    return exchange;
  }
  const std::optional<std::string> data = dialect_->Answer(request, state, now_ms);
  // A reply too long for its LEN byte would be a dialect's mistake; staying silent shows it.
  if (data && data->size() <= kMaxReplyData) exchange.answer = BinaryFrame(request.cmd, *data);
  return exchange;
}

}  // namespace keep::tools

#include "tests/support/scripted_ups.h"

#include <memory>

namespace keep::test {

std::string LinkRecord::Sent() const {
  std::string all;
  for (const auto& [at, text] : sent) all += text;
  return all;
}

std::string LinkRecord::Last() const { return sent.empty() ? std::string() : sent.back().second; }

int ScriptedLink::Open() {
  ++record_.opens;
  return 0;
}

void ScriptedLink::Send(std::string_view text) { record_.sent.emplace_back(clock_.NowMs(), std::string(text)); }

std::string ScriptedDriver::Init(server::DriverContext&) {
  ++inits;
  return "\r";
}

bool ScriptedDriver::BuildCommand(server::DriverContext& c) {
  TStringList& queue = c.UpsCommand.Exchange.Queue;
  const auto script = scripts.find(c.UpsCommand.Code);
  if (script != scripts.end()) queue = script->second;
  return !queue.empty();
}

void ScriptedDriver::BuildNext(server::DriverContext& c, uint8_t& expect_reply, int32_t& delay_ms) {
  const std::string& head = c.UpsCommand.Exchange.Queue.front();
  c.ReplyTimeout = 500;
  c.UpsCommand.Exchange.Frame = head + "\r";
  expect_reply = head == "T" ? 0 : 1;
  delay_ms = head == "T" ? 12000 : 0;
}

bool ScriptedDriver::Parse(server::DriverContext& c, std::string& buffer) {
  const size_t cr = buffer.find('\r');
  if (cr == std::string::npos) return false;
  const std::string line = buffer.substr(0, cr);
  buffer.erase(0, cr + 1);
  return line == "ok-" + c.UpsCommand.Exchange.Queue.front();
}

void UseScriptedUps(server::UpsManager& manager, LinkRecord& record, const platform::MonotonicClock& clock,
                    ScriptedDriver** driver, bool with_driver, bool reopens) {
  manager.SetLinkFactory([&record, &clock, reopens](uint8_t, platform::EventLoop&, server::ReceiveHandler) {
    return std::make_unique<ScriptedLink>(record, clock, reopens);
  });
  manager.SetDriverFactory([driver, with_driver](int32_t) -> std::unique_ptr<server::ProtocolDriver> {
    if (!with_driver) return nullptr;
    auto made = std::make_unique<ScriptedDriver>();
    if (driver != nullptr) *driver = made.get();
    return made;
  });
}

std::string ReplyTo(const std::string& sent) {
  std::string query = sent;
  if (!query.empty() && query.back() == '\r') query.pop_back();
  return "ok-" + query + "\r";
}

}  // namespace keep::test

#include "console/receive_thread.h"

#include "common/scrambling.h"
#include "console/message_parser.h"

namespace keep::console {

namespace {

// How long one read waits before the thread looks at its stop request again.
constexpr int kReadStepMs = 100;

}  // namespace

ReceiveThread::ReceiveThread(ServerLink& link, ClientState& state, RenderStyle style, ShowFn show)
    : link_(link), state_(state), style_(std::move(style)), show_(std::move(show)) {
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

ReceiveThread::~ReceiveThread() { Stop(); }

void ReceiveThread::Stop() {
  if (!thread_.joinable()) return;
  thread_.request_stop();
  thread_.join();
}

void ReceiveThread::Run(std::stop_token stop) {
  std::string line;
  while (!stop.stop_requested()) {
    if (!link_.Connected()) break;
    const LinkRead read = link_.ReadLine(&line, kReadStepMs);
    if (read == LinkRead::kClosed) break;
    if (read != LinkRead::kLine || stop.stop_requested()) continue;
    try {
      Handle(line, stop);
    } catch (...) {
      // One bad message must not end the reading of the following ones.
    }
  }
  ended_ = true;
}

void ReceiveThread::Handle(const std::string& line, std::stop_token stop) {
  const std::string plain = UnscrambleText(line);
  const ParseResult result = state_.Update([&](ConsoleData& data) { return ParseMessage(plain, data, style_); });
  if (result.ups_present) state_.ups_present = *result.ups_present;
  // Only the answer of the request being waited for releases the wait: an answer sent to every
  // client meanwhile must not let a screen show data its own request has not brought yet. The flag
  // is only ever set here (the menu thread clears it before sending), so a message that follows
  // the answer cannot take it back.
  if (result.answer && result.code == state_.pending_code.load()) state_.answer_received = true;
  if (result.broadcast && show_) show_(*result.broadcast, stop);
}

}  // namespace keep::console

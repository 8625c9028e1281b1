#include "tools/upssim/simulator.h"

#include <algorithm>

namespace keep::tools {

Simulator::Simulator(std::unique_ptr<SimProtocol> protocol, SimState state)
    : protocol_(std::move(protocol)), state_(std::move(state)) {}

std::vector<std::string> Simulator::OnLinkBytes(std::string_view bytes, int64_t now_ms) {
  std::vector<std::string> received;
  for (SimExchange& exchange : protocol_->OnBytes(bytes, state_, now_ms)) {
    if (queries_.size() == kQueryLogLimit) queries_.pop_front();
    queries_.push_back(exchange.query);
    received.push_back(std::move(exchange.query));
    if (!exchange.answer.empty() && !faults_.silent) Plan(std::move(exchange.answer), now_ms);
  }
  return received;
}

void Simulator::Plan(std::string answer, int64_t now_ms) {
  if (faults_.garbage) answer.insert(0, kGarbageBytes);
  if (planned_bytes_ + answer.size() > kPlannedBytesLimit) return;
  planned_bytes_ += answer.size();

  // TakeDue hands pieces out in planning order, so an answer planned under a shorter delay waits
  // behind the earlier ones instead of overtaking them.
  int64_t due = now_ms + std::max(faults_.delay_ms, 0);
  const size_t pieces = std::clamp<size_t>(static_cast<size_t>(std::max(faults_.split_pieces, 1)), 1, answer.size());
  const size_t base = answer.size() / pieces;
  const size_t longer = answer.size() % pieces;  // the first pieces carry one byte more
  size_t at = 0;
  for (size_t i = 0; i < pieces; ++i) {
    const size_t length = base + (i < longer ? 1 : 0);
    if (i > 0) due += std::max(faults_.split_gap_ms, 0);
    planned_.push_back({due, answer.substr(at, length)});
    at += length;
  }
}

std::string Simulator::TakeDue(int64_t now_ms) {
  std::string due;
  while (!planned_.empty() && planned_.front().due_ms <= now_ms) {
    due += planned_.front().bytes;
    planned_bytes_ -= planned_.front().bytes.size();
    planned_.pop_front();
  }
  return due;
}

std::optional<int64_t> Simulator::NextDueMs() const {
  if (planned_.empty()) return std::nullopt;
  return planned_.front().due_ms;
}

void Simulator::ResetLink() {
  protocol_->Reset();
  planned_.clear();
  planned_bytes_ = 0;
}

}  // namespace keep::tools

// The binary UPS protocols as the simulator speaks them: the frame of binary_dialect.h in both
// directions, with the answers left to a BinaryDialect.
//
// Receiving: bytes before a start byte (the peer's wake-up zeros, line noise) are skipped; a LEN
// below 2 or above kMaxRequestLen cannot start a request and its start byte is skipped; a frame
// whose checksum does not add up gets no answer, as a UPS drops it, and the search for a start
// byte goes on from the byte after the one it began with, so a good request right behind a damaged
// one is still found. A partial request left waiting longer than kRequestGapMs is forgotten before
// newer bytes are taken, as a UPS's receiver times out between bytes. The framing state never holds
// more than one request's bytes.
//
// Each request is recorded as its command number and data bytes in decimal separated by one blank
// ("23 230 0 0 0 2"; "3" without data). A command listed in SimState::refused_commands is answered
// by the refusal frame without reaching the dialect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/sim_protocol.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

inline constexpr char kBinaryStart = 2;
// The longest request LEN this UPS takes; the peer's requests carry at most a few data bytes.
inline constexpr std::size_t kMaxRequestLen = 64;
// The most data bytes a reply can carry: its LEN (data + 2) is one byte.
inline constexpr std::size_t kMaxReplyData = 253;
// A partial request older than this when new bytes arrive is dropped.
inline constexpr int64_t kRequestGapMs = 500;

// 2, LEN, `cmd`, `data`, CHK; `data` must not exceed kMaxReplyData.
std::string BinaryFrame(uint8_t cmd, std::string_view data);
// 2, 3, 'K', 'o', CHK.
std::string BinaryRefusalFrame();
// "23 230 0 0 0 2".
std::string PrintableRequest(const BinaryRequest& request);

class BinarySim final : public SimProtocol {
 public:
  // `dialect` must not be null.
  explicit BinarySim(std::unique_ptr<BinaryDialect> dialect);

  std::vector<SimExchange> OnBytes(std::string_view in, SimState& state, int64_t now_ms) override;
  void Reset() override;

 private:
  // Takes the complete requests off the front of pending_, leaving at most one partial request.
  void TakeRequests(std::vector<SimExchange>& exchanges, SimState& state, int64_t now_ms);
  SimExchange Exchange(const BinaryRequest& request, SimState& state, int64_t now_ms);

  std::unique_ptr<BinaryDialect> dialect_;
  std::string pending_;  // starts with a start byte when not empty
  int64_t last_byte_ms_ = 0;
};

}  // namespace keep::tools

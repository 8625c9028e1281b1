// Replies of the ASCII query protocol come from a serial line, a network adapter or a USB device and
// may be noise, cut anywhere or hostile. Parsing them must never crash, never grow the buffer, and
// consume exactly what the reply format says: nothing, the noise before a marker, or everything up
// to and including the line's carriage return. Input: byte 0 picks the protocol number, byte 1 the
// query on the wire, byte 2 how many split points follow (one byte each); the rest is the received
// text, handed over in the pieces those points cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_lists.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/megatec_driver.h"
#include "server/ups/ups_data.h"

namespace {

using keep::server::MegatecDriver;

void Check(bool ok) {
  if (!ok) std::abort();
}

// An integer as RoundedText writes it: digits, a "-" only before a non-zero value.
bool IsIntegerText(std::string_view text) {
  if (!text.empty() && text.front() == '-') {
    text.remove_prefix(1);
    if (text == "0") return false;
  }
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What the buffer must hold after one Parse call on `before`.
void CheckConsumption(const std::string& before, const std::string& after, bool accepted) {
  const size_t marker = before.find_first_of("(#");
  if (marker == std::string::npos) {
    Check(!accepted && after == before);
    return;
  }
  const size_t end = before.find('\r', marker);
  if (end == std::string::npos) {
    Check(!accepted && after == before.substr(marker));
    return;
  }
  Check(after == before.substr(end + 1));
}

void CheckStored(const keep::server::TUpsData& ups, const std::string& head, const std::string& poll) {
  if (head == poll) {
    const std::string_view status = ups.Main.UpsStatus.view();
    Check(status == "" || status == "0" || status == "1" || status == "2" || status == "3");
    Check(IsIntegerText(ups.Input.PhaseR.Voltage));
    Check(IsIntegerText(ups.Output.PhaseR.Voltage));
    Check(ups.Battery.Voltage == "&" || ups.Battery.Voltage == "@" || IsIntegerText(ups.Battery.Voltage));
    Check(ups.Main.Temperature.find_first_of(".,") == std::string::npos);
  } else if (head == "I") {
    // Blanks may stand inside ("V 1.2" read by its columns), never at either end; never the line's end.
    const std::string& version = ups.Info.FirmwareVersion;
    Check(!version.empty() && !keep::IsBlankOrControl(version.front()) && !keep::IsBlankOrControl(version.back()));
    Check(version.find('\r') == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  constexpr int32_t kProtocols[] = {1, 3, 7, 8};
  MegatecDriver driver(kProtocols[data[0] % 4]);
  const std::string head = data[1] % 3 == 0 ? driver.PollCmd() : data[1] % 3 == 1 ? "I" : "F";
  const size_t split_count = std::min<size_t>(data[2] % 8, size - 3);
  std::vector<size_t> splits(data + 3, data + 3 + split_count);
  const std::string text(reinterpret_cast<const char*>(data) + 3 + split_count, size - 3 - split_count);

  keep::server::TUpsManCommandRecord command;
  uint16_t reply_timeout = 0;
  keep::server::TUpsData ups;
  keep::server::TSetupData setup;
  keep::server::TServerData server;
  keep::server::DriverContext context{command, reply_timeout, ups, setup, server};
  driver.Init(context);

  std::string buffer;
  size_t start = 0;
  splits.push_back(text.size());
  for (size_t cut : splits) {
    const size_t stop = std::clamp(cut, start, text.size());
    buffer.append(text, start, stop - start);
    start = stop;
    // Every complete line that the buffer holds, as the manager would see them over several replies.
    for (bool accepted = true; accepted;) {
      command.Exchange.Queue = {head};
      const std::string before = buffer;
      accepted = driver.Parse(context, buffer);
      Check(buffer.size() <= before.size());
      CheckConsumption(before, buffer, accepted);
      Check(command.Exchange.Queue.size() == 1 && command.Exchange.Queue.front() == head);
      if (accepted) CheckStored(ups, head, driver.PollCmd());
      // A malformed line was consumed as well; the next one may still be good.
      if (!accepted && buffer.size() < before.size() && buffer.find('\r') != std::string::npos) accepted = true;
    }
  }
  return 0;
}

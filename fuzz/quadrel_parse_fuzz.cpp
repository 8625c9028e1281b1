// Replies of the binary modular-UPS protocol come from a serial line or a network adapter and may be
// noise, cut anywhere or hostile. Parsing them must never read past the buffer, must only ever remove
// bytes from the buffer's front, and may add at most one exchange right after the one in progress.
// Frames the driver builds itself must pass its own checksum rule. Input: byte 0 the command on the
// wire, bytes 1-4 two fields of its queue item, byte 5 where the received text is cut in two and
// what the data already holds; the rest is the received text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/quadrel_driver.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/ups_data.h"

namespace {

using keep::server::QuadrelDriver;

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint8_t kCommands[] = {1,  8,  32, 33, 34, 35, 40, 41,  42,  43,  44,  45,  64, 65,
                                 66, 67, 68, 96, 97, 98, 99, 100, 162, 163, 164, 165, 200};

bool EndsWith(const std::string& text, const std::string& tail) {
  return tail.size() <= text.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const uint8_t cmd = kCommands[data[0] % sizeof kCommands];
  const int f1 = static_cast<int16_t>(data[1] | (data[2] << 8));
  const int f2 = static_cast<int16_t>(data[3] | (data[4] << 8));
  const std::string head = std::to_string(cmd) + "," + std::to_string(f1) + "," + std::to_string(f2);
  const std::string text(reinterpret_cast<const char*>(data) + 6, size - 6);
  const size_t cut = text.empty() ? 0 : data[5] % (text.size() + 1);

  keep::server::TUpsManCommandRecord command;
  uint16_t reply_timeout = 0;
  keep::server::TUpsData ups;
  keep::server::TSetupData setup;
  keep::server::TServerData server;
  keep::server::DriverContext context{command, reply_timeout, ups, setup, server};
  QuadrelDriver driver;
  ups.Info.ModuleCount = "-1";
  ups.Info.BatteryBlocks = (data[5] & 1) != 0 ? 254 : 20;
  ups.Test.BatteryTestState = (data[5] & 2) != 0 ? "1" : "0";
  ups.Battery.BatteryStrings = (data[5] & 4) != 0 ? "3" : "&";

  // The frame BuildNext sends passes the checksum rule the parser applies.
  command.Exchange.Queue = {head, "later"};
  uint8_t expect = 0;
  int32_t delay = 0;
  driver.BuildNext(context, expect, delay);
  Check(expect == 1 && delay == 0 && command.Exchange.ProtoCmd == cmd);
  std::string sent = command.Exchange.Frame;
  std::string reply;
  Check(keep::server::TakeQuadrelFrame(sent, reply) == keep::server::QuadrelTake::kTaken);
  Check(sent.empty() && static_cast<uint8_t>(reply.at(0)) == cmd);
  Check(reply == command.Exchange.Frame.substr(2, command.Exchange.Frame.size() - 3));

  std::string buffer;
  for (const std::string_view piece : {std::string_view(text).substr(0, cut), std::string_view(text).substr(cut)}) {
    buffer.append(piece);
    for (int round = 0; round < 64; ++round) {
      const std::string before = buffer;
      const size_t queued = command.Exchange.Queue.size();
      const bool accepted = driver.Parse(context, buffer);
      Check(buffer.size() <= before.size() && EndsWith(before, buffer));
      Check(command.Exchange.Queue.front() == head);
      Check(command.Exchange.Queue.size() == queued || (accepted && command.Exchange.Queue.size() == queued + 1));
      Check(command.Exchange.Queue.back() == "later");
      Check(ups.Main.LoadR >= -2.0f && ups.Main.LoadS >= -2.0f && ups.Main.LoadT >= -2.0f);
      if (buffer.size() == before.size()) break;
    }
  }
  return 0;
}

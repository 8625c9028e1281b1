// Replies of the binary single-phase UPS protocol come from a serial line or a network adapter and
// may be noise, cut anywhere or hostile. Parsing them must never read past the buffer, must only
// ever remove bytes from the buffer's front, may add at most one exchange right after the one in
// progress, and must keep the lists it fills within their bounds however long the UPS goes on.
// Input: byte 0 the command on the wire, byte 1 the request in progress and the number of its
// queue item, byte 2 the protocol number, byte 3 where the received text is cut in two and the
// flags the storing reads; the rest is the received text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/halvora_commands.h"
#include "server/ups/halvora_driver.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/ups_data.h"

namespace {

using keep::server::HalvoraDriver;

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr int kRequests[] = {1, 2, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113,
                             300, 301, 302, 303, 304, 305, 306, 307, 308, 400, 401};
constexpr int kProtocols[] = {0, 2, 5, 6};

bool EndsWith(const std::string& text, const std::string& tail) {
  return tail.size() <= text.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t cmd = static_cast<uint8_t>(data[0] % 60);
  const int request = kRequests[data[1] % (sizeof kRequests / sizeof kRequests[0])];
  const int hint = data[1] >> 5;
  const int protocol = kProtocols[data[2] % 4];
  const std::string head = hint == 0 ? std::to_string(cmd) : std::to_string(cmd) + "," + std::to_string(hint);
  const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
  const size_t cut = text.empty() ? 0 : data[3] % (text.size() + 1);

  keep::server::TUpsManCommandRecord command;
  uint16_t reply_timeout = 0;
  keep::server::TUpsData ups;
  keep::server::TSetupData setup;
  keep::server::TServerData server;
  keep::server::DriverContext context{command, reply_timeout, ups, setup, server};
  HalvoraDriver driver(protocol);
  command.Code = request;
  command.Args = {std::to_string(request), "1", "&", "0,*,15,*,7,30,1", "x"};
  ups.Info.ModuleCount = (data[3] & 1) != 0 ? "1" : "&";
  ups.Info.ActiveNominalPower = "3000";
  server.ProtocolReset = (data[3] & 2) != 0;

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
      Check(ups.Events.Items.size() <= keep::server::kHalvoraMaxEvents);
      Check(ups.Calendar.Steps.size() <= keep::server::kHalvoraMaxCalendarSteps);
      // The manager takes the head off after an accepted reply; the next one may ask for more.
      if (accepted && command.Exchange.Queue.size() > 2) command.Exchange.Queue.erase(command.Exchange.Queue.begin() + 1);
      if (buffer.size() == before.size()) break;
    }
  }
  return 0;
}

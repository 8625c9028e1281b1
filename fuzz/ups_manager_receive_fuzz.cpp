// Arbitrary bytes, split at arbitrary points, through the UPS manager's receive entry with the
// Megatec driver, interleaved with commands and time passing (reply time-outs, wake-ups).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_server.h"
#include "server/services/server_context.h"
#include "server/ups/ups_manager.h"

namespace {

using namespace keep;
using namespace keep::server;

class SilentLink final : public UpsLink {
 public:
  int Create(const TSetupData&, TLogger*) override { return 0; }
  int Open() override { return 0; }
  void Send(std::string_view text) override { sent += text.size(); }
  void Free() override {}
  size_t sent = 0;
};

constexpr int32_t kProtocols[] = {1, 3, 7, 8};
const char* const kCommands[] = {"100", "101", "1", "2", "110", "303", "400", "999"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::FuzzServer server;
  ServerContext& context = server.context;
  platform::ManualClock& clock = server.clock;
  platform::EventLoop& loop = server.loop;
  context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = kProtocols[data[0] % 4];
  context.Setup.ServerSetup.UpsManType = (data[0] & 4) != 0 ? kLinkUsb : kLinkSerial;
  context.Server.ModelTime1 = 3000;
  context.Ups.Battery.NominalVoltage = static_cast<float>(data[1] % 50);

  UpsManager manager(UpsManagerContextOf(context));
  manager.SetLinkFactory([](uint8_t, platform::EventLoop&, ReceiveHandler) { return std::make_unique<SilentLink>(); });
  if (manager.CreateLink() != 0 || manager.ConnectLink() != 0) std::abort();
  manager.SendCommand({"100"});

  // Each chunk: a control byte, then up to 31 bytes of input. The control byte's high bits pick an
  // action besides delivering the bytes: a new command, or time passing.
  size_t at = 2;
  while (at < size) {
    const uint8_t control = data[at++];
    const size_t length = std::min<size_t>(control & 31, size - at);
    manager.OnReceive(std::string_view(reinterpret_cast<const char*>(data + at), length));
    at += length;
    if ((control & 0xE0) == 0x20 && !manager.Busy) {
      manager.SendCommand({kCommands[control % 8], "120", "600"});
    } else if ((control & 0xE0) == 0x40) {
      clock.AdvanceMs(2500);
      loop.RunDue();
    }
    if (manager.RxBuffer.size() > kRxBufferLimit) std::abort();
    if (manager.TimeoutCount > kTimeoutsBeforeCommLost) std::abort();
  }
  manager.CloseLink();
  return 0;
}

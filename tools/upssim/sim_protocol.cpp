#include "tools/upssim/sim_protocol.h"

#include "tools/upssim/megatec_sim.h"

namespace keep::tools {

bool IsSimProtocolSupported(int number) { return IsMegatecVariant(number); }

std::unique_ptr<SimProtocol> CreateSimProtocol(int number) {
  if (IsMegatecVariant(number)) return std::make_unique<MegatecSim>(number);
  return nullptr;
}

}  // namespace keep::tools

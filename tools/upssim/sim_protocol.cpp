#include "tools/upssim/sim_protocol.h"

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/binary_sim.h"
#include "tools/upssim/megatec_sim.h"

namespace keep::tools {
namespace {

// The binary protocols: each number with the dialect that answers it.
struct BinaryProtocol {
  int number;
  std::unique_ptr<BinaryDialect> (*dialect)(int number);
};

constexpr BinaryProtocol kBinaryProtocols[] = {
    {0, &CreateHalvoraDialect}, {2, &CreateHalvoraDialect},
    {4, [](int) { return CreateQuadrelDialect(); }},
    {5, &CreateHalvoraDialect}, {6, &CreateHalvoraDialect},
};

const BinaryProtocol* FindBinary(int number) {
  for (const BinaryProtocol& protocol : kBinaryProtocols) {
    if (protocol.number == number) return &protocol;
  }
  return nullptr;
}

}  // namespace

bool IsSimProtocolSupported(int number) { return IsMegatecVariant(number) || FindBinary(number) != nullptr; }

std::unique_ptr<SimProtocol> CreateSimProtocol(int number) {
  if (IsMegatecVariant(number)) return std::make_unique<MegatecSim>(number);
  if (const BinaryProtocol* binary = FindBinary(number)) return std::make_unique<BinarySim>(binary->dialect(number));
  return nullptr;
}

std::vector<int> SupportedSimProtocols() {
  std::vector<int> numbers;
  for (int number = 0; number <= kHighestSimProtocol; ++number) {
    if (IsSimProtocolSupported(number)) numbers.push_back(number);
  }
  return numbers;
}

}  // namespace keep::tools

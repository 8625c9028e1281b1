// Windows sets no per-process count of open sockets (they are bounded by memory alone) and the loop's
// WSAPoll takes any number, so there is no limit to raise or report.
#include <cstdint>

#include "platform/descriptor_limit.h"

namespace keep::platform {

uint64_t RaiseDescriptorLimit() { return 0; }

}  // namespace keep::platform

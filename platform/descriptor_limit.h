// The number of descriptors (files, sockets, pipes) the process may hold open at once.
#pragma once

#include <cstdint>

namespace keep::platform {

// Raises the process's own limit of open descriptors as far as the system lets it (the hard limit,
// where one is set), and returns the limit in force afterwards; 0 when it cannot be read. A service
// started with the usual default of 1,024 can then serve many more clients.
uint64_t RaiseDescriptorLimit();

}  // namespace keep::platform

// The simulator as a program: the link (a pseudo-terminal or a loopback TCP port), the control port,
// commands typed on a terminal, the record file and the stop signals, all served by one poll loop on
// the calling thread, with the real monotonic clock.
#pragma once

#include "tools/upssim/sim_options.h"

namespace keep::tools {

// Runs until SIGTERM, SIGINT or the control command "quit". Standard output receives, in this order
// and each flushed at once: "PTY <slave path>" or "TCP <port>", "CONTROL <port>" (with --control),
// "READY"; and the answers to commands typed on standard input when it is a terminal. Problems go to
// standard error. Returns the exit status: 0 after a clean end, 1 when something could not be set up.
// Call from the main thread before any other thread is started (it blocks SIGTERM and SIGINT to
// receive them in the loop).
int RunSimulator(const SimOptions& options);

}  // namespace keep::tools

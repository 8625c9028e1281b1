// upssim: a UPS on a pseudo-terminal or a loopback TCP port, for the tests and the demo. See
// tools/upssim/README.md. Exit status 0 after a clean end, 1 when the link or a port cannot be set
// up, 2 for a wrong command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/upssim/sim_options.h"
#include "tools/upssim/sim_runner.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const keep::tools::SimOptionsResult parsed = keep::tools::ParseSimOptions(arguments);
  if (parsed.help) {
    std::cout << keep::tools::SimUsage();
    return 0;
  }
  if (!parsed.error.empty()) {
    std::cerr << "upssim: " << parsed.error << "\n" << keep::tools::SimUsage();
    return 2;
  }
  return keep::tools::RunSimulator(parsed.options);
}

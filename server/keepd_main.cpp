// keepd: the UPS monitoring server.
#include <string>
#include <vector>

#include "server/core/server_process.h"

int main(int argc, char** argv) {
  std::vector<std::string> parameters(argv + 1, argv + argc);
  return keep::server::RunServerProcess(parameters);
}

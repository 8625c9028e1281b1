// A second program for the Windows platform tests, which start it and read what it wrote:
//   args <file> <words...>     writes each word it was given on a line of <file>
//   lock <file> <name>         takes the instance lock <name> and writes "acquired", "held" or "error"
//   hold <file> <name> <ms>    takes the lock, writes the result, then keeps it for <ms> milliseconds
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/instance_lock.h"

namespace {

const char* ResultName(keep::platform::InstanceLock::Result result) {
  switch (result) {
    case keep::platform::InstanceLock::Result::kAcquired:
      return "acquired";
    case keep::platform::InstanceLock::Result::kAlreadyHeld:
      return "held";
    case keep::platform::InstanceLock::Result::kError:
      break;
  }
  return "error";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  // Written under another name and renamed, so the test never reads a half-written file.
  const std::string file = argv[2];
  const std::string partial = file + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (mode == "args") {
      for (int i = 3; i < argc; ++i) out << argv[i] << '\n';
    } else if ((mode == "lock" || mode == "hold") && argc >= 4) {
      std::unique_ptr<keep::platform::InstanceLock> lock;
      const auto result = keep::platform::InstanceLock::Acquire("", argv[3], &lock, nullptr);
      out << ResultName(result) << '\n';
      out.close();
      std::rename(partial.c_str(), file.c_str());
      if (mode == "hold" && argc >= 5) std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[4])));
      return 0;
    } else {
      return 2;
    }
  }
  return std::rename(partial.c_str(), file.c_str()) == 0 ? 0 : 1;
}

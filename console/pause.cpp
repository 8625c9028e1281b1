#include "console/pause.h"

#include <chrono>
#include <thread>

namespace keep::console {

namespace {

class RealPause : public Pause {
 public:
  void Wait(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

std::unique_ptr<Pause> Pause::CreateReal() { return std::make_unique<RealPause>(); }

}  // namespace keep::console

// The console's waits between polls of the answer flag, injectable so that tests never sleep.
#pragma once

#include <memory>

namespace keep::console {

class Pause {
 public:
  virtual ~Pause() = default;
  // Waits about `ms` milliseconds. Called from the menu thread.
  virtual void Wait(int ms) = 0;

  // Real time.
  static std::unique_ptr<Pause> CreateReal();
};

}  // namespace keep::console

// What the Windows platform tests share: the helper program built beside them, a fresh folder per
// test, and waiting (bounded) for a file another process writes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/platform_info.h"

namespace keep::platform::wintest {

// The helper program, in the folder of the running test program.
inline std::string HelperPath() {
  return (std::filesystem::path(ExecutablePath()).parent_path() / KEEP_WIN_TEST_HELPER).string();
}

// A name no other test run uses at the same time (for folders, registry keys, mutexes).
inline std::string UniqueName(const std::string& prefix) {
  std::random_device random;
  std::ostringstream name;
  name << prefix << '-' << std::hex << random() << random();
  return name.str();
}

// A fresh folder, removed with everything in it when the object goes away.
class TempFolder {
 public:
  TempFolder() : path_(std::filesystem::temp_directory_path() / UniqueName("keep-win-test")) {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole text of `file` once it exists, or nothing after `limit`.
inline std::optional<std::string> WaitForFile(const std::string& file,
                                              std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(file, std::ios::binary);
    if (in) return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

}  // namespace keep::platform::wintest

#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace keep::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("keep-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileText(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileText(const std::string& file_name, const std::string& text) {
  std::ofstream out(file_name, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace keep::test

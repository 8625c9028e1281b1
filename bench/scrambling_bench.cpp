// Throughput of the text scrambling on client-sized frames and on model-database-sized lines.
// Prints figures only.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/scrambling.h"
#include "common/text_lists.h"

int main() {
  using Clock = std::chrono::steady_clock;
  for (size_t size : {64u, 4096u, 65536u}) {
    std::string plain(size, '\0');
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>('A' + i % 26);
    const int rounds = static_cast<int>(8 * 1024 * 1024 / size);
    size_t checksum = 0;
    const auto start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
      const std::string scrambled = keep::ScrambleText(plain);
      const std::string back = keep::UnscrambleText(scrambled);
      checksum += back.size() + static_cast<unsigned char>(scrambled[r % scrambled.size()]);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double mib = static_cast<double>(size) * rounds / (1024.0 * 1024.0);
    std::printf("scramble+unscramble %6zu bytes: %8.1f MiB/s  (%d rounds, checksum %zu)\n", size, mib / seconds, rounds,
                checksum);
  }
  return 0;
}

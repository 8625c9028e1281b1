// How long a mains failure takes to reach keepd's clients: TRIALS times, the simulator's mains are
// restored, then (at a random moment within keepd's poll period) cut; a client asks <|101|> every
// 2 ms and the time from the cut to the first answer whose status field changed is taken. Prints
// min/median/max. Needs keepd on the simulator (bench/mains_detection.sh sets both up).
//   detection_bench KEEPD-PORT SIMULATOR-CONTROL-PORT [TRIALS]     (default 10 trials)
// Prints figures only.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/scrambling.h"
#include "platform/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using keep::platform::TcpClient;

// One line from `client` (without CR LF); empty on time-out or a closed connection.
std::string ReadLine(TcpClient& client, std::string& pending) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    bool readable = false;
    if (client.WaitReadable(5000, &readable) != 0 || !readable) return {};
    char buffer[4096];
    int count = 0;
    if (client.Read(buffer, sizeof buffer, &count) != 0 || count == 0) return {};
    pending.append(buffer, static_cast<size_t>(count));
  }
}

bool SendLine(TcpClient& client, const std::string& line) {
  const std::string bytes = line + "\r\n";
  int sent = 0;
  return client.Send(bytes.data(), static_cast<int>(bytes.size()), 5000, &sent) == 0;
}

// The status field of keepd's <|101|status|...|> answer; empty when the answer is something else.
std::string AskStatus(TcpClient& keepd, std::string& pending) {
  if (!SendLine(keepd, keep::ScrambleText("<|101|>"))) return {};
  const std::string answer = keep::UnscrambleText(ReadLine(keepd, pending));
  if (answer.rfind("<|101|", 0) != 0) return {};
  const size_t end = answer.find('|', 6);
  return end == std::string::npos ? std::string() : answer.substr(6, end - 6);
}

bool Control(TcpClient& simulator, std::string& pending, const std::string& command) {
  return SendLine(simulator, command) && ReadLine(simulator, pending) == "OK";
}

// Asks every 2 ms until the status differs from `from` (true) or `limit` passes.
bool WaitForChange(TcpClient& keepd, std::string& pending, const std::string& from, std::chrono::seconds limit,
                   std::string* now) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    *now = AskStatus(keepd, pending);
    if (!now->empty() && *now != from) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int keepd_port = argc > 1 ? std::atoi(argv[1]) : 0;
  const int control_port = argc > 2 ? std::atoi(argv[2]) : 0;
  const int trials = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
  if (keepd_port <= 0 || keepd_port > 65535 || control_port <= 0 || control_port > 65535) {
    std::fprintf(stderr, "usage: detection_bench KEEPD-PORT SIMULATOR-CONTROL-PORT [TRIALS]\n");
    return 2;
  }
  const keep::platform::Ipv4Address loopback{{127, 0, 0, 1}};
  std::unique_ptr<TcpClient> keepd;
  std::unique_ptr<TcpClient> simulator;
  if (TcpClient::Connect(loopback, static_cast<uint16_t>(keepd_port), 5000, &keepd) != 0 ||
      TcpClient::Connect(loopback, static_cast<uint16_t>(control_port), 5000, &simulator) != 0) {
    std::fprintf(stderr, "cannot connect to keepd or to the simulator's control port\n");
    return 1;
  }
  std::string keepd_pending;
  std::string simulator_pending;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> phase_ms(0, 1000);
  std::vector<double> times_ms;
  for (int trial = 0; trial < trials; ++trial) {
    if (!Control(*simulator, simulator_pending, "set mains")) {
      std::fprintf(stderr, "the simulator refused 'set mains'\n");
      return 1;
    }
    // Settle on mains: the status stops changing for two seconds.
    std::string on_mains = AskStatus(*keepd, keepd_pending);
    std::string changed;
    while (WaitForChange(*keepd, keepd_pending, on_mains, std::chrono::seconds(2), &changed)) on_mains = changed;
    std::this_thread::sleep_for(std::chrono::milliseconds(phase_ms(random)));
    if (!Control(*simulator, simulator_pending, "set battery")) {
      std::fprintf(stderr, "the simulator refused 'set battery'\n");
      return 1;
    }
    const auto cut = Clock::now();
    if (!WaitForChange(*keepd, keepd_pending, on_mains, std::chrono::seconds(30), &changed)) {
      std::fprintf(stderr, "trial %d: keepd's clients never saw the mains failure\n", trial + 1);
      return 1;
    }
    times_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - cut).count());
    std::printf("trial %d: %.0f ms (status %s -> %s)\n", trial + 1, times_ms.back(), on_mains.c_str(),
                changed.c_str());
  }
  std::sort(times_ms.begin(), times_ms.end());
  const size_t n = times_ms.size();
  const double median = n % 2 == 1 ? times_ms[n / 2] : (times_ms[n / 2 - 1] + times_ms[n / 2]) / 2;
  std::printf("mains failure seen by a client after: min %.0f ms, median %.0f ms, max %.0f ms (%zu trials)\n",
              times_ms.front(), median, times_ms.back(), n);
  Control(*simulator, simulator_pending, "set mains");
  return 0;
}

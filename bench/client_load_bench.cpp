// Load on a running keepd: C clients, each sending <|101|> (scrambled, one line) and waiting for
// its answer, for D seconds; prints requests per second and the p50/p99 round-trip latency. IDLE more
// connections stay open throughout without asking anything, to show what they cost the busy ones.
//   client_load_bench [HOST] [PORT] [CLIENTS] [SECONDS] [IDLE]     (default 127.0.0.1 5769 10 5 0)
// Only loopback or the project's own test hosts are meant as targets. Prints figures only.
// keepd serves at most SrvMaxClients connections at once (256 unless the hive says more): with more
// clients plus idle ones than that, the surplus busy clients count as errors.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/scrambling.h"
#include "platform/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ClientResult {
  std::vector<double> latencies_ms;
  int errors = 0;
};

// Reads until one whole line (ending LF) arrived; false on time-out or a closed connection.
bool ReadLine(keep::platform::TcpClient& client, std::string& pending, std::string& line) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 1);
      return true;
    }
    bool readable = false;
    if (client.WaitReadable(5000, &readable) != 0 || !readable) return false;
    char buffer[4096];
    int count = 0;
    if (client.Read(buffer, sizeof buffer, &count) != 0 || count == 0) return false;
    pending.append(buffer, static_cast<size_t>(count));
  }
}

void RunClient(const keep::platform::Ipv4Address& address, uint16_t port, Clock::time_point until,
               ClientResult& result) {
  std::unique_ptr<keep::platform::TcpClient> client;
  if (keep::platform::TcpClient::Connect(address, port, 5000, &client) != 0) {
    ++result.errors;
    return;
  }
  const std::string request = keep::ScrambleText("<|101|>") + "\r\n";
  std::string pending;
  std::string line;
  while (Clock::now() < until) {
    const auto start = Clock::now();
    int sent = 0;
    if (client->Send(request.data(), static_cast<int>(request.size()), 5000, &sent) != 0 ||
        !ReadLine(*client, pending, line)) {
      ++result.errors;
      return;
    }
    result.latencies_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
}

double Percentile(std::vector<double>& values, double p) {
  if (values.empty()) return 0;
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
  const int port = argc > 2 ? std::atoi(argv[2]) : 5769;
  const int clients = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
  const int seconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  const int idle = argc > 5 ? std::max(0, std::atoi(argv[5])) : 0;
  keep::platform::Ipv4Address address;
  if (keep::platform::ResolveIpv4(host, true, &address) != 0 || port <= 0 || port > 65535) {
    std::fprintf(stderr, "usage: client_load_bench [IPV4-ADDRESS] [PORT] [CLIENTS] [SECONDS] [IDLE]\n");
    return 2;
  }
  std::vector<std::unique_ptr<keep::platform::TcpClient>> idle_clients;
  for (int i = 0; i < idle; ++i) {
    std::unique_ptr<keep::platform::TcpClient> client;
    if (keep::platform::TcpClient::Connect(address, static_cast<uint16_t>(port), 5000, &client) != 0) {
      std::fprintf(stderr, "idle connection %d failed\n", i);
      return 1;
    }
    idle_clients.push_back(std::move(client));
  }
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  std::vector<ClientResult> results(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back(RunClient, address, static_cast<uint16_t>(port), until,
                         std::ref(results[static_cast<size_t>(i)]));
  }
  for (std::thread& t : threads) t.join();

  std::vector<double> all;
  int errors = 0;
  for (ClientResult& r : results) {
    all.insert(all.end(), r.latencies_ms.begin(), r.latencies_ms.end());
    errors += r.errors;
  }
  const size_t requests = all.size();
  std::printf("clients %d (+%d idle), %d s: %zu requests, %.0f requests/s, p50 %.3f ms, p99 %.3f ms, %d errors\n",
              clients, idle, seconds, requests, static_cast<double>(requests) / seconds, Percentile(all, 0.50), Percentile(all, 0.99),
              errors);
  return errors == 0 ? 0 : 1;
}

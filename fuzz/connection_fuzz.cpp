// The client server under clients that behave as they like: each input is a script of opens, lines
// (requests, downloads, uploads, garbage, overlong ones), reads, closes and clients that never read,
// played on real loopback sockets against one server that lives across inputs. Nothing may crash,
// and once every client of an input has gone the server must be back where it started: no
// connection, no download, no temporary copy, and no read request of a departed client queued.
//
// Real sockets and threads make each input cost milliseconds: the short fuzz pass runs it for a
// bounded time rather than a number of inputs (connection_fuzz.options).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/scrambling.h"
#include "fuzz/fuzz_server.h"
#include "server/services/client_server.h"
#include "server/services/request_queue.h"

namespace {

using namespace keep;
using namespace keep::server;

constexpr size_t kMaxClients = 12;
// Real time a whole input may spend waiting for the server's threads.
constexpr auto kInputBudget = std::chrono::milliseconds(60);
constexpr auto kSettleLimit = std::chrono::milliseconds(2000);

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Line(const std::string& frame) { return ScrambleText(frame) + "\r\n"; }

class Harness {
 public:
  Harness() {
    folder_ = std::filesystem::temp_directory_path() / ("keep-connection-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_ / "data");
    std::filesystem::create_directories(folder_ / "srvtemp");
    std::ofstream log(folder_ / "data/ups_log.txt", std::ios::binary);
    for (int i = 0; i < 3000; ++i) log << "01/12/2026 10:00:00  a line of the log, number " << i << "\r\n";
    log.close();
    ServerContext& context = server_.context;
    context.Setup.InstallPath = folder_.string() + "/";
    context.Ups.Main.UpsStatus = "0";
    context.Ups.Main.CalibrationState = "@";
    clients_server_ = std::make_unique<ClientServer>(context);
    clients_server_->connected = [] { return true; };
    Check(clients_server_->Start(0) == 0);
    port_ = clients_server_->Port();
  }

  void Run(const uint8_t* data, size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + kInputBudget;
    for (size_t i = 0; i + 1 < size && std::chrono::steady_clock::now() < deadline; i += 2) {
      Step(data[i], data[i + 1]);
      Turn();
    }
    for (const int fd : clients_) ::close(fd);
    clients_.clear();
    Settle();
  }

 private:
  void Step(uint8_t op, uint8_t arg) {
    const size_t pick = clients_.empty() ? 0 : arg % clients_.size();
    switch (op % 6) {
      case 0:
        if (clients_.size() < kMaxClients) Open();
        return;
      case 1:
        if (!clients_.empty()) Send(clients_[pick], Request(arg));
        return;
      case 2:
        if (!clients_.empty()) {
          ::close(clients_[pick]);
          clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(pick));
        }
        return;
      case 3:
        if (!clients_.empty()) Drain(clients_[pick]);
        return;
      case 4:
        // Let the server's threads work a little while nobody reads.
        std::this_thread::sleep_for(std::chrono::microseconds(200 * (arg % 8)));
        return;
      default:
        // A burst of requests from one client, which then may or may not read.
        if (!clients_.empty()) {
          std::string burst;
          for (int i = 0; i < 1 + arg % 32; ++i) burst += Request(static_cast<uint8_t>(arg + i));
          Send(clients_[pick], burst);
        }
        return;
    }
  }

  static std::string Request(uint8_t arg) {
    switch (arg % 12) {
      case 0:
        return Line("<|101|>");
      case 1:
        return Line("<|102|>");
      case 2:
        return Line("<|200|>");
      case 3:
        return Line("<|202|>");
      case 4:
        return Line("<|400|>");
      case 5: {
        const std::string payload = Line("BT|O|80000|3600|-1|-1");
        return Line("<|203|" + std::to_string(payload.size()) + "|>") + payload;
      }
      case 6:
        // An upload whose payload never fully comes.
        return Line("<|203|5000|>") + "abc";
      case 7:
        return "not scrambled at all\r\n";
      case 8:
        return std::string(70 * 1024, 'A') + "\r\n";
      case 9:
        return Line("<|309|>");
      case 10:
        return Line("<|201|>");
      default:
        return "\r\n";
    }
  }

  void Open() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    Check(fd >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Non-blocking: the connection completes in the background on loopback.
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    clients_.push_back(fd);
  }

  static void Send(int fd, const std::string& bytes) {
    // What does not fit now is dropped: a client may stop mid-line.
    [[maybe_unused]] const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  static void Drain(int fd) {
    char buffer[16 * 1024];
    for (int i = 0; i < 8 && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
    }
  }

  void Turn() {
    server_.loop.RunDue();
    server_.clock.AdvanceMs(1);
  }

  // Every client of the input has gone: the server must come back to rest.
  void Settle() {
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    bool idle = false;
    while (std::chrono::steady_clock::now() < deadline) {
      Turn();
      if (Idle()) {
        idle = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Check(idle);
    // Nobody is left to read the answers of the reads; what changes something may stay.
    for (const std::string& item : server_.context.Requests.Items()) Check(item.find("|<|1") == std::string::npos);
    Check(server_.context.Requests.Size() <= kMaxQueuedPerAddress);
    // The queue does not drain here (there is no UPS); the next input starts from what is left.
    server_.context.Requests.Clear();
  }

  bool Idle() {
    if (clients_server_->ClientCount() != 0 || clients_server_->DownloadCount() != 0) return false;
    std::error_code error;
    return std::filesystem::is_empty(folder_ / "srvtemp", error);
  }

  fuzz::FuzzServer server_;
  std::filesystem::path folder_;
  std::unique_ptr<ClientServer> clients_server_;
  uint16_t port_ = 0;
  std::vector<int> clients_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness();
  harness->Run(data, size);
  return 0;
}

// The TCP client's logic, the same on every system; its socket calls are in tcp_client_socket.h.
#include "platform/tcp_client.h"

#include <charconv>
#include <memory>
#include <utility>

#include "platform/socket_library.h"
#include "platform/tcp_client_socket.h"

namespace keep::platform {

namespace {

using client_socket::Clock;

Clock::time_point DeadlineAfter(bool limited, int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(limited ? timeout_ms : 0);
}

class SocketTcpClient : public TcpClient {
 public:
  SocketTcpClient(SocketLibrary library, int fd) : library_(std::move(library)), fd_(fd) {}
  ~SocketTcpClient() override { Close(); }
  SocketTcpClient(const SocketTcpClient&) = delete;
  SocketTcpClient& operator=(const SocketTcpClient&) = delete;

  int Send(const char* data, int size, int timeout_ms, int* sent) override {
    *sent = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    const Clock::time_point deadline = DeadlineAfter(limited, timeout_ms);
    while (*sent < size) {
      int n = 0;
      const int code = client_socket::Send(fd_, data + *sent, size - *sent, &n);
      if (code == 0) {
        *sent += n;
        continue;
      }
      if (code != client_socket::kWouldBlock) return code;
      bool ready = false;
      const int wait_code =
          client_socket::WaitReady(fd_, client_socket::Direction::kWritable, limited, deadline, &ready);
      if (wait_code != 0) return wait_code;
      if (!ready) return client_socket::TimedOutCode();
    }
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    *count = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    if (capacity <= 0) return 0;
    return client_socket::Receive(fd_, buffer, capacity, count);
  }

  int Available(int* count) override {
    *count = 0;
    if (fd_ < 0) return kSocketErrorNotConnected;
    return client_socket::BytesWaiting(fd_, count);
  }

  int WaitReadable(int timeout_ms, bool* readable) override {
    *readable = false;
    if (fd_ < 0) return kSocketErrorNotConnected;
    const bool limited = timeout_ms >= 0;
    return client_socket::WaitReady(fd_, client_socket::Direction::kReadable, limited,
                                    DeadlineAfter(limited, timeout_ms), readable);
  }

  void Close() override {
    if (fd_ >= 0) client_socket::Close(fd_);
    fd_ = -1;
  }

  int Descriptor() const override { return fd_; }

 private:
  const SocketLibrary library_;  // up for as long as the socket is open
  int fd_;
};

}  // namespace

int ResolveIpv4(const std::string& host, bool numeric_only, Ipv4Address* address) {
  if (host.empty() || host.find('\0') != std::string::npos) return kSocketErrorNotConnected;
  const SocketLibrary library;
  if (library.status() != 0) return library.status();
  return client_socket::LookUpIpv4(host, numeric_only, address);
}

int ResolveTcpService(const std::string& service, uint16_t* port) {
  if (service.empty() || service.find('\0') != std::string::npos) return kSocketErrorNotConnected;
  if (service.find_first_not_of("0123456789") == std::string::npos) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(service.data(), service.data() + service.size(), value);
    if (error != std::errc() || end != service.data() + service.size() || value > 65535) {
      return kSocketErrorNotConnected;
    }
    *port = static_cast<uint16_t>(value);
    return 0;
  }
  const SocketLibrary library;
  if (library.status() != 0) return library.status();
  return client_socket::LookUpTcpService(service, port);
}

int TcpClient::Connect(const Ipv4Address& address, uint16_t port, int timeout_ms, std::unique_ptr<TcpClient>* client) {
  SocketLibrary library;
  if (library.status() != 0) return library.status();
  const bool limited = timeout_ms >= 0;
  int fd = -1;
  const int code = client_socket::Connect(address, port, limited, DeadlineAfter(limited, timeout_ms), &fd);
  if (code != 0) return code;
  *client = std::make_unique<SocketTcpClient>(std::move(library), fd);
  return 0;
}

}  // namespace keep::platform

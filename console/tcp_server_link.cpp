#include <atomic>
#include <charconv>

#include "console/server_link.h"
#include "platform/tcp_client.h"

namespace keep::console {

namespace {

// A server that stops taking data for this long counts as gone.
constexpr int kSendTimeoutMs = 10000;

class TcpServerLink : public ServerLink {
 public:
  ~TcpServerLink() override { Close(); }

  bool Connect(const std::string& host, const std::string& port, int timeout_ms) override {
    Close();
    uint16_t number = 0;
    const char* end = port.data() + port.size();
    const auto [rest, error] = std::from_chars(port.data(), end, number);
    if (error != std::errc() || rest != end || number == 0) return false;
    platform::Ipv4Address address;
    if (platform::ResolveIpv4(host, false, &address) != 0) return false;
    std::unique_ptr<platform::TcpClient> client;
    if (platform::TcpClient::Connect(address, number, timeout_ms, &client) != 0) return false;
    client_ = std::move(client);
    buffer_.clear();
    discarding_ = false;
    connected_ = true;
    return true;
  }

  bool Connected() const override { return connected_; }

  bool Write(std::string_view bytes) override {
    if (!connected_ || client_ == nullptr) return false;
    int sent = 0;
    if (client_->Send(bytes.data(), static_cast<int>(bytes.size()), kSendTimeoutMs, &sent) != 0) {
      connected_ = false;
      return false;
    }
    return true;
  }

  LinkRead ReadLine(std::string* line, int timeout_ms) override {
    if (client_ == nullptr) return LinkRead::kClosed;
    for (;;) {
      if (TakeLine(line)) return LinkRead::kLine;
      if (!connected_) return LinkRead::kClosed;
      bool readable = false;
      if (client_->WaitReadable(timeout_ms, &readable) != 0) {
        connected_ = false;
        return LinkRead::kClosed;
      }
      if (!readable) return LinkRead::kTimeout;
      char chunk[4096];
      int count = 0;
      if (client_->Read(chunk, sizeof chunk, &count) != 0 || count == 0) {
        connected_ = false;  // read error, or the server closed the connection
        return LinkRead::kClosed;
      }
      Append(std::string_view(chunk, static_cast<size_t>(count)));
    }
  }

  void Close() override {
    connected_ = false;
    client_.reset();
  }

 private:
  // Keeps at most kMaxReceivedLine bytes of an unfinished line; the rest of a longer line is
  // dropped up to its line end.
  void Append(std::string_view bytes) {
    while (!bytes.empty()) {
      const size_t lf = bytes.find('\n');
      const std::string_view part = bytes.substr(0, lf == std::string_view::npos ? bytes.size() : lf + 1);
      bytes.remove_prefix(part.size());
      if (discarding_) {
        if (part.back() == '\n') discarding_ = false;
        continue;
      }
      if (buffer_.size() + part.size() > kMaxReceivedLine + 1) {
        // Drop the partial line kept so far and everything up to its end.
        const size_t keep = buffer_.rfind('\n');
        buffer_.resize(keep == std::string::npos ? 0 : keep + 1);
        discarding_ = part.back() != '\n';
        continue;
      }
      buffer_.append(part);
    }
  }

  bool TakeLine(std::string* line) {
    const size_t lf = buffer_.find('\n');
    if (lf == std::string::npos) return false;
    line->assign(buffer_, 0, lf);
    buffer_.erase(0, lf + 1);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }

  std::unique_ptr<platform::TcpClient> client_;
  std::atomic<bool> connected_{false};
  std::string buffer_;  // received bytes not yet handed out as lines (receive thread only)
  bool discarding_ = false;
};

}  // namespace

std::unique_ptr<ServerLink> CreateTcpServerLink() { return std::make_unique<TcpServerLink>(); }

}  // namespace keep::console

#include "server/links/socket_connection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/system_error.h"
#include "server/links/loop_handover.h"

namespace keep::server {

namespace {

std::string SocketErrorText(int code, const std::string& api) {
  return "Socket error " + std::to_string(code) + " (" + platform::SystemErrorText(code) + ") in " + api;
}

// Bytes dropped per read while purging.
constexpr int kPurgeChunk = 4096;

}  // namespace

ESocketError::ESocketError(int code, const std::string& api, const std::string& message)
    : EConnectError(message.empty() ? SocketErrorText(code, api) : message), code_(code) {}

// Looks for arrived bytes every kSocketPollIntervalMs until stopped and reports their number. Owned by
// the connection, created when it opens and destroyed (stopped and joined) before the socket closes.
class TClientSocketConnection::TClientSocketThread {
 public:
  TClientSocketThread(TClientSocketConnection& owner, platform::TcpClient& socket, platform::EventLoop* loop)
      : owner_(owner), socket_(socket), handover_(loop) {
    thread_ = std::thread([this] { Run(); });
  }
  TClientSocketThread(const TClientSocketThread&) = delete;
  TClientSocketThread& operator=(const TClientSocketThread&) = delete;

  ~TClientSocketThread() {
    // Wakes the pause between looks as well as a wait for a hand-over, so closing is prompt and
    // never waits for a loop that is itself busy closing.
    handover_.Cancel();
    thread_.join();
  }

 private:
  void Run() {
    for (;;) {
      int count = 0;
      if (socket_.Available(&count) == 0 && count > 0) Dispatch(count);
      if (handover_.WaitForCancel(std::chrono::milliseconds(kSocketPollIntervalMs))) return;
    }
  }

  // One hand-over at a time: bytes arriving meanwhile are counted by the next look.
  void Dispatch(int count) {
    TClientSocketConnection* owner = &owner_;
    handover_.RunAndWait([owner, count] { RunHandler(*owner, count); });
  }

  // A handler's error has no caller to go to here; a failed read shows again at the next look.
  static void RunHandler(TClientSocketConnection& owner, int count) {
    try {
      owner.DoRxChar(count);
    } catch (const std::exception&) {
    }
  }

  TClientSocketConnection& owner_;
  platform::TcpClient& socket_;
  LoopHandover handover_;
  std::thread thread_;
};

TClientSocketConnection::TClientSocketConnection() = default;

TClientSocketConnection::~TClientSocketConnection() { Destroy(); }

void TClientSocketConnection::SetAddress(const std::string& value) {
  CheckInactive();
  address_ = value;
}

void TClientSocketConnection::SetHost(const std::string& value) {
  CheckInactive();
  host_ = value;
}

void TClientSocketConnection::SetPort(int value) {
  CheckInactive();
  port_ = value;
}

void TClientSocketConnection::SetService(const std::string& value) {
  CheckInactive();
  service_ = value;
}

void TClientSocketConnection::SetConnectTimeoutMs(int value) {
  CheckInactive();
  connect_timeout_ms_ = value;
}

void TClientSocketConnection::SetEventLoop(platform::EventLoop* loop) {
  CheckInactive();
  event_loop_ = loop;
}

int TClientSocketConnection::InQueue() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!socket_) return -1;
  int count = 0;
  if (socket_->Available(&count) != 0) return 0;
  return count;
}

void TClientSocketConnection::PurgeIn() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!socket_) return;
  int waiting = 0;
  if (socket_->Available(&waiting) != 0) return;
  // Only what is there now: a peer that keeps sending must not hold the caller here.
  char scratch[kPurgeChunk];
  while (waiting > 0) {
    int count = 0;
    if (socket_->Read(scratch, std::min(waiting, kPurgeChunk), &count) != 0 || count == 0) return;
    waiting -= count;
  }
}

void TClientSocketConnection::PurgeOut() {}

int TClientSocketConnection::WriteData(const char* Buffer, int Count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!socket_) throw EConnectError(kConnectionIsInactive);
  if (Count <= 0) return 0;
  int sent = 0;
  const int code = socket_->Send(Buffer, Count, kSocketSendTimeoutMs, &sent);
  if (code != 0) throw ESocketError(code, "send");
  return Count;
}

int TClientSocketConnection::ReadData(char* Buffer, int Count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!socket_) throw EConnectError(kConnectionIsInactive);
  int count = 0;
  const int code = socket_->Read(Buffer, Count, &count);
  if (code != 0) throw ESocketError(code, "recv");
  return count;
}

void TClientSocketConnection::DoOpen() {
  platform::Ipv4Address address;
  if (!host_.empty()) {
    const int code = platform::ResolveIpv4(host_, false, &address);
    if (code != 0) throw ESocketError(code, "gethostbyname");
  } else if (address_.empty()) {
    throw EConnectError(kNoSocketAddress);
  } else {
    const int code = platform::ResolveIpv4(address_, true, &address);
    if (code != 0) throw ESocketError(code, "inet_addr");
  }

  int port = port_;
  if (!service_.empty()) {
    uint16_t found = 0;
    const int code = platform::ResolveTcpService(service_, &found);
    if (code != 0) throw ESocketError(code, "getservbyname");
    port = found;
  }
  if (port < 1 || port > 65535) throw ESocketError(EINVAL, "connect", kCannotOpenSocket);

  std::unique_ptr<platform::TcpClient> socket;
  const int code = platform::TcpClient::Connect(address, static_cast<uint16_t>(port), connect_timeout_ms_, &socket);
  if (code != 0 || !socket) throw ESocketError(code, "connect", kCannotOpenSocket);

  if (!DontSynchronize && event_loop_ != nullptr) {
    const platform::EventLoop::WatchId watch =
        event_loop_->Watch(socket->Descriptor(), platform::EventLoop::kReadable, [this](unsigned) { OnReadable(); });
    // A link that counts as closed must not hold its peer: `socket` closes on the way out.
    if (watch == 0) throw ESocketError(errno != 0 ? errno : ENOMEM, "epoll_ctl");
    std::lock_guard<std::mutex> guard(lock_);
    socket_ = std::move(socket);
    watching_loop_ = event_loop_;
    watch_ = watch;
    return;
  }
  std::lock_guard<std::mutex> guard(lock_);
  socket_ = std::move(socket);
  try {
    thread_ = std::make_unique<TClientSocketThread>(*this, *socket_, nullptr);
  } catch (const std::system_error& e) {
    socket_.reset();
    throw ESocketError(e.code().value(), "CreateThread");
  }
}

void TClientSocketConnection::OnReadable() {
  const int count = InQueue();
  if (count <= 0) {
    // Readable with nothing to read: the peer closed or the socket failed. Nothing more will come;
    // the link stays open until it is closed, as with the receive thread.
    watching_loop_->ChangeWatch(watch_, 0);
    return;
  }
  try {
    DoRxChar(count);
  } catch (const std::exception&) {
    // No caller to go to here; a failed read shows again at the next report.
  }
  // Closed by its own handler: the watch went with it.
  if (watch_ == 0) return;
  if (InQueue() >= count) {
    platform::EventLoop& loop = *watching_loop_;
    loop.ChangeWatch(watch_, 0);
    resume_ = loop.AddTimer(kSocketPollIntervalMs, false, [this] {
      resume_ = 0;
      watching_loop_->ChangeWatch(watch_, platform::EventLoop::kReadable);
    });
  }
}

void TClientSocketConnection::StopWatching() {
  if (watching_loop_ == nullptr) return;
  if (resume_ != 0) watching_loop_->CancelTimer(resume_);
  watching_loop_->Unwatch(watch_);
  resume_ = 0;
  watch_ = 0;
  watching_loop_ = nullptr;
}

void TClientSocketConnection::DoClose() { ReleaseSocket(); }

void TClientSocketConnection::ReleaseSocket() {
  // The watch or the thread first: they use the socket.
  StopWatching();
  thread_.reset();
  std::lock_guard<std::mutex> guard(lock_);
  socket_.reset();
}

}  // namespace keep::server

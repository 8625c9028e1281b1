#include "tests/support/scripted_keepd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "common/scrambling.h"

namespace keep::test {

namespace {

// A client line longer than this is dropped instead of growing the buffer without end.
constexpr size_t kMaxLine = 64 * 1024;
// A client that stops reading makes a write give up after this long instead of blocking the server.
constexpr timeval kSendTimeout{2, 0};

// The request code of a plain frame "<|code|...|>", empty when it has none.
std::string CodeOf(const std::string& frame) {
  if (frame.rfind("<|", 0) != 0) return "";
  const size_t end = frame.find('|', 2);
  return end == std::string::npos ? "" : frame.substr(2, end - 2);
}

}  // namespace

ScriptedKeepd::ScriptedKeepd() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  int wake[2] = {-1, -1};
  // Port 0 lets the system pick a free port; getsockname tells which.
  ok_ = listen_fd_ >= 0 && ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::listen(listen_fd_, 4) == 0 && ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        ::pipe2(wake, O_CLOEXEC) == 0;
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  port_ = ntohs(local.sin_port);
  if (ok_) thread_ = std::thread([this] { Run(); });
}

ScriptedKeepd::~ScriptedKeepd() {
  if (thread_.joinable()) {
    const char stop = 1;
    while (::write(wake_write_, &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  CloseClient();
  for (const int fd : {listen_fd_, wake_read_, wake_write_}) {
    if (fd >= 0) ::close(fd);
  }
}

void ScriptedKeepd::Answer(const std::string& request, std::vector<std::string> frames) {
  std::lock_guard lock(mutex_);
  answers_[request] = std::move(frames);
}

void ScriptedKeepd::Echo(int code) {
  std::lock_guard lock(mutex_);
  echoed_codes_.insert(std::to_string(code));
}

bool ScriptedKeepd::Push(const std::string& frame) {
  std::lock_guard lock(mutex_);
  return WriteFrames({frame});
}

std::vector<std::string> ScriptedKeepd::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedKeepd::RequestsAfter(size_t skip) const {
  std::lock_guard lock(mutex_);
  if (skip >= requests_.size()) return {};
  return std::vector<std::string>(requests_.begin() + static_cast<std::ptrdiff_t>(skip), requests_.end());
}

bool ScriptedKeepd::WaitForRequest(const std::string& request, size_t times, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return received_.wait_for(lock, limit, [&] {
    size_t seen = 0;
    for (const std::string& r : requests_) seen += r == request ? 1 : 0;
    return seen >= times;
  });
}

int ScriptedKeepd::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

void ScriptedKeepd::Run() {
  for (;;) {
    int client = -1;
    {
      std::lock_guard lock(mutex_);
      client = client_fd_;
    }
    pollfd entries[3] = {{wake_read_, POLLIN, 0}, {listen_fd_, POLLIN, 0}, {client, POLLIN, 0}};
    const nfds_t count = client >= 0 ? 3 : 2;
    if (::poll(entries, count, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[0].revents != 0) return;
    if (count == 3 && entries[2].revents != 0 && !Serve()) CloseClient();
    if ((entries[1].revents & POLLIN) != 0) {
      const int accepted = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      ::setsockopt(accepted, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
      // A client that reconnects has let go of its old connection; the new one is the client now.
      CloseClient();
      std::lock_guard lock(mutex_);
      client_fd_ = accepted;
      ++connections_;
    }
  }
}

bool ScriptedKeepd::Serve() {
  int client = -1;
  {
    std::lock_guard lock(mutex_);
    client = client_fd_;
  }
  char buffer[4096];
  const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  pending_.append(buffer, static_cast<size_t>(n));
  for (size_t lf = pending_.find('\n'); lf != std::string::npos; lf = pending_.find('\n')) {
    std::string line = pending_.substr(0, lf);
    pending_.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Handle(line);
  }
  if (pending_.size() > kMaxLine) pending_.clear();
  return true;
}

void ScriptedKeepd::Handle(const std::string& line) {
  const std::string request = UnscrambleText(line);
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  received_.notify_all();
  const auto answer = answers_.find(request);
  if (answer != answers_.end()) {
    WriteFrames(answer->second);
  } else if (echoed_codes_.count(CodeOf(request)) != 0) {
    WriteFrames({request});
  }
}

bool ScriptedKeepd::WriteFrames(const std::vector<std::string>& frames) {
  if (client_fd_ < 0) return false;
  std::string bytes;
  for (const std::string& frame : frames) bytes += ScrambleText(frame) + "\r\n";
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(client_fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ScriptedKeepd::CloseClient() {
  std::lock_guard lock(mutex_);
  if (client_fd_ >= 0) ::close(client_fd_);
  client_fd_ = -1;
  pending_.clear();
}

}  // namespace keep::test

#include "tests/support/keepd_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "common/scrambling.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

milliseconds Left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? left : milliseconds(0);
}

// "<|101|x|>" -> "101"; "" when the frame has no code.
std::string CodeOf(std::string_view frame) {
  if (frame.size() < 3 || frame.substr(0, 2) != "<|") return {};
  const size_t end = frame.find('|', 2);
  return std::string(frame.substr(2, end == std::string_view::npos ? std::string_view::npos : end - 2));
}

}  // namespace

std::unique_ptr<KeepdClient> KeepdClient::Connect(int port, const std::string& source, const std::string& destination) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, source.c_str(), &local.sin_addr) != 1 ||
      ::inet_pton(AF_INET, destination.c_str(), &remote.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<KeepdClient>(new KeepdClient(fd));
}

bool KeepdClient::CanBindSource(const std::string& source) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  const bool bound = ::inet_pton(AF_INET, source.c_str(), &local.sin_addr) == 1 &&
                     ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  ::close(fd);
  return bound;
}

KeepdClient::~KeepdClient() {
  if (fd_ >= 0) ::close(fd_);
}

void KeepdClient::SendFrame(std::string_view frame) { SendRaw(ScrambleText(frame) + "\r\n"); }

bool KeepdClient::SendRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a server that has closed the connection must fail the test, not kill it.
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool KeepdClient::Fill(milliseconds limit) {
  if (ended_) return false;
  pollfd in{fd_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&in, 1, static_cast<int>(limit.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  char chunk[16384];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> KeepdClient::Next(milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  size_t end = buffer_.find('\n');
  while (end == std::string::npos) {
    if (!Fill(Left(deadline))) return std::nullopt;
    end = buffer_.find('\n');
  }
  std::string line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return UnscrambleText(line);
}

std::vector<std::string> KeepdClient::NextLines(size_t count, milliseconds limit) {
  std::vector<std::string> lines;
  while (lines.size() < count) {
    std::optional<std::string> line = Next(limit);
    if (!line) break;
    lines.push_back(std::move(*line));
  }
  return lines;
}

std::string KeepdClient::Ask(std::string_view frame, milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  const std::string code = CodeOf(frame);
  SendFrame(frame);
  for (;;) {
    std::optional<std::string> line = Next(Left(deadline));
    if (!line) return {};
    const std::string answer_code = CodeOf(*line);
    if (answer_code == code || *line == "<|500|>" || *line == "<|502|>") return *line;
    skipped_.push_back(std::move(*line));
  }
}

bool KeepdClient::Silent(milliseconds quiet) {
  if (!buffer_.empty()) return false;
  pollfd in{fd_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&in, 1, static_cast<int>(quiet.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return true;
  // Readable: either bytes came, or the end of the stream, which is not silence either.
  return false;
}

bool KeepdClient::SeesEnd(milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!ended_) {
    buffer_.clear();
    if (!Fill(Left(deadline)) && !ended_) return false;
  }
  return true;
}

Download ReadDownload(KeepdClient& client, int code) {
  Download download;
  const std::string prefix = "<|" + std::to_string(code) + "|";
  download.head = client.Next().value_or("");
  if (download.head.rfind(prefix, 0) != 0) {
    download.fault = "head " + download.head;
    return download;
  }
  size_t count = 0;
  const char* digits = download.head.data() + prefix.size();
  const char* end = download.head.data() + download.head.size();
  const auto [rest, error] = std::from_chars(digits, end, count);
  if (error != std::errc() || std::string_view(rest, static_cast<size_t>(end - rest)) != "|>") {
    download.fault = "head " + download.head;
    return download;
  }
  while (download.lines.size() < count) {
    const std::string answer = client.Next().value_or("");
    const std::string index = prefix + std::to_string(download.lines.size() + 1) + "|";
    if (answer.rfind(index, 0) != 0 || answer.size() < index.size() + 2 || answer.substr(answer.size() - 2) != "|>") {
      download.fault = "line " + std::to_string(download.lines.size() + 1) + ": " + answer;
      return download;
    }
    download.lines.push_back(answer.substr(index.size(), answer.size() - index.size() - 2));
  }
  if (count > 0) download.tail = client.Next().value_or("");
  return download;
}

}  // namespace keep::test

#include "tests/support/loopback_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace keep::test {

using std::chrono::milliseconds;

Peer::~Peer() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<Peer> Peer::Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  return fd < 0 ? nullptr : std::make_unique<Peer>(fd);
}

std::unique_ptr<Peer> Peer::OpenSlave(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios settings{};
  if (::tcgetattr(fd, &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
  }
  return std::make_unique<Peer>(fd);
}

void Peer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string Peer::ReadSome(milliseconds limit) {
  pollfd in{fd_, POLLIN, 0};
  if (::poll(&in, 1, static_cast<int>(limit.count())) <= 0) return {};
  char buffer[4096];
  const ssize_t n = ::read(fd_, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> Peer::ReadPiecesUntil(char end, milliseconds limit) {
  std::vector<std::string> pieces;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (pieces.empty() || pieces.back().back() != end) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    std::string piece = ReadSome(left);
    if (piece.empty()) break;
    pieces.push_back(std::move(piece));
  }
  return pieces;
}

std::string Peer::ReadUntil(char end, milliseconds limit) {
  std::string text;
  for (const std::string& piece : ReadPiecesUntil(end, limit)) text += piece;
  return text;
}

bool Peer::SeesEnd(milliseconds limit) {
  pollfd in{fd_, POLLIN, 0};
  if (::poll(&in, 1, static_cast<int>(limit.count())) <= 0) return false;
  char byte = 0;
  return ::read(fd_, &byte, 1) == 0;
}

std::string Peer::Command(const std::string& line) {
  Send(line + "\n");
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(10000);
  while (reply.rfind("OK\n", 0) != 0 && reply.rfind("ERR", 0) != 0 && reply.find("END\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const std::string more = ReadSome(left);
    if (more.empty()) break;
    reply += more;
  }
  return reply;
}

int PortIn(const std::string& output, const std::string& label) {
  const size_t at = output.find(label + " ");
  return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + label.size() + 1);
}

}  // namespace keep::test

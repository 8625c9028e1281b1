#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/system_error.h"
#include "tools/upssim/line_splitter.h"
#include "tools/upssim/sim_control.h"
#include "tools/upssim/sim_protocol.h"
#include "tools/upssim/sim_runner.h"
#include "tools/upssim/simulator.h"

namespace keep::tools {
namespace {

// More control connections than this are refused: each holds buffers, and a tool needs few.
constexpr size_t kMaxControlClients = 8;
// A control client that lets this much of its answers pile up unread is disconnected.
constexpr size_t kMaxControlOutput = 1 << 20;
constexpr size_t kReadChunk = 4096;

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

std::string SystemFailure(const std::string& what) { return what + ": " + platform::SystemErrorText(errno); }

// A loopback listener; *port receives the port it really got.
std::optional<Fd> ListenLoopback(int wanted_port, int* port, std::string* error) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    *error = SystemFailure("socket");
    return std::nullopt;
  }
  // A simulator restarted at once must get its fixed port back.
  const int yes = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(wanted_port));
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = SystemFailure("bind 127.0.0.1:" + std::to_string(wanted_port));
    return std::nullopt;
  }
  if (::listen(fd.Get(), 4) != 0) {
    *error = SystemFailure("listen");
    return std::nullopt;
  }
  socklen_t length = sizeof address;
  if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = SystemFailure("getsockname");
    return std::nullopt;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

Fd AcceptClient(int listener) {
  Fd client(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (client.Valid()) {
    // A serial adapter passes every byte on at once; so must we, or split answers merge again.
    const int yes = 1;
    ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  return client;
}

// Writes as much of `out` as the descriptor takes now. False when the peer is gone.
bool FlushSome(int fd, std::string& out, bool socket) {
  while (!out.empty()) {
    const ssize_t n = socket ? ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) : ::write(fd, out.data(), out.size());
    if (n > 0) {
      out.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
  return true;
}

struct ControlClient {
  Fd fd;
  std::string out;
  LineSplitter lines{kMaxControlLineBytes};
};

class Runner {
 public:
  explicit Runner(const SimOptions& options)
      : options_(options),
        clock_(platform::MonotonicClock::CreateReal()),
        simulator_(CreateSimProtocol(options.protocol), DefaultSimState(options.protocol)) {
    simulator_.State().ident = options.ident;
  }

  ~Runner() { RemoveLink(); }

  bool SetUp(std::string* error) {
    if (!SetUpSignals(error)) return false;
    if (!options_.record_file.empty()) {
      record_.open(options_.record_file, std::ios::app | std::ios::binary);
      if (!record_) {
        *error = SystemFailure("cannot open " + options_.record_file);
        return false;
      }
    }
    if (options_.link == SimLinkKind::kPty ? !SetUpPty(error) : !SetUpTcp(error)) return false;
    if (options_.control_port) {
      auto listener = ListenLoopback(*options_.control_port, &control_port_, error);
      if (!listener) return false;
      control_listener_ = std::move(*listener);
    }
    read_stdin_ = ::isatty(STDIN_FILENO) == 1;
    return true;
  }

  void Announce() const {
    if (options_.link == SimLinkKind::kPty) {
      std::cout << "PTY " << slave_path_ << std::endl;
    } else {
      std::cout << "TCP " << tcp_port_ << std::endl;
    }
    if (control_listener_.Valid()) std::cout << "CONTROL " << control_port_ << std::endl;
    std::cout << "READY" << std::endl;
  }

  void Run() {
    while (!stopping_) {
      const int64_t now = clock_->NowMs();
      QueueLinkOutput(simulator_.TakeDue(now));
      FlushLink();

      std::vector<pollfd> fds;
      std::vector<std::function<void(short)>> handlers;
      const auto watch = [&](int fd, short events, std::function<void(short)> handler) {
        fds.push_back({fd, events, 0});
        handlers.push_back(std::move(handler));
      };
      watch(signals_.Get(), POLLIN, [this](short) { OnSignal(); });
      if (pty_master_.Valid()) {
        watch(pty_master_.Get(), static_cast<short>(POLLIN | (link_out_.empty() ? 0 : POLLOUT)),
              [this](short revents) { OnLinkEvent(pty_master_, revents, false); });
      }
      if (tcp_listener_.Valid()) watch(tcp_listener_.Get(), POLLIN, [this](short) { OnLinkClient(); });
      if (tcp_client_.Valid()) {
        // The events belong to the client polled; a newcomer accepted meanwhile must not get them.
        watch(tcp_client_.Get(), static_cast<short>(POLLIN | (link_out_.empty() ? 0 : POLLOUT)),
              [this, generation = link_generation_](short revents) {
                if (generation == link_generation_) OnLinkEvent(tcp_client_, revents, true);
              });
      }
      if (control_listener_.Valid()) watch(control_listener_.Get(), POLLIN, [this](short) { OnControlClient(); });
      for (auto it = control_clients_.begin(); it != control_clients_.end(); ++it) {
        watch(it->fd.Get(), static_cast<short>(POLLIN | (it->out.empty() ? 0 : POLLOUT)),
              [this, it](short revents) { OnControlEvent(it, revents); });
      }
      // Started in the background of a shell (as a demo does), it leaves the terminal to the job in
      // the foreground: reading there would take that job's keys.
      if (read_stdin_ && ::tcgetpgrp(STDIN_FILENO) == ::getpgrp()) {
        watch(STDIN_FILENO, POLLIN, [this](short) { OnStdin(); });
      }

      int timeout = -1;
      if (const auto due = simulator_.NextDueMs())
        timeout = static_cast<int>(std::clamp<int64_t>(*due - now, 0, 60000));
      const int ready = ::poll(fds.data(), fds.size(), timeout);
      if (ready < 0 && errno != EINTR) {
        std::cerr << "upssim: " << SystemFailure("poll") << std::endl;
        return;
      }
      for (size_t i = 0; ready > 0 && i < fds.size() && !stopping_; ++i) {
        if (fds[i].revents != 0) handlers[i](fds[i].revents);
      }
      std::erase_if(control_clients_, [](const ControlClient& client) { return !client.fd.Valid(); });
    }
    // The reply to "quit" is short; one attempt is enough for a peer that is reading.
    for (ControlClient& client : control_clients_) {
      if (client.fd.Valid()) FlushSome(client.fd.Get(), client.out, true);
    }
  }

 private:
  bool SetUpSignals(std::string* error) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    // Received through the descriptor, the signals end the loop between two events, never inside one.
    if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
      *error = SystemFailure("sigprocmask");
      return false;
    }
    signals_ = Fd(::signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_.Valid()) {
      *error = SystemFailure("signalfd");
      return false;
    }
    // A peer that goes away is seen as a failed write, not as the end of the program; a simulator
    // moved to the background of a shell is not stopped for touching its terminal.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGTTIN, SIG_IGN);
    ::signal(SIGTTOU, SIG_IGN);
    return true;
  }

  bool SetUpPty(std::string* error) {
    pty_master_ = Fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    char name[256] = {};
    if (!pty_master_.Valid() || ::grantpt(pty_master_.Get()) != 0 || ::unlockpt(pty_master_.Get()) != 0 ||
        ::ptsname_r(pty_master_.Get(), name, sizeof name) != 0) {
      *error = SystemFailure("cannot create a pseudo-terminal");
      return false;
    }
    slave_path_ = name;
    // Holding the slave open keeps the master readable while no peer has it open (otherwise the
    // master reports a hang-up on every poll), and fixes raw mode before any peer arrives.
    pty_slave_ = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty_slave_.Valid()) {
      *error = SystemFailure("cannot open " + slave_path_);
      return false;
    }
    termios settings{};
    if (::tcgetattr(pty_slave_.Get(), &settings) == 0) {
      ::cfmakeraw(&settings);
      ::tcsetattr(pty_slave_.Get(), TCSANOW, &settings);
    }
    if (!options_.link_path.empty()) return MakeLink(error);
    return true;
  }

  bool MakeLink(std::string* error) {
    std::error_code code;
    // A link left by an earlier run is replaced; anything else at that path is not ours to remove.
    if (std::filesystem::is_symlink(options_.link_path, code)) std::filesystem::remove(options_.link_path, code);
    std::filesystem::create_symlink(slave_path_, options_.link_path, code);
    if (code) {
      *error = "cannot link " + options_.link_path + " to " + slave_path_ + ": " + code.message();
      return false;
    }
    link_made_ = true;
    return true;
  }

  void RemoveLink() {
    if (!link_made_) return;
    std::error_code code;
    if (std::filesystem::read_symlink(options_.link_path, code) == slave_path_ && !code) {
      std::filesystem::remove(options_.link_path, code);
    }
    link_made_ = false;
  }

  bool SetUpTcp(std::string* error) {
    auto listener = ListenLoopback(options_.tcp_port, &tcp_port_, error);
    if (!listener) return false;
    tcp_listener_ = std::move(*listener);
    return true;
  }

  void OnSignal() {
    signalfd_siginfo info{};
    while (::read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) stopping_ = true;
  }

  void OnLinkClient() {
    Fd client = AcceptClient(tcp_listener_.Get());
    if (!client.Valid()) return;
    // One peer at a time, as on a serial adapter: the newcomer takes the link over.
    DropLinkClient();
    tcp_client_ = std::move(client);
  }

  void DropLinkClient() {
    ++link_generation_;
    tcp_client_.Reset();
    simulator_.ResetLink();
    link_out_.clear();
  }

  void OnLinkEvent(Fd& fd, short revents, bool socket) {
    if (revents & POLLIN) {
      char buffer[kReadChunk];
      const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
      if (n > 0) {
        const int64_t now = clock_->NowMs();
        Record(simulator_.OnLinkBytes(std::string_view(buffer, static_cast<size_t>(n)), now));
        QueueLinkOutput(simulator_.TakeDue(now));
      } else if (socket && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
        DropLinkClient();
        return;
      }
    } else if (socket && (revents & (POLLHUP | POLLERR))) {
      DropLinkClient();
      return;
    }
    FlushLink();
  }

  void QueueLinkOutput(const std::string& bytes) {
    if (bytes.empty()) return;
    if (link_out_.size() + bytes.size() > kPlannedBytesLimit) return;
    link_out_ += bytes;
  }

  void FlushLink() {
    if (link_out_.empty()) return;
    if (tcp_client_.Valid()) {
      if (!FlushSome(tcp_client_.Get(), link_out_, true)) DropLinkClient();
    } else if (pty_master_.Valid()) {
      FlushSome(pty_master_.Get(), link_out_, false);
    } else {
      link_out_.clear();  // nobody on the TCP link: the answer is lost, as on a cut line
    }
  }

  void Record(const std::vector<std::string>& queries) {
    if (!record_.is_open()) return;
    for (const std::string& query : queries) record_ << query << '\n';
    record_.flush();
  }

  void OnControlClient() {
    Fd client = AcceptClient(control_listener_.Get());
    if (!client.Valid()) return;
    if (control_clients_.size() >= kMaxControlClients) return;  // closed on leaving scope
    control_clients_.push_back(ControlClient{std::move(client), {}, LineSplitter(kMaxControlLineBytes)});
  }

  void OnControlEvent(std::list<ControlClient>::iterator client, short revents) {
    if (revents & POLLIN) {
      char buffer[kReadChunk];
      const ssize_t n = ::read(client->fd.Get(), buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        client->fd.Reset();
        return;
      }
      if (n > 0) {
        for (const SplitLine& line : client->lines.Add(std::string_view(buffer, static_cast<size_t>(n)))) {
          client->out += Execute(line);
          if (stopping_) break;
        }
      }
    } else if (revents & (POLLHUP | POLLERR)) {
      client->fd.Reset();
      return;
    }
    if (!FlushSome(client->fd.Get(), client->out, true) || client->out.size() > kMaxControlOutput) client->fd.Reset();
  }

  void OnStdin() {
    char buffer[kReadChunk];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      // EIO: the terminal went to another job meanwhile; it is watched again once ours is foreground.
      if (n == 0 || (errno != EINTR && errno != EIO)) read_stdin_ = false;
      return;
    }
    for (const SplitLine& line : stdin_lines_.Add(std::string_view(buffer, static_cast<size_t>(n)))) {
      std::cout << Execute(line) << std::flush;
      if (stopping_) break;
    }
  }

  std::string Execute(const SplitLine& line) {
    if (line.overlong) return OverlongControlReply();
    const ControlContext context{clock_->NowMs(), tcp_client_.Valid()};
    ControlReply reply = ExecuteControl(line.text, simulator_, context);
    if (reply.action == ControlAction::kDropLink) DropLinkClient();
    if (reply.action == ControlAction::kQuit) stopping_ = true;
    return reply.text;
  }

  const SimOptions& options_;
  std::unique_ptr<platform::MonotonicClock> clock_;
  Simulator simulator_;
  std::ofstream record_;
  Fd signals_;
  Fd pty_master_;
  Fd pty_slave_;
  std::string slave_path_;
  bool link_made_ = false;
  Fd tcp_listener_;
  int tcp_port_ = 0;
  Fd tcp_client_;
  uint64_t link_generation_ = 0;  // counts the link's peers
  std::string link_out_;
  Fd control_listener_;
  int control_port_ = 0;
  std::list<ControlClient> control_clients_;
  bool read_stdin_ = false;
  LineSplitter stdin_lines_{kMaxControlLineBytes};
  bool stopping_ = false;
};

}  // namespace

int RunSimulator(const SimOptions& options) {
  Runner runner(options);
  std::string error;
  if (!runner.SetUp(&error)) {
    std::cerr << "upssim: " << error << std::endl;
    return 1;
  }
  runner.Announce();
  runner.Run();
  return 0;
}

}  // namespace keep::tools

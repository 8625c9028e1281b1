// The note-box script as the server starts it (bin/notebox, bin/VNoteBox): it tells the logged-in
// users through the real wall, ends by itself, and writes one system log line, read here from a
// datagram socket of the test's own in place of the system's.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

// A unix datagram socket at `path`, as the system log listens; closed with the object.
class LogSocket {
 public:
  explicit LogSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~LogSocket() {
    if (fd_ >= 0) close(fd_);
  }
  LogSocket(const LogSocket&) = delete;
  LogSocket& operator=(const LogSocket&) = delete;

  bool Ok() const { return fd_ >= 0; }
  // The next datagram within `limit`; empty when none came.
  std::string Next(milliseconds limit) {
    pollfd wait{fd_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(limit.count())) != 1) return {};
    std::vector<char> buffer(8192);
    const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
    return got > 0 ? std::string(buffer.data(), static_cast<size_t>(got)) : std::string();
  }

 private:
  int fd_ = -1;
};

TEST(NoteBox, EndsAtOnceAndLogsTheTextOnOneLineWithTheIconsPriority) {
  struct Case {
    std::vector<std::string> arguments;
    std::string priority;  // "<facility daemon * 8 + severity>"
    std::string line;
  };
  // Started as bin/VNoteBox (with "/T:0") and as bin/notebox; the server breaks lines with CR.
  const std::vector<Case> cases{
      {{"/T:0", "/M:10/12/2026 13:22:04\r\r\rPower failure.\rOn battery.", "/I:48"},
       "<28>",
       "notebox: Voltrena: 10/12/2026 13:22:04   Power failure. On battery."},
      {{"/M:UPS fault", "/I:16"}, "<27>", "notebox: Voltrena: UPS fault"},
      {{"/M:Mains power is back.", "/I:64"}, "<30>", "notebox: Voltrena: Mains power is back."},
  };
  TempDir folder;
  LogSocket log(folder.File("log"));
  ASSERT_TRUE(log.Ok());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto start = std::chrono::steady_clock::now();
    ChildProcess notebox(SourceFolder() + "/companions/notebox/notebox", c.arguments,
                         {{"KEEP_NOTEBOX_LOG_SOCKET", folder.File("log")}, {"PATH", "/usr/bin:/bin"}},
                         folder.path().string());
    // Nobody is logged in here: wall finds no terminal and the script ends with 0.
    EXPECT_EQ(notebox.WaitForExit(milliseconds(15000)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(10000));
    const std::string entry = log.Next(milliseconds(5000));
    EXPECT_TRUE(entry.starts_with(c.priority)) << entry;
    EXPECT_TRUE(entry.ends_with(c.line)) << entry;
  }
}

}  // namespace
}  // namespace keep::test

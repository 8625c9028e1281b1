#include "tests/support/pty_process.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/child_process.h"

namespace keep::test {

PtyProcess::PtyProcess(const std::string& program, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment) {
  // Everything the child needs is prepared before the fork: after it only async-signal-safe calls.
  std::vector<std::string> args{program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = CStringPointers(args);
  std::vector<std::string> env_texts = MergedEnvironment(environment);
  std::vector<char*> envp = CStringPointers(env_texts);

  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (pid > 0) {
    pid_ = pid;
    master_ = master;
  }
}

PtyProcess::~PtyProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    WaitForExit(std::chrono::milliseconds(5000));
  }
  if (master_ >= 0) close(master_);
}

void PtyProcess::Type(const std::string& keys) {
  size_t done = 0;
  while (done < keys.size()) {
    const ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void PtyProcess::ReadAvailable(int timeout_ms) {
  pollfd p{master_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) != 1) return;
  char buffer[4096];
  const ssize_t n = read(master_, buffer, sizeof buffer);
  if (n > 0) screen_.append(buffer, static_cast<size_t>(n));
}

bool PtyProcess::WaitForScreen(const std::string& text, std::chrono::milliseconds limit) {
  return WaitUntil(
      [&] {
        ReadAvailable(10);
        return screen_.find(text) != std::string::npos;
      },
      limit);
}

std::optional<int> PtyProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  WaitUntil(
      [this] {
        ReadAvailable(0);
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
          status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
          return true;
        }
        return false;
      },
      limit);
  return status_;
}

bool PtyProcess::Running() { return pid_ > 0 && !WaitForExit(std::chrono::milliseconds(0)); }

}  // namespace keep::test

// Starting programs with posix_spawn. Nothing goes through a shell except batch files, which need
// one to run at all; the words reach the program exactly as SplitCommandLine made them.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/file_names.h"
#include "platform/process.h"

namespace keep::platform {

namespace {

constexpr const char* kShell = "/bin/sh";

void WaitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// A child nobody waits for stays a zombie until the server ends. posix_spawn cannot double-fork,
// so each such child gets a thread of its own that waits on that pid alone: it never reaps a child
// that someone else is waiting for, and ends as soon as the child does.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] { WaitForChild(pid); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: reap now if it already ended, else it stays a zombie until we exit.
    int status = 0;
    ::waitpid(pid, &status, WNOHANG);
  }
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// Owns the spawn attributes so every return path releases them.
class SpawnSetup {
 public:
  SpawnSetup() {
    ok_ = ::posix_spawnattr_init(&attr_) == 0;
    if (ok_ && ::posix_spawn_file_actions_init(&actions_) != 0) {
      ::posix_spawnattr_destroy(&attr_);
      ok_ = false;
    }
  }
  ~SpawnSetup() {
    if (ok_) {
      ::posix_spawn_file_actions_destroy(&actions_);
      ::posix_spawnattr_destroy(&attr_);
    }
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool Prepare(bool hidden) {
    if (!ok_) return false;
    // The server blocks its stop signals in every thread and may ignore others (SIGPIPE); a child
    // must start with none of that, or it could not be stopped the usual way.
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    // A group of its own, so a Ctrl+C at the server's terminal does not also stop the program.
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (::posix_spawnattr_setflags(&attr_, flags) != 0 || ::posix_spawnattr_setpgroup(&attr_, 0) != 0 ||
        ::posix_spawnattr_setsigmask(&attr_, &none) != 0 || ::posix_spawnattr_setsigdefault(&attr_, &all) != 0) {
      return false;
    }
    if (hidden && ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0) {
      return false;
    }
    return true;
  }

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  bool ok_ = false;
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  if (argc < 1 || argv == nullptr) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool StartProgram(const std::string& program, std::string_view arguments, const StartOptions& options) {
  if (program.empty() || HasNul(program)) return false;
  struct stat info;
  if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const bool batch = IsBatchFile(program);
  // A batch file only needs to be readable: the shell runs it, so it works without the x bit.
  if (::access(program.c_str(), batch ? R_OK : X_OK) != 0) return false;

  std::vector<std::string> args;
  if (batch) args.emplace_back(kShell);
  // The shell would take a leading '-' for an option.
  args.push_back(batch && program.front() == '-' ? "./" + program : program);
  for (std::string& word : SplitCommandLine(arguments)) {
    // execve would cut such a word short; better not to start than to pass other words.
    if (HasNul(word)) return false;
    args.push_back(std::move(word));
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (!setup.Prepare(options.hidden)) return false;
  pid_t pid = 0;
  const char* path = batch ? kShell : program.c_str();
  if (::posix_spawn(&pid, path, setup.actions(), setup.attr(), argv.data(), environ) != 0) return false;

  if (options.wait) {
    WaitForChild(pid);
  } else {
    ReapInBackground(pid);
  }
  return true;
}

std::string_view ScriptExtension() { return ".sh"; }

std::string ProgramName(std::string_view base) { return std::string(base); }

std::string ScriptName(std::string_view base) { return std::string(base) + std::string(ScriptExtension()); }

}  // namespace keep::platform

#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace keep::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, const std::string& output_folder) {
  static int serial = 0;
  const std::string tag = std::to_string(++serial);
  stdout_file_ = output_folder + "/child" + tag + ".out";
  stderr_file_ = output_folder + "/child" + tag + ".err";

  std::vector<std::string> args{program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = CStringPointers(args);
  std::vector<std::string> env_texts = MergedEnvironment(environment);
  std::vector<char*> envp = CStringPointers(env_texts);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderr_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // A session of its own: the child has no controlling terminal, as under a service manager.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data()) == 0) pid_ = pid;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    WaitForExit(std::chrono::milliseconds(5000));
  }
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  WaitUntil(
      [this] {
        int raw = 0;
        const pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) {
          status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
          return true;
        }
        return false;
      },
      limit);
  return status_;
}

bool ChildProcess::Running() { return pid_ > 0 && !WaitForExit(std::chrono::milliseconds(0)); }

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !status_) kill(pid_, signal_number);
}

std::string ChildProcess::StandardOutput() const { return ReadFileText(stdout_file_); }
std::string ChildProcess::StandardError() const { return ReadFileText(stderr_file_); }

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
  return WaitUntil(
      [&] {
        return StandardOutput().find(text) != std::string::npos || StandardError().find(text) != std::string::npos;
      },
      limit);
}

std::vector<char*> CStringPointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& environment) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq != nullptr) merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : environment) merged[k] = v;
  std::vector<std::string> texts;
  for (const auto& [k, v] : merged) texts.push_back(k + "=" + v);
  return texts;
}

std::string BuildFolder() {
  const char* build = std::getenv("KEEP_BUILD_DIR");
  return build != nullptr ? build : KEEP_TEST_BUILD_DIR;
}

std::string BuiltProgram(const std::string& name) {
  const std::string root = BuildFolder();
  if (name == "keepd") return root + "/server/keepd";
  if (name == "mailout") return root + "/companions/mailout/mailout";
  if (name == "keepterm") return root + "/console/keepterm";
  return root + "/tools/" + name;
}

std::string SourceFolder() {
  const char* source = std::getenv("KEEP_SOURCE_DIR");
  return source != nullptr ? source : KEEP_TEST_SOURCE_DIR;
}

}  // namespace keep::test

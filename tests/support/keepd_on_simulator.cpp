#include "tests/support/keepd_on_simulator.h"

#include <signal.h>

#include <cstdio>

#include "tests/support/loopback_listener.h"
#include "tests/support/temp_dir.h"

namespace keep::test {

std::string Dword(const std::string& name, int value) {
  char number[16];
  std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(value));
  return "\"" + name + "\"=dword:" + number + "\n";
}

std::string Text(const std::string& name, const std::string& value) { return "\"" + name + "\"=\"" + value + "\"\n"; }

std::string EventLists(const std::vector<std::string>& lists) {
  std::string values = Dword("EventCounter", static_cast<int>(lists.size()));
  for (size_t i = 0; i < lists.size(); ++i) values += Text("Event" + std::to_string(i), lists[i]);
  return values;
}

int CountOccurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A log line is "date time", two spaces, the text and CR LF.
int CountLines(const std::string& log, const std::string& text) { return CountOccurrences(log, "  " + text + "\r\n"); }

void KeepdOnSimulator::TearDown() { StopKeepd(); }

void KeepdOnSimulator::StartUps(int protocol) {
  sim_ = std::make_unique<UpsSimulator>(UpsSimulator::Link::kPty, protocol, tree_.Folder());
  ASSERT_TRUE(sim_->Ready()) << sim_->Output();
}

bool KeepdOnSimulator::StartKeepd(const std::string& model, const std::string& values) {
  port_ = ClosedLoopbackPort();
  tree_.WriteHive(tree_.InstallPath(), "english.lng",
                  Text("UpsModelName", model) + Text("UpsDevice", sim_ ? sim_->SlavePath() : "") +
                      Dword("SrvListenPort", port_) + values);
  return RunKeepd();
}

bool KeepdOnSimulator::RunKeepd() {
  if (descriptor_limit_) {
    // The shell sets both limits, as a service manager would, then becomes keepd.
    const std::string script = "ulimit -n " + std::to_string(*descriptor_limit_) + " && exec \"$0\"";
    server_ = std::make_unique<ChildProcess>("/bin/sh", std::vector<std::string>{"-c", script, BuiltProgram("keepd")},
                                             tree_.Environment(), tree_.Folder());
    return server_->Started();
  }
  server_ = std::make_unique<ChildProcess>(BuiltProgram("keepd"), std::vector<std::string>{}, tree_.Environment(),
                                           tree_.Folder());
  return server_->Started();
}

std::optional<int> KeepdOnSimulator::StopKeepd() {
  if (server_ == nullptr) return std::nullopt;
  if (server_->Running()) server_->Signal(SIGTERM);
  return server_->WaitForExit(kLimit);
}

std::unique_ptr<KeepdClient> KeepdOnSimulator::Connect(const std::string& source) {
  std::unique_ptr<KeepdClient> client;
  WaitUntil([&] { return (client = KeepdClient::Connect(port_, source)) != nullptr; }, kLimit);
  return client;
}

bool KeepdOnSimulator::LogShows(const std::string& text, std::chrono::milliseconds limit) const {
  return WaitUntil([&] { return tree_.LogText().find(text) != std::string::npos; }, limit);
}

bool KeepdOnSimulator::WaitForLine(const std::string& text, int count, std::chrono::milliseconds limit) const {
  return WaitUntil([&] { return LogLines(text) >= count; }, limit);
}

std::string KeepdOnSimulator::ShutdownRequests() const {
  return ReadFileText(tree_.InstallPath() + "data/shutdown_requests.txt");
}

int KeepdOnSimulator::ScriptRuns() const { return CountOccurrences(ShutdownRequests(), "shutdown requested:"); }

std::vector<std::string> KeepdOnSimulator::SwitchOffQueries() const {
  std::vector<std::string> queries;
  const std::string recorded = sim_ ? sim_->RecordedQueries() : "";
  size_t start = 0;
  while (start < recorded.size()) {
    size_t end = recorded.find('\n', start);
    if (end == std::string::npos) end = recorded.size();
    if (recorded.compare(start, 1, "S") == 0) queries.push_back(recorded.substr(start, end - start));
    start = end + 1;
  }
  return queries;
}

}  // namespace keep::test

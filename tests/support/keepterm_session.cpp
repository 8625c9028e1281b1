#include "tests/support/keepterm_session.h"

#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/loopback_listener.h"

namespace keep::test {

std::string KeeptermPath() { return BuildFolder() + "/console/keepterm"; }

KeeptermSession::KeeptermSession(const std::vector<std::string>& arguments,
                                 const std::map<std::string, std::string>& environment)
    : term_(KeeptermPath(), arguments, environment) {}

KeeptermSession::KeeptermSession(const std::string& program, const std::vector<std::string>& arguments,
                                 const std::map<std::string, std::string>& environment)
    : term_(program, arguments, environment) {}

void KeeptermSession::ReadArrived() {
  // A text the screen never holds: each call reads one piece of what arrived, until nothing more did.
  for (size_t before = Screen().size() + 1; before != Screen().size();) {
    before = Screen().size();
    term_.WaitForScreen("\x01", std::chrono::milliseconds(0));
  }
}

std::string KeeptermSession::Plain() {
  ReadArrived();
  std::string text;
  text.reserve(Screen().size());
  for (const char c : Screen()) {
    if (c != '\r') text += c;
  }
  return text;
}

int KeeptermSession::Count(const std::string& text) { return CountOccurrences(Plain(), text); }

std::string KeeptermSession::From(const std::string& text) {
  const std::string screen = Plain();
  const size_t at = screen.rfind(text);
  return at == std::string::npos ? std::string() : screen.substr(at);
}

bool KeeptermSession::Shows(const std::string& text, int times, std::chrono::milliseconds limit) {
  return WaitUntil([&] { return Count(text) >= times; }, limit);
}

bool KeeptermSession::TypeAndWait(const std::string& keys, const std::string& text, int times,
                                  std::chrono::milliseconds limit) {
  Type(keys);
  return Shows(text, times, limit);
}

bool KeeptermSession::TypeAndWaitNext(const std::string& keys, const std::string& text,
                                      std::chrono::milliseconds limit) {
  return TypeAndWait(keys, text, Count(text) + 1, limit);
}

bool KeeptermSession::ConnectTo(int port, const std::string& host) {
  return Shows(kHostPrompt) && TypeAndWait(host + "\n", kPortPrompt, 1) &&
         TypeAndWait(std::to_string(port) + "\n", kMainPrompt, 1);
}

std::optional<int> KeeptermSession::Quit() {
  Type("q\n");
  return WaitForExit();
}

void KeeptermOnKeepd::StartServer(const std::string& values, int port) {
  ASSERT_NO_FATAL_FAILURE(StartUps(ups_protocol_));
  port_ = port != 0 ? port : ClosedLoopbackPort();
  tree_.WriteHive(tree_.InstallPath(), "english.lng",
                  Text("UpsModelName", ups_model_) + Text("UpsDevice", sim_->SlavePath()) +
                      Dword("SrvListenPort", port_) + values);
  ASSERT_TRUE(RunKeepd());
  const std::unique_ptr<KeepdClient> client = Connect();
  ASSERT_NE(nullptr, client) << server_->StandardError();
  ASSERT_TRUE(WaitUntil(
      [&] { return client->Ask("<|100|>").rfind("<|100|" + ups_model_ + "|", 0) == 0; }, kLimit))
      << server_->StandardError();
}

}  // namespace keep::test

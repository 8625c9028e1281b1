// A console connected to a scripted server that answers each request with recorded frames, for the
// tests of the menus and screens.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console/console_client.h"
#include "tests/console/console_fakes.h"

namespace keep::console::test {

class ScreenTest : public ::testing::Test {
 protected:
  ScreenTest() {
    link_.responder = [this](const std::string& request) -> std::vector<std::string> {
      std::lock_guard lock(answers_mutex_);
      const auto found = answers_.find(request);
      if (found == answers_.end()) return {};
      return found->second;
    };
    // Gives the receive thread time to store the answer between polls; a request left unanswered
    // times out after 400 polls, well under a second.
    pause_.on_wait = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  }

  // Recorded answer `frames` for the plain request `request` (e.g. "<|101|>").
  void Answer(const std::string& request, std::vector<std::string> frames) {
    std::lock_guard lock(answers_mutex_);
    answers_[request] = std::move(frames);
  }
  void Answer(const std::string& request, const std::string& frame) { Answer(request, std::vector{frame}); }

  // Connects to the scripted server and identifies a UPS of `kind` with `modules` installed.
  void Connect(int kind, int modules = 1) {
    Answer("<|100|>", "<|100|Keep LineGuard 1000|LineGuard|" + std::to_string(modules) + "|700|1000|2.1|SN42|LG1000|" +
                          std::to_string(kind) + "|Lab|secret|>");
    client_.State().host = "127.0.0.1";
    client_.State().port = "5769";
    client_.ConnectToServer(true);
    ASSERT_TRUE(client_.State().connected);
    ASSERT_TRUE(client_.SendRequest(100, true));
    client_.State().ups_present = true;
  }

  // The requests sent after the identification.
  std::vector<std::string> RequestsAfterIdentification() const {
    std::vector<std::string> requests = link_.Requests();
    if (!requests.empty() && requests.front() == "<|100|>") requests.erase(requests.begin());
    return requests;
  }

  // Whether `line` was written as a whole line.
  bool ShowsLine(const std::string& line) const { return out_.Shows("\n" + line + "\n"); }

  void TypeKey(char key) { in_.AddKey(KeyPress{key, 0}); }

  std::mutex answers_mutex_;
  std::map<std::string, std::vector<std::string>> answers_;
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  CountingPause pause_;
  ConsoleClient client_{io_, link_, pause_, RenderStyle::ForTerminal(true)};
};

}  // namespace keep::console::test

// A console client connected to a scripted server that has identified a UPS of a given kind, for
// the tests of the screens that change settings, run tests and edit the scheduler.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console/console_client.h"
#include "tests/console/console_fakes.h"

namespace keep::console::test {

class ActionsFixture : public ::testing::Test {
 protected:
  using Answer = std::function<std::vector<std::string>(const std::string& request)>;

  void SetUp() override {
    // Each poll of the answer flag gives the receive thread a moment to store the answer.
    pause_.on_wait = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    link_.responder = [this](const std::string& request) -> std::vector<std::string> {
      const size_t end = request.find('|', 2);
      if (request.rfind("<|", 0) != 0 || end == std::string::npos) return {};
      const auto answer = answers_.find(request.substr(2, end - 2));
      return answer == answers_.end() ? std::vector<std::string>{} : answer->second(request);
    };
  }

  // Connects and identifies a UPS of `kind` (active nominal power 700 W).
  void Connect(int kind) {
    On(100, {Identification(kind)});
    client_.State().host = "127.0.0.1";
    client_.State().port = "5769";
    client_.ConnectToServer(true);
    ASSERT_TRUE(client_.State().connected);
    ASSERT_TRUE(client_.SendRequest(100, true));
    client_.State().ups_present = true;
    ASSERT_EQ(kind, client_.UpsKind());
  }

  // The server answers requests of `code` with `frames`.
  void On(int code, std::vector<std::string> frames) {
    answers_[std::to_string(code)] = [frames](const std::string&) { return frames; };
  }
  void On(int code, Answer answer) { answers_[std::to_string(code)] = std::move(answer); }
  // The server answers requests of `code` by repeating their fields, as the setting requests do.
  void Echo(int code) {
    answers_[std::to_string(code)] = [](const std::string& request) { return std::vector<std::string>{request}; };
  }

  void Type(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) in_.AddLine(line);
  }

  // The requests sent after the identification.
  std::vector<std::string> Sent() const {
    std::vector<std::string> requests = link_.Requests();
    if (!requests.empty()) requests.erase(requests.begin());
    return requests;
  }

  // Declared first: the responder that reads it lives in the link, which the client outlives.
  std::map<std::string, Answer> answers_;
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  CountingPause pause_;
  ConsoleClient client_{io_, link_, pause_, RenderStyle::ForTerminal(true)};
};

}  // namespace keep::console::test

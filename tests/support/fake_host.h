// Fakes of the host services the server starts programs and shows boxes through. They record
// every call so a test can check the exact command lines and texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/process.h"

namespace keep::test {

struct StartedProgram {
  std::string program;
  std::string arguments;
  platform::StartOptions options;
};

// A program starter that starts nothing: it records the call and answers `result`.
class RecordingStarter {
 public:
  bool Start(const std::string& program, std::string_view arguments, const platform::StartOptions& options) {
    started.push_back({program, std::string(arguments), options});
    return result;
  }
  std::vector<StartedProgram> started;
  bool result = true;
};

class FakeDialogs final : public platform::Dialogs {
 public:
  struct Box {
    std::string caption;
    std::string text;
    int flags = 0;
  };
  int ShowMessageBox(std::string_view caption, std::string_view text, int flags) override {
    boxes.push_back({std::string(caption), std::string(text), flags});
    return platform::kIdOk;
  }
  bool AskYesNo(std::string_view caption, std::string_view text) override {
    questions.push_back({std::string(caption), std::string(text), platform::kMbYesNoQuestion});
    return answer_yes;
  }
  std::vector<Box> boxes;
  std::vector<Box> questions;
  bool answer_yes = false;
};

}  // namespace keep::test

// Message boxes of a program that usually runs without a desktop: on POSIX a box is a line on
// standard error and a question is asked on the controlling terminal.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace keep::platform {

// Flag values and answers keep their Windows numbers because the logic above passes them on.
inline constexpr int kMbIconError = 16;
inline constexpr int kMbYesNoQuestion = 36;
inline constexpr int kMbTaskModal = 8192;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows `text` with the caption; returns the button pressed (kIdOk for a plain box).
  virtual int ShowMessageBox(std::string_view caption, std::string_view text, int flags) = 0;
  // True only when a person answers yes; no terminal means no.
  virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;

  static std::unique_ptr<Dialogs> CreateSystem();
};

}  // namespace keep::platform

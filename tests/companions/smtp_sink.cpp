#include "tests/companions/smtp_sink.h"

#include <charconv>
#include <filesystem>

namespace keep::test {

namespace {

// Debian's interpreter, where python3-aiosmtpd installs: another python3 first on PATH lacks it.
constexpr char kPython[] = "/usr/bin/python3";
constexpr std::chrono::milliseconds kStartLimit{10000};

}  // namespace

bool SmtpSink::Available() {
  TempDir scratch;
  ChildProcess probe(kPython, {"-c", "import aiosmtpd.smtp"}, {}, scratch.path().string());
  return probe.Started() && probe.WaitForExit(kStartLimit) == 0;
}

SmtpSink::SmtpSink(const std::string& login, const std::string& password) {
  std::filesystem::create_directory(folder_.path() / "mail");
  process_ = std::make_unique<ChildProcess>(kPython,
                                            std::vector<std::string>{SourceFolder() + "/tests/companions/smtp_sink.py",
                                                                     folder_.File("mail"), login, password},
                                            std::map<std::string, std::string>{}, folder_.path().string());
  if (!process_->Started()) return;
  // Standard error may hold the library's warnings; the port comes on standard output.
  if (!WaitUntil([&] { return process_->StandardOutput().find('\n') != std::string::npos; }, kStartLimit)) return;
  const std::string out = process_->StandardOutput();
  if (!out.starts_with("port ")) return;
  int port = 0;
  const auto [end, error] = std::from_chars(out.data() + 5, out.data() + out.size(), port);
  if (error == std::errc() && *end == '\n') port_ = port;
}

std::vector<SmtpSink::Message> SmtpSink::Messages() const {
  std::vector<Message> messages;
  for (int n = 1;; ++n) {
    const std::string base = folder_.File("mail/" + std::to_string(n));
    if (!std::filesystem::exists(base + ".eml")) break;
    messages.push_back({ReadFileText(base + ".eml"), ReadFileText(base + ".txt")});
  }
  return messages;
}

bool SmtpSink::WaitForMessages(size_t count, std::chrono::milliseconds limit) const {
  return WaitUntil([&] { return Messages().size() >= count; }, limit);
}

}  // namespace keep::test

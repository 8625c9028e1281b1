// A server context on fakes: manual clocks, an in-memory registry, recorded programs and boxes,
// and an installation folder of its own with a language file the test writes.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "server/services/server_context.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_host.h"
#include "tests/support/fake_registry.h"
#include "tests/support/install_tree.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace keep::test {

inline constexpr char kGlobalsKey[] = "Software\\Corvane\\Voltrena\\Globals";
inline constexpr char kServerKey[] = "Software\\Corvane\\Voltrena\\Powerkeep";

class ServerTestEnv {
 public:
  // Manual clocks, unless `real_time`: tests with real devices and processes need real timers.
  explicit ServerTestEnv(server::ServerOptions options = {}, bool real_time = false)
      : clock_(*DateTime::FromCivil({2026, 12, 8, 14, 30, 5, 0})),
        real_monotonic_(platform::MonotonicClock::CreateReal()),
        real_wall_(platform::WallClock::CreateReal()),
        monotonic_(real_time ? *real_monotonic_ : static_cast<const platform::MonotonicClock&>(clock_)),
        wall_(real_time ? *real_wall_ : static_cast<const platform::WallClock&>(clock_)),
        loop_(monotonic_),
        environment_{loop_, monotonic_, wall_, registry_, dialogs_,
                     [this](const std::string& p, std::string_view a, const platform::StartOptions& o) {
                       return starter_.Start(p, a, o);
                     },
                     [this](std::string_view text) { echoed_.emplace_back(text); },
                     // No system log: a test that needs one gives the context its own writer.
                     nullptr, hid_.Factory()},
        context_(environment_, options) {
    install_ = temp_.path().string() + "/";
    std::filesystem::create_directories(temp_.path() / "languages");
    std::filesystem::create_directories(temp_.path() / "data");
    std::filesystem::create_directories(temp_.path() / "bin");
  }

  // Points the registry at this installation, writes its language file and selects a Megatec model
  // of the built model database on the slave side of ups().
  void Install(const std::string& language_text) {
    WriteFileText(install_ + "languages/test.lng", language_text);
    std::filesystem::copy_file(BuildFolder() + "/upsdb.ups", install_ + "bin/upsdb.ups",
                               std::filesystem::copy_options::overwrite_existing);
    registry_.SetString(kGlobalsKey, "InstallPath", install_);
    registry_.SetString(kGlobalsKey, "LanguageFile", "test.lng");
    registry_.SetString(kServerKey, "UpsModelName", kMegatecTestModel);
    registry_.SetString(kServerKey, "UpsDevice", ups_.SlavePath());
    // A free port for the client listener, so parallel tests never collide.
    registry_.SetDword(kServerKey, "SrvListenPort", 0);
  }

  std::string LogText() const { return ReadFileText(install_ + "data/ups_log.txt"); }
  // The texts of the log lines in order: each line is the date, the time, two blanks and the text.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    std::istringstream lines(LogText());
    for (std::string line; std::getline(lines, line);) {
      const size_t start = line.find("  ");
      if (start == std::string::npos) continue;
      std::string text = line.substr(start + 2);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      texts.push_back(text);
    }
    return texts;
  }

  platform::ManualClock& clock() { return clock_; }
  platform::EventLoop& loop() { return loop_; }
  // Runs the loop until `condition` holds, at most `limit` of real time (real-time environments).
  template <typename Condition>
  bool RunUntil(Condition condition, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
          loop_.RunDue();
          return condition();
        },
        limit);
  }
  FakeRegistry& registry() { return registry_; }
  FakeDialogs& dialogs() { return dialogs_; }
  RecordingStarter& starter() { return starter_; }
  const std::vector<std::string>& echoed() const { return echoed_; }
  server::ServerContext& context() { return context_; }
  const std::string& install() const { return install_; }
  PtyPair& ups() { return ups_; }
  // The USB devices a USB link of this server finds.
  FakeHidBus& hid() { return hid_; }

 private:
  TempDir temp_;
  std::string install_;
  PtyPair ups_;
  platform::ManualClock clock_;
  std::unique_ptr<platform::MonotonicClock> real_monotonic_;
  std::unique_ptr<platform::WallClock> real_wall_;
  const platform::MonotonicClock& monotonic_;
  const platform::WallClock& wall_;
  platform::EventLoop loop_;
  FakeRegistry registry_;
  FakeDialogs dialogs_;
  RecordingStarter starter_;
  std::vector<std::string> echoed_;
  FakeHidBus hid_;
  server::ServerEnvironment environment_;
  server::ServerContext context_;
};

}  // namespace keep::test

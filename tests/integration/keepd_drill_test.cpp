// keepd /DRILL as a real process on the shipped configuration: the whole road of a mains failure is
// printed, the reasons a road would not end in a shutdown are named, and nothing is ever acted on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/instance_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};

// Replaces the one line that starts with `start` (the line must be there).
void ReplaceLine(std::string& text, const std::string& start, const std::string& line) {
  const size_t at = text.find("\n" + start);
  ASSERT_NE(at, std::string::npos) << start;
  const size_t end = text.find('\n', at + 1);
  text.replace(at + 1, end - at - 1, line);
}

struct DrillRun {
  int status = -1;
  std::string out;
  std::string err;
};

class KeepdDrill : public ::testing::Test {
 protected:
  // The shipped hive with its installation folder pointing at the tree and its UPS model selected.
  std::string ShippedHive() {
    std::string hive = ReadFileText(SourceFolder() + "/dist/config/registry.reg");
    ReplaceLine(hive, "\"InstallPath\"=", "\"InstallPath\"=\"" + tree_.InstallPath() + "\"");
    ReplaceLine(hive, ";\"UpsModelName\"=", "\"UpsModelName\"=\"" + std::string(kMegatecTestModel) + "\"");
    return hive;
  }

  DrillRun Drill(const std::string& hive_text, const std::string& switch_text = "/DRILL") {
    WriteFileText(tree_.HivePath(), hive_text);
    return Run(tree_.Environment(), switch_text);
  }

  DrillRun Run(const std::map<std::string, std::string>& environment, const std::string& switch_text = "/DRILL") {
    ChildProcess keepd(BuiltProgram("keepd"), {switch_text}, environment, tree_.Folder());
    DrillRun run;
    const std::optional<int> status = keepd.WaitForExit(kLimit);
    EXPECT_TRUE(status.has_value()) << "the drill did not end";
    run.status = status.value_or(-1);
    run.out = keepd.StandardOutput();
    run.err = keepd.StandardError();
    return run;
  }

  InstallTree tree_;
};

// Each text is found after the one before it.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t from = 0;
  for (const std::string& part : parts) {
    const size_t at = text.find(part, from);
    ASSERT_NE(at, std::string::npos) << "missing (in this order): " << part << "\n" << text;
    from = at + part.size();
  }
}

TEST_F(KeepdDrill, ShippedConfigurationWalksTheWholeRoadToTheShutdown) {
  const DrillRun run = Drill(ShippedHive(), "/drill");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  const std::string script = tree_.InstallPath() + "script/system/lcldown.sh";
  ExpectInOrder(run.out, {
                             "UPS: \"Keep LineGuard 1000\" of the model database, protocol 1",
                             "The countdown ends by the server's autonomy estimate, 300 s",
                             "+0:00:00  event 6: mains failure",
                             "log line: Mains power failure - the UPS is running on battery",
                             "pop-up: Power failure on ",
                             "will shut down in about 5 minutes",
                             "starts " + tree_.InstallPath() + "bin/VNoteBox /T:0 \"/M:Power failure",
                             "+0:01:00  event 9: countdown notice (4)",
                             "log line: On battery - shutdown in 4 minutes",
                             "+0:02:00  event 9: countdown notice (3), actions as at +0:01:00",
                             "+0:03:00  event 9: countdown notice (2)",
                             "+0:04:00  event 9: countdown notice (1)",
                             "+0:05:00  event 10: shutdown of this computer",
                             "log line: Shutdown of this computer started",
                             "$SHUTDOWN",
                             "UPS switch-off request: the UPS switches off 180 s later and restarts 60 s after the "
                             "mains return",
                             "shutdown script: starts " + script,
                             "If the battery runs low first:",
                             "+0:00:00  event 8: low battery",
                             "asks for event 10",
                             "+0:00:00  event 10: shutdown of this computer",
                             "shutdown script: starts " + script,
                             "event 8 asks for the shutdown: event 10 follows at once",
                             "Result: this computer would be shut down +0:05:00 after the mains fail.",
                         });
  // One shutdown event on the road and nothing after it: the road ends there.
  const std::string road = run.out.substr(0, run.out.find("If the battery runs low first:"));
  EXPECT_EQ(road.find("event 10"), road.rfind("event 10"));
  EXPECT_EQ(road.find("+0:05:01"), std::string::npos);
}

TEST_F(KeepdDrill, NamesEachReasonTheRoadWouldNotEndInAShutdown) {
  struct Case {
    const char* what;
    std::string start;  // the hive line to replace, "" for none
    std::string line;
    bool remove_script;
    std::vector<std::string> reasons;
  };
  const std::string script = tree_.InstallPath() + "script/system/lcldown.sh";
  const std::vector<Case> cases{
      {"no $SHUTDOWN on event 10, only event 8 asks for it",
       "\"Event10\"=",
       "\"Event10\"=\"10|$LOG|$POPUP\"",
       false,
       {"keepd /DRILL: event 10 (shutdown of this computer) has no $SHUTDOWN action"}},
      {"shutdown disabled",
       "\"SrvDownEnabled\"=",
       "\"SrvDownEnabled\"=dword:00000000",
       false,
       {"keepd /DRILL: SrvDownEnabled is off"}},
      {"script missing", "", "", true, {"keepd /DRILL: the shutdown script " + script + " is missing"}},
      {"remote shutdown without host",
       "\"Event6\"=",
       "\"Event6\"=\"6|$LOG|$R_SHUT\"",
       false,
       {"keepd /DRILL: remote action not sent: event 6, $R_SHUT: Command not sent: no remote host given"}},
      {"remote message to a port out of range",
       "\"Event10\"=",
       "\"Event10\"=\"10|$R_MSG,backup,70000|$SHUTDOWN\"",
       false,
       {"event 10, $R_MSG,backup,70000: Command not sent to backup: port \"70000\" is not a number"}},
  };
  for (const Case& c : cases) {
    std::string hive = ShippedHive();
    if (!c.start.empty()) ReplaceLine(hive, c.start, c.line);
    if (c.remove_script) std::filesystem::rename(script, script + ".away");
    const DrillRun run = Drill(hive);
    if (c.remove_script) std::filesystem::rename(script + ".away", script);
    EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find("Result: the road does NOT end as it should"), std::string::npos) << c.what;
    for (const std::string& reason : c.reasons) {
      EXPECT_NE(run.err.find(reason), std::string::npos) << c.what << "\n" << run.err;
    }
    // One line per reason, and only those.
    EXPECT_EQ(static_cast<size_t>(std::count(run.err.begin(), run.err.end(), '\n')), c.reasons.size()) << c.what << "\n"
                                                                                                       << run.err;
  }
}

TEST_F(KeepdDrill, SetupKeepdCannotStartWithGivesItsFirstContactMessage) {
  const DrillRun no_hive = Run({{"VOLTRENA_REGISTRY", tree_.Folder() + "/missing.reg"}});
  EXPECT_NE(no_hive.status, 0);
  EXPECT_NE(no_hive.err.find("missing.reg does not exist"), std::string::npos) << no_hive.err;
  EXPECT_EQ(no_hive.out, "");

  tree_.WriteHive("", "english.lng");
  const DrillRun no_install_path = Run(tree_.Environment());
  EXPECT_NE(no_install_path.status, 0);
  EXPECT_NE(no_install_path.err.find("no installation folder"), std::string::npos) << no_install_path.err;
}

TEST_F(KeepdDrill, StartsSendsAndWritesNothingAndRunsBesideTheServer) {
  LoopbackListener agent;
  ASSERT_TRUE(agent.Ok());
  const std::string port = std::to_string(agent.Port());
  std::string hive = ShippedHive();
  char nut_port[16];
  std::snprintf(nut_port, sizeof nut_port, "%08x", ClosedLoopbackPort());
  ReplaceLine(hive, "\"Event6\"=",
              "\"Event6\"=\"6|$POPUP|$EMAIL,admin@example|$L_SHELL," + tree_.InstallPath() +
                  "bin/mailout|$R_SHUT,127.0.0.1," + port + "|$R_MSG,127.0.0.1," + port +
                  "|$LOG\"\n\"EmailServer\"=\"mail.example\"\n" +
                  "\"EmailUseAuth\"=dword:00000001\n\"EmailLogin\"=\"ups\"\n\"EmailSender\"=\"ups@"
                  "example\"\n\"NutListenPort\"=dword:" +
                  nut_port);
  const std::string log = tree_.InstallPath() + "data/ups_log.txt";
  WriteFileText(log, "01/12/2026 10:00:00  an earlier line\n");
  // The real server's lock, held while the drill runs.
  std::unique_ptr<platform::InstanceLock> lock;
  std::string error;
  ASSERT_EQ(platform::InstanceLock::Acquire(tree_.Folder(), "HlvPowerkeep", &lock, &error),
            platform::InstanceLock::Result::kAcquired)
      << error;

  const DrillRun run = Drill(hive);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ExpectInOrder(run.out, {"+0:00:00  event 6: mains failure", "pop-up: Power failure",
                          "e-mail: starts " + tree_.InstallPath() + "bin/mailout -a:\"mail.example\"",
                          "-r:\"admin@example\"", "starts " + tree_.InstallPath() + "bin/mailout",
                          "remote command to 127.0.0.1:" + port + ": shut that computer down",
                          "remote command to 127.0.0.1:" + port + ": show a message", "message: ", "Power failure on",
                          "log line: Mains power failure",
                          "secondaries on the UPS network protocol: told to shut down (FSD), waited for up to 15 s",
                          "shutdown script: starts"});

  namespace fs = std::filesystem;
  EXPECT_FALSE(fs::exists(tree_.InstallPath() + "data/companion_calls.txt"));
  EXPECT_FALSE(fs::exists(tree_.InstallPath() + "data/shutdown_requests.txt"));
  EXPECT_FALSE(agent.Accept(milliseconds(200))) << "the drill connected to the remote agent";
  EXPECT_EQ(ReadFileText(log), "01/12/2026 10:00:00  an earlier line\n");
  EXPECT_EQ(ReadFileText(tree_.HivePath()), hive);
}

}  // namespace
}  // namespace keep::test

// Other computers on the same UPS, watching it through keepd's network protocol listener as
// secondaries: when keepd's own shutdown begins they are told (FSD) and waited for, and keepd's
// script still runs once. The secondary is the real `upsmon` of Debian's nut-client, with a private
// configuration whose shutdown command only writes a line next to the one keepd's script writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/keepd_on_simulator.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr char kUpsmon[] = "/lib/nut/upsmon";
constexpr char kIdentified[] = "UPS identified: Keep LineGuard 1000";
constexpr char kShutdown[] = "Shutdown of this computer started";
constexpr char kAllGone[] = "UPS network protocol: every secondary has logged out";
constexpr char kSecondaryDown[] = "secondary down";
constexpr milliseconds kShutdownLimit{60000};

class KeepdNutSecondary : public KeepdOnSimulator {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kUpsmon)) << "upsmon missing: scripts/test installs the nut-client package";
    if (::geteuid() != 0) GTEST_SKIP() << "upsmon runs in a mount namespace of its own, which needs root";
    ASSERT_NO_FATAL_FAILURE(StartUps(1));
    nut_port_ = ClosedLoopbackPort();
  }
  void TearDown() override {
    if (upsmon_ != nullptr) upsmon_->Signal(SIGTERM);
    KeepdOnSimulator::TearDown();
  }

  // keepd on battery shuts down after a 4 s fixed time (no low battery, which secondaries would act
  // on by themselves), switching the UPS off 3 minutes later.
  void Start(int host_sync_seconds) {
    ASSERT_TRUE(StartKeepd(kMegatecTestModel,
                           Dword("SrvPollingUps", 1) + Dword("NutListenPort", nut_port_) +
                               Text("NutMonitorUser", "monuser") + Text("NutMonitorPassword", "pass") +
                               Dword("NutHostSyncSeconds", host_sync_seconds) + Dword("UpsFixedTime", 4) +
                               Dword("UpsOffEnabled", 1) + Dword("UpsOffDelay", 180) + Dword("UpsOnEnabled", 1) +
                               Dword("UpsOnDelay", 60) + EventLists({"2|$LOG", "10|$LOG|$SHUTDOWN"})));
    ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText() << server_->StandardError();
  }

  // upsmon as a secondary of keepd, polling every second, shutting "down" at once by adding a line
  // to the file keepd's script records in.
  void StartUpsmon() {
    const std::string conf = upsmon_dir_.File("upsmon.conf");
    WriteFileText(conf,
                  "RUN_AS_USER root\n"
                  "MONITOR ups@127.0.0.1:" +
                      std::to_string(nut_port_) +
                      " 1 monuser pass secondary\n"
                      "MINSUPPLIES 1\n"
                      "SHUTDOWNCMD \"/bin/sh -c 'echo " +
                      std::string(kSecondaryDown) + " >> " + tree_.InstallPath() +
                      "data/shutdown_requests.txt'\"\n"
                      "POLLFREQ 1\nPOLLFREQALERT 1\nHOSTSYNC 15\nDEADTIME 15\nFINALDELAY 0\n"
                      "POWERDOWNFLAG " +
                      upsmon_dir_.File("killpower") + "\n");
    std::filesystem::permissions(conf, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const std::map<std::string, std::string> environment{{"NUT_CONFPATH", upsmon_dir_.path().string()},
                                                         {"NUT_STATEPATH", upsmon_dir_.path().string()},
                                                         {"NUT_ALTPIDPATH", upsmon_dir_.path().string()}};
    // upsmon keeps its PID file at a fixed /run/nut/upsmon.pid and refuses to start while the PID there
    // is alive; with PIDs wrapping at 32768 during a build, a stale file names a live process now and
    // then. Its own mount namespace with an empty /run leaves the machine's file alone. unshare and
    // the shell exec, so the process started is upsmon itself.
    const std::string command =
        "mount -t tmpfs tmpfs /run && mkdir /run/nut && exec " + std::string(kUpsmon) + " -F -p";
    upsmon_ =
        std::make_unique<ChildProcess>("/usr/bin/unshare", std::vector<std::string>{"-m", "/bin/sh", "-c", command},
                                       environment, upsmon_dir_.path().string());
    ASSERT_TRUE(upsmon_->Started());
  }

  // NUMLOGINS as a plain client reads it.
  std::string NumLogins() {
    std::unique_ptr<Peer> peer = Peer::Connect(nut_port_);
    if (peer == nullptr) return "";
    peer->Send("GET NUMLOGINS ups\n");
    return peer->ReadUntil('\n');
  }

  int nut_port_ = -1;
  TempDir upsmon_dir_;
  std::unique_ptr<ChildProcess> upsmon_;
};

TEST_F(KeepdNutSecondary, ASecondaryIsToldAndGoesDownBeforeTheScriptWhichRunsOnce) {
  ASSERT_NO_FATAL_FAILURE(Start(15));
  ASSERT_NO_FATAL_FAILURE(StartUpsmon());
  ASSERT_TRUE(WaitUntil([&] { return NumLogins() == "NUMLOGINS ups 1\r\n"; }, kLimit))
      << NumLogins() << upsmon_->StandardOutput() << upsmon_->StandardError();

  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, kShutdownLimit)) << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return !SwitchOffQueries().empty(); }, kLimit)) << sim_->RecordedQueries();
  std::this_thread::sleep_for(milliseconds(2500));

  // The secondary went down on FSD alone (the battery was never low), logged out, and only then did
  // keepd's script run; once.
  const std::string recorded = ShutdownRequests();
  const size_t secondary = recorded.find(kSecondaryDown);
  ASSERT_NE(std::string::npos, secondary) << recorded << upsmon_->StandardError();
  EXPECT_LT(secondary, recorded.find("shutdown requested:")) << recorded;
  EXPECT_EQ(1, ScriptRuns()) << recorded;
  EXPECT_EQ(1, LogLines(kShutdown)) << tree_.LogText();
  EXPECT_EQ(1, LogLines(kAllGone)) << tree_.LogText();
  EXPECT_EQ(1, LogLines("UPS network protocol: forced shutdown, waiting up to 15 s for 1 logged-in secondaries to "
                        "log out"))
      << tree_.LogText();
  EXPECT_EQ(std::vector<std::string>{"S03R0001"}, SwitchOffQueries()) << sim_->RecordedQueries();
  // The status stays FSD for whoever asks later.
  std::unique_ptr<Peer> peer = Peer::Connect(nut_port_);
  ASSERT_NE(nullptr, peer);
  peer->Send("GET VAR ups ups.status\n");
  EXPECT_EQ("VAR ups ups.status \"OB FSD\"\r\n", peer->ReadUntil('\n'));
}

TEST_F(KeepdNutSecondary, ASecondaryThatStaysIsWaitedForOnlyTheHostSyncTime) {
  ASSERT_NO_FATAL_FAILURE(Start(3));
  // A monitor that logs in and never reacts.
  std::unique_ptr<Peer> stubborn = Peer::Connect(nut_port_);
  ASSERT_NE(nullptr, stubborn);
  for (const char* line : {"USERNAME monuser\n", "PASSWORD pass\n", "LOGIN ups\n"}) {
    stubborn->Send(line);
    ASSERT_EQ("OK\r\n", stubborn->ReadUntil('\n')) << line;
  }

  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(WaitForLine(kShutdown, 1, kShutdownLimit)) << tree_.LogText();
  // Not before the wait is over, and then once.
  EXPECT_EQ(0, ScriptRuns()) << ShutdownRequests();
  ASSERT_TRUE(WaitForLine("UPS network protocol: 1 secondaries still logged in after 3 s, shutting down without them"))
      << tree_.LogText();
  ASSERT_TRUE(WaitUntil([&] { return ScriptRuns() >= 1; }, kLimit)) << tree_.LogText();
  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_EQ(1, ScriptRuns()) << ShutdownRequests();
  // The monitor heard FSD all along.
  stubborn->Send("GET VAR ups ups.status\n");
  EXPECT_EQ("VAR ups ups.status \"OB FSD\"\r\n", stubborn->ReadUntil('\n'));
}

}  // namespace
}  // namespace keep::test

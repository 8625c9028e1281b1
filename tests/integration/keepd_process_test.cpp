// keepd as a real process on an installation and hive of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include "common/scrambling.h"
#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pty_pair.h"
#include "tests/support/pty_process.h"
#include "tests/support/upssim_process.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};

// keepd on a fresh installation whose hive selects a Megatec model on a pty: the test holds the
// master side, where the UPS would be.
class KeepdProcess : public ::testing::Test {
 protected:
  KeepdProcess() { UseDevice(ups_.SlavePath()); }

  void UseDevice(const std::string& device, const std::string& more_values = "") {
    tree_.WriteHive(tree_.InstallPath(), "english.lng", InstallTree::SerialUpsValues(device) + more_values);
  }

  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments = {}) {
    return std::make_unique<ChildProcess>(BuiltProgram("keepd"), arguments, tree_.Environment(), tree_.Folder());
  }
  // The server has run its start sequence once the session line is in its log.
  bool WaitForSessionStart() {
    return WaitUntil([&] { return tree_.LogText().find("Powerkeep server started") != std::string::npos; }, kLimit);
  }

  PtyPair ups_;
  InstallTree tree_;
};

TEST_F(KeepdProcess, SecondInstanceIsRefusedWhileTheFirstRunsOn) {
  auto first = Start();
  ASSERT_TRUE(first->Started());
  ASSERT_TRUE(WaitForSessionStart());

  auto second = Start();
  const auto second_status = second->WaitForExit(kLimit);
  ASSERT_TRUE(second_status.has_value());
  EXPECT_NE(0, *second_status);
  EXPECT_NE(std::string::npos, second->StandardError().find("Powerkeep already running !"));

  EXPECT_TRUE(first->Running());
  first->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), first->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, TerminateSignalEndsWithStatusZero) {
  auto server = Start({"/debug", "/Srv"});
  ASSERT_TRUE(WaitForSessionStart());
  server->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, InterruptWithoutTerminalStopsAtOnce) {
  auto server = Start();
  ASSERT_TRUE(WaitForSessionStart());
  server->Signal(SIGINT);
  EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, InstanceLockIsFreedWhenTheServerEnds) {
  auto first = Start();
  ASSERT_TRUE(WaitForSessionStart());
  first->Signal(SIGTERM);
  ASSERT_EQ(std::optional<int>(0), first->WaitForExit(kLimit));

  auto second = Start();
  const auto sessions = [&] {
    const std::string log = tree_.LogText();
    size_t count = 0;
    for (size_t at = log.find("Powerkeep server started"); at != std::string::npos;
         at = log.find("Powerkeep server started", at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_TRUE(WaitUntil([&] { return sessions() == 2; }, kLimit));
  EXPECT_TRUE(second->Running());
  EXPECT_EQ(std::string::npos, second->StandardError().find("already running"));
  second->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), second->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, InterruptOnATerminalAsksBeforeStopping) {
  PtyProcess server(BuiltProgram("keepd"), {}, tree_.Environment());
  ASSERT_TRUE(WaitForSessionStart());
  const std::string question = "Stop the Powerkeep server? The UPS will no longer be watched. [y/N] ";

  server.Type("\x03");
  ASSERT_TRUE(server.WaitForScreen(question, kLimit)) << server.Screen();
  server.Type("n\n");
  EXPECT_FALSE(server.WaitForExit(milliseconds(300)).has_value()) << "a no must keep the server running";

  server.Type("\x03");
  ASSERT_TRUE(WaitUntil(
      [&] {
        server.WaitForScreen("", milliseconds(10));
        size_t asked = 0;
        for (size_t at = server.Screen().find(question); at != std::string::npos;
             at = server.Screen().find(question, at + 1)) {
          ++asked;
        }
        return asked == 2;
      },
      kLimit))
      << server.Screen();
  server.Type("y\n");
  EXPECT_EQ(std::optional<int>(0), server.WaitForExit(kLimit));
}

TEST_F(KeepdProcess, InterruptInServiceModeStopsWithoutAsking) {
  PtyProcess server(BuiltProgram("keepd"), {"/SRV"}, tree_.Environment());
  ASSERT_TRUE(WaitForSessionStart());
  server.Type("\x03");
  EXPECT_EQ(std::optional<int>(0), server.WaitForExit(kLimit));
  EXPECT_EQ(std::string::npos, server.Screen().find("[y/N]"));
}

TEST_F(KeepdProcess, HoldsTheSerialDeviceOfTheSettings) {
  auto server = Start({"/DEBUG"});
  ASSERT_TRUE(WaitForSessionStart());
  // Its wake-up shows the line is open.
  const std::string debug_log = tree_.InstallPath() + "data/ups_debug.txt";
  ASSERT_TRUE(WaitUntil([&] { return ReadFileText(debug_log).find(")01)0D \r\n") != std::string::npos; }, kLimit));

  // A second server (with a hive, and so an instance lock, of its own) cannot open the same device.
  InstallTree other;
  other.WriteHive(other.InstallPath(), "english.lng", InstallTree::SerialUpsValues(ups_.SlavePath()));
  ChildProcess second(BuiltProgram("keepd"), {}, other.Environment(), other.Folder());
  const auto status = second.WaitForExit(kLimit);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(1, *status);
  EXPECT_NE(std::string::npos, second.StandardError().find("Powerkeep could not start\r\nThe UPS device " +
                                                           ups_.SlavePath() + " cannot be opened."))
      << second.StandardError();
  EXPECT_TRUE(server->Running());
  server->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, DebugSwitchKeepsATrafficLogOfReceivedBytes) {
  auto server = Start({"/DEBUG"});
  ASSERT_TRUE(WaitForSessionStart());
  const std::string debug_log = tree_.InstallPath() + "data/ups_debug.txt";
  // The wake-up it sends shows the line is open; bytes written before that would wait unreported.
  ASSERT_TRUE(WaitUntil([&] { return ReadFileText(debug_log).find(")01)0D \r\n") != std::string::npos; }, kLimit));
  ups_.WriteMaster("(230");
  EXPECT_TRUE(
      WaitUntil([&] { return ReadFileText(debug_log).find("02)28 32 33 30 \r\n") != std::string::npos; }, kLimit))
      << ReadFileText(debug_log);
  server->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
}

TEST_F(KeepdProcess, MissingDeviceStopsWithTheDeviceError) {
  UseDevice("/dev/no-such-ups");
  auto server = Start();
  ASSERT_EQ(std::optional<int>(1), server->WaitForExit(kLimit));
  EXPECT_NE(std::string::npos, server->StandardError().find("The UPS device /dev/no-such-ups cannot be opened."));
  // The note-box program of the installation shows it (its stand-in records the call).
  const std::string calls = tree_.InstallPath() + "data/companion_calls.txt";
  const std::string expected =
      "--- notebox\n/M:Powerkeep could not start\r\nThe UPS device /dev/no-such-ups cannot be opened.\n/I:16\n";
  EXPECT_TRUE(WaitUntil([&] { return ReadFileText(calls) == expected; }, kLimit)) << ReadFileText(calls);
}

TEST_F(KeepdProcess, DamagedModelDatabaseStopsWithTheDatabaseError) {
  WriteFileText(tree_.InstallPath() + "bin/upsdb.ups", "0123456789ABCDEF\nnot a database\n");
  auto server = Start();
  ASSERT_EQ(std::optional<int>(1), server->WaitForExit(kLimit));
  EXPECT_NE(std::string::npos, server->StandardError().find(
                                   "Powerkeep could not start\r\nError on the UPS link or in the UPS model database."))
      << server->StandardError();
}

TEST_F(KeepdProcess, UnknownModelStopsWithTheModelError) {
  tree_.WriteHive(tree_.InstallPath(), "english.lng", "\"UpsDevice\"=\"" + ups_.SlavePath() + "\"\n");
  auto server = Start();
  ASSERT_EQ(std::optional<int>(1), server->WaitForExit(kLimit));
  EXPECT_NE(std::string::npos, server->StandardError().find("No UPS model is selected"));
}

class KeepdOnSimulator : public KeepdProcess {
 protected:
  // keepd with /DEBUG identifies the simulated UPS at start: "I" then "Q1" (protocol 1), and its
  // traffic log shows both directions.
  void ExpectIdentifiedWithTrafficLog(UpsSimulator& sim) {
    auto server = Start({"/DEBUG"});
    ASSERT_TRUE(WaitForSessionStart());
    EXPECT_TRUE(WaitUntil([&] { return sim.RecordedQueries() == "I\nQ1\n"; }, kLimit)) << sim.RecordedQueries();
    const std::string debug_log = tree_.InstallPath() + "data/ups_debug.txt";
    EXPECT_TRUE(WaitUntil(
        [&] {
          const std::string log = ReadFileText(debug_log);
          // The wake-up CR, "I" CR sent; an answer starting with "#" and one with "(" received.
          return log.find(")01)0D \r\n") != std::string::npos && log.find("01)49 0D \r\n") != std::string::npos &&
                 log.find("02)23 ") != std::string::npos && log.find("02)28 ") != std::string::npos;
        },
        kLimit))
        << ReadFileText(debug_log);
    server->Signal(SIGTERM);
    EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
  }
};

TEST_F(KeepdOnSimulator, IdentifiesTheUpsAtStartOverASerialLine) {
  UpsSimulator sim(UpsSimulator::Link::kPty, 1, tree_.Folder());
  ASSERT_TRUE(sim.Ready()) << sim.Output();
  UseDevice(sim.SlavePath());
  ExpectIdentifiedWithTrafficLog(sim);
}

TEST_F(KeepdOnSimulator, IdentifiesTheUpsAtStartOverTheNetworkAdapter) {
  UpsSimulator sim(UpsSimulator::Link::kTcp, 1, tree_.Folder());
  ASSERT_TRUE(sim.Ready()) << sim.Output();
  UseDevice(
      "", "\"UpsManType\"=dword:00000002\n\"UpsNetCardAddress\"=\"127.0.0.1:" + std::to_string(sim.TcpPort()) + "\"\n");
  ExpectIdentifiedWithTrafficLog(sim);
}

TEST_F(KeepdOnSimulator, AnswersClientRequestsOverTcp) {
  UpsSimulator sim(UpsSimulator::Link::kPty, 1, tree_.Folder());
  ASSERT_TRUE(sim.Ready()) << sim.Output();
  const int port = ClosedLoopbackPort();
  UseDevice(
      sim.SlavePath(), "\"SrvListenPort\"=dword:" + [&] {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", port);
        return std::string(hex);
      }());
  auto server = Start();
  ASSERT_TRUE(WaitForSessionStart());
  // Identified: the UPS's first status answer is in.
  ASSERT_TRUE(WaitUntil([&] { return sim.RecordedQueries() == "I\nQ1\n"; }, kLimit)) << sim.RecordedQueries();

  std::unique_ptr<Peer> client;
  ASSERT_TRUE(WaitUntil([&] { return (client = Peer::Connect(port)) != nullptr; }, kLimit));
  const auto ask = [&](const std::string& frame) {
    client->Send(ScrambleText(frame) + "\r\n");
    std::string line = client->ReadUntil('\n', kLimit);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return UnscrambleText(line);
  };
  // The simulator's status: mains, no anomaly, load 34 %, no temperature from this protocol variant.
  std::string answer;
  ASSERT_TRUE(WaitUntil([&] { return (answer = ask("<|101|>")).rfind("<|101|0|0|340|&|", 0) == 0; }, kLimit)) << answer;
  EXPECT_EQ("<|502|>", ask("<|101|x|>"));
  EXPECT_EQ("<|502|>", ask("101"));
  EXPECT_EQ("<|502|>", ask("<|139|4|>"));
  EXPECT_EQ("<|110|1|>", ask("<|110|>")) << "queued; this protocol variant answers it from the data held";

  server->Signal(SIGTERM);
  EXPECT_EQ(std::optional<int>(0), server->WaitForExit(kLimit));
  EXPECT_TRUE(client->SeesEnd(kLimit)) << "the stop sequence closes the client connections";
}

class KeepdInvalidSetup : public KeepdProcess {
 protected:
  void ExpectInvalidSetupExit() {
    auto server = Start();
    const auto status = server->WaitForExit(kLimit);
    ASSERT_TRUE(status.has_value()) << "keepd kept running on an invalid setup";
    EXPECT_EQ(1, *status);
    EXPECT_NE(std::string::npos,
              server->StandardError().find("Invalid setup.\r\n Pls. uninstall and then install this software again."));
  }
};

TEST_F(KeepdInvalidSetup, MissingLanguageFileEndsWithoutRunning) {
  tree_.WriteHive(tree_.InstallPath(), "klingon.lng");
  ExpectInvalidSetupExit();
  // The installation folder is known, so the failure is logged; the session never started.
  EXPECT_NE(std::string::npos, tree_.LogText().find("  - Invalid setup.\r\n Pls. uninstall"));
  EXPECT_EQ(std::string::npos, tree_.LogText().find("Powerkeep server started"));
}

}  // namespace
}  // namespace keep::test

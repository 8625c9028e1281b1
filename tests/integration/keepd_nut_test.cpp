// keepd's listener of the plain-text UPS network protocol as the tools people run against UPS
// servers see it: the real `upsc` (Debian's nut-client) and raw connections against keepd on upssim,
// real processes on loopback. The simulated UPS goes through mains, battery, low battery and silence.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/keepd_client.h"
#include "tests/support/keepd_on_simulator.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/loopback_peer.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr char kIdentified[] = "UPS identified: Keep LineGuard 1000";
constexpr char kUpsc[] = "/usr/bin/upsc";

struct UpscRun {
  std::optional<int> status;
  std::string out;
  std::string err;
};

class KeepdNut : public KeepdOnSimulator {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kUpsc)) << "upsc missing: scripts/test installs the nut-client package";
    ASSERT_NO_FATAL_FAILURE(StartUps(1));
    nut_port_ = ClosedLoopbackPort();
    ASSERT_TRUE(StartKeepd(kMegatecTestModel, Dword("SrvPollingUps", 1) + Dword("NutListenPort", nut_port_) +
                                                  Text("NutMonitorUser", "monuser") +
                                                  Text("NutMonitorPassword", "pass") + EventLists({"2|$LOG"})));
    ASSERT_TRUE(WaitForLine(kIdentified)) << tree_.LogText() << server_->StandardError();
  }

  // upsc with `arguments` after the UPS's address, at most kLimit.
  UpscRun Upsc(const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> all{"ups@127.0.0.1:" + std::to_string(nut_port_)};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ChildProcess upsc(kUpsc, all, {}, tree_.Folder());
    UpscRun run;
    run.status = upsc.WaitForExit(kLimit);
    run.out = upsc.StandardOutput();
    run.err = upsc.StandardError();
    return run;
  }
  // Whether `upsc ... ups.status` prints `words` within `limit`.
  bool StatusBecomes(const std::string& words, milliseconds limit = kLimit) {
    std::string last;
    const bool seen = WaitUntil(
        [&] {
          last = Upsc({"ups.status"}).out;
          if (last == words + "\n") return true;
          std::this_thread::sleep_for(milliseconds(200));
          return false;
        },
        limit);
    EXPECT_TRUE(seen) << "want \"" << words << "\", last \"" << last << "\"";
    return seen;
  }
  std::unique_ptr<Peer> ConnectNut() {
    std::unique_ptr<Peer> peer = Peer::Connect(nut_port_);
    EXPECT_TRUE(peer != nullptr && peer->Ok());
    return peer;
  }
  static std::string Ask(Peer& peer, const std::string& line) {
    peer.Send(line + "\n");
    return peer.ReadUntil('\n');
  }

  int nut_port_ = -1;
};

TEST_F(KeepdNut, UpscListsTheSimulatedUpsAndFollowsItsStatus) {
  ASSERT_EQ("OK\n", sim_->Command("set vin 231"));
  ASSERT_EQ("OK\n", sim_->Command("set vout 229"));
  ASSERT_EQ("OK\n", sim_->Command("set load 37"));
  UpscRun run;
  const bool listed = WaitUntil(
      [&] {
        run = Upsc();
        if (run.status == 0 && run.out.find("ups.load: 37\n") != std::string::npos) return true;
        std::this_thread::sleep_for(milliseconds(200));
        return false;
      },
      kLimit);
  ASSERT_TRUE(listed) << run.out << run.err;
  for (const char* line : {"ups.status: OL\n", "input.voltage: 231\n", "output.voltage: 229\n",
                           "device.model: Keep LineGuard 1000\n", "device.mfr: Keep\n", "device.type: ups\n",
                           "driver.name: keepd\n", "battery.charge: ", "battery.runtime: ", "ups.beeper.status: "}) {
    EXPECT_NE(std::string::npos, run.out.find(line)) << line << " in:\n" << run.out;
  }
  // Protocol 1 reports no temperature: the variable is absent, not a made-up number.
  EXPECT_EQ(std::string::npos, run.out.find("ups.temperature")) << run.out;

  ASSERT_EQ("OK\n", sim_->Command("set battery"));
  ASSERT_TRUE(StatusBecomes("OB"));
  ASSERT_EQ("OK\n", sim_->Command("set lowbattery"));
  ASSERT_TRUE(StatusBecomes("OB LB"));
  ASSERT_EQ("OK\n", sim_->Command("set mains"));
  ASSERT_TRUE(StatusBecomes("OL"));
}

TEST_F(KeepdNut, ASilentUpsIsReportedAsStaleOrLostAndComesBack) {
  ASSERT_TRUE(StatusBecomes("OL"));
  ASSERT_EQ("OK\n", sim_->Command("fault silent on"));
  UpscRun run;
  const bool refused = WaitUntil(
      [&] {
        run = Upsc({"ups.status"});
        if (run.status != 0) return true;
        std::this_thread::sleep_for(milliseconds(200));
        return false;
      },
      milliseconds(30000));
  ASSERT_TRUE(refused) << run.out;
  EXPECT_TRUE(run.err.find("Data stale") != std::string::npos ||
              run.err.find("Driver not connected") != std::string::npos)
      << run.err;
  EXPECT_EQ("", run.out);
  // Once the link is given up, a raw client hears the lost driver.
  auto peer = ConnectNut();
  ASSERT_TRUE(peer);
  std::string answer;
  EXPECT_TRUE(WaitUntil(
      [&] {
        answer = Ask(*peer, "GET VAR ups ups.status");
        if (answer == "ERR DRIVER-NOT-CONNECTED\r\n") return true;
        std::this_thread::sleep_for(milliseconds(200));
        return false;
      },
      milliseconds(30000)))
      << answer;

  ASSERT_EQ("OK\n", sim_->Command("fault silent off"));
  EXPECT_TRUE(StatusBecomes("OL", milliseconds(60000)));
}

TEST_F(KeepdNut, MalformedRequestsGetTheirErrorAndBothProtocolsKeepServing) {
  auto peer = ConnectNut();
  ASSERT_TRUE(peer);
  std::string many_words = "GET VAR ups";
  // 10,000 words, well within the line limit.
  for (int i = 0; i < 10'000; ++i) many_words += " v";
  const struct {
    std::string line;
    std::string answer;
  } cases[] = {
      {"GET VAR \"ups ups.status", "ERR INVALID-ARGUMENT\r\n"},
      {many_words, "ERR INVALID-ARGUMENT\r\n"},
      {std::string("\x00\x01\xfe\xff GET", 8), "ERR INVALID-ARGUMENT\r\n"},
      {"FROBNICATE ups", "ERR UNKNOWN-COMMAND\r\n"},
      {"SET VAR ups ups.delay.shutdown 5", "ERR USERNAME-REQUIRED\r\n"},
      {"INSTCMD ups beeper.toggle", "ERR USERNAME-REQUIRED\r\n"},
      {"FSD ups", "ERR USERNAME-REQUIRED\r\n"},
      {"GET VAR ups no.such.var", "ERR VAR-NOT-SUPPORTED\r\n"},
      {"GET VAR other ups.status", "ERR UNKNOWN-UPS\r\n"},
      {"STARTTLS", "ERR FEATURE-NOT-CONFIGURED\r\n"},
      // The same connection still answers.
      {"get var UPS ups.status", "VAR UPS ups.status \"OL\"\r\n"},
      {"USERNAME monuser", "OK\r\n"},
      {"PASSWORD pass", "OK\r\n"},
      {"LOGIN ups", "OK\r\n"},
      {"GET NUMLOGINS ups", "NUMLOGINS ups 1\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer, Ask(*peer, c.line)) << c.line.substr(0, 40);

  // A line of 1 MiB is refused, and that connection alone ends.
  auto flooder = ConnectNut();
  ASSERT_TRUE(flooder);
  // Should keepd close before taking it all, the rest of the write fails instead of ending the test.
  std::signal(SIGPIPE, SIG_IGN);
  flooder->Send(std::string(1024 * 1024, 'x'));
  EXPECT_EQ("ERR INVALID-ARGUMENT\r\n", flooder->ReadUntil('\n'));
  EXPECT_TRUE(flooder->SeesEnd(kLimit));

  EXPECT_EQ("NUMLOGINS ups 1\r\n", Ask(*peer, "GET NUMLOGINS ups"));
  // Both protocols still serve.
  EXPECT_EQ("OL\n", Upsc({"ups.status"}).out);
  auto client = Connect();
  ASSERT_NE(nullptr, client);
  EXPECT_EQ(0u, client->Ask("<|101|>").rfind("<|101|", 0));
  // The monitoring client's login ends with its connection.
  EXPECT_EQ("OK Goodbye\r\n", Ask(*peer, "LOGOUT"));
  EXPECT_TRUE(peer->SeesEnd(kLimit));
  auto observer = ConnectNut();
  ASSERT_TRUE(observer);
  EXPECT_EQ("NUMLOGINS ups 0\r\n", Ask(*observer, "GET NUMLOGINS ups"));
}

}  // namespace
}  // namespace keep::test

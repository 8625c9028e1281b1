// keepd against the simulated UPS on a hive a person edited by hand: the server's own writes (its
// event-log source at start, the battery charge every second on battery) must leave every comment,
// blank line and damaged line of the file where it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/keepd_on_simulator.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

// Written with CR LF, as a hive edited on Windows is: lines the server adds must follow it.
constexpr char kLineBreak[] = "\r\n";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(kLineBreak, start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The charge the server wrote back, once it is below 100; empty while it is not.
std::optional<double> WrittenCharge(const std::string& hive) {
  std::smatch match;
  if (!std::regex_search(hive, match, std::regex("\"UpsBatteryCapacity\"=\"([0-9.]+)\""))) return std::nullopt;
  const double charge = std::stod(match[1].str());
  return charge < 100.0 ? std::optional<double>(charge) : std::nullopt;
}

class KeepdHive : public KeepdOnSimulator {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartUps(1)); }
};

TEST_F(KeepdHive, BatteryChargeWrittenOnBatteryLeavesHandEditedLinesInPlace) {
  port_ = ClosedLoopbackPort();
  auto line = [](const std::string& value_line) { return value_line.substr(0, value_line.size() - 1); };
  const std::vector<std::string> by_hand = {
      "REGEDIT4",
      "; Edited by hand: the server must keep every line of this file",
      "",
      "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]",
      line(Text("InstallPath", tree_.InstallPath())),
      line(Text("LanguageFile", "english.lng")),
      "",
      "; the simulator plays the UPS",
      "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]",
      line(Text("UpsModelName", kMegatecTestModel)),
      line(Text("UpsDevice", sim_->SlavePath())),
      line(Dword("SrvListenPort", port_)),
      "  ; poll every second; 100 s of autonomy, so each second on battery takes 1 %",
      line(Dword("SrvPollingUps", 1)),
      line(Dword("UpsFixedTime", 100)),
      "\"UpsBatteryCapacity\"=\"100\"",
      "this line is damaged",
      "\"Retired\"=-",
      "",
      "; end of the hand-edited part",
  };
  std::string text;
  for (const std::string& each : by_hand) text += each + kLineBreak;
  WriteFileText(tree_.HivePath(), text);
  ASSERT_TRUE(RunKeepd());
  ASSERT_EQ("OK\n", sim_->Command("set battery"));

  std::string hive;
  ASSERT_TRUE(WaitUntil([&] { return WrittenCharge(hive = ReadFileText(tree_.HivePath())).has_value(); }, kLimit))
      << hive << tree_.LogText();
  EXPECT_GT(*WrittenCharge(hive), 50.0) << hive;

  const std::vector<std::string> lines = SplitLines(hive);
  ASSERT_GE(lines.size(), by_hand.size()) << hive;
  for (std::size_t i = 0; i < by_hand.size(); ++i) {
    if (by_hand[i].rfind("\"UpsBatteryCapacity\"", 0) == 0) {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex("\"UpsBatteryCapacity\"=\"[0-9.]+\""))) << lines[i];
    } else {
      EXPECT_EQ(lines[i], by_hand[i]) << "line " << i + 1;
    }
  }
  // The server registers its event-log source at start: a new key, added after everything else.
  const std::vector<std::string> added(lines.begin() + static_cast<std::ptrdiff_t>(by_hand.size()), lines.end());
  ASSERT_EQ(added.size(), 4u) << hive;
  EXPECT_EQ(added[0], "");
  EXPECT_EQ(added[1].rfind("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\", 0), 0u);
  EXPECT_EQ(added[2].rfind("\"EventMessageFile\"=", 0), 0u);
  EXPECT_EQ(added[3].rfind("\"TypesSupported\"=dword:", 0), 0u);
  // Every line break is still CR LF, the ones the server wrote included.
  EXPECT_EQ(std::count(hive.begin(), hive.end(), '\n'), std::count(hive.begin(), hive.end(), '\r')) << hive;
}

}  // namespace
}  // namespace keep::test

// Error texts, the wall clock and the platform facts read from the system.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/platform_info.h"
#include "platform/services.h"
#include "platform/system_error.h"
#include "tests/platform/win/helper_program.h"

namespace keep::platform {
namespace {

TEST(WindowsSystemFactsTest, ErrorTextsAreOneLine) {
  for (const int code : {int{ERROR_FILE_NOT_FOUND}, int{ERROR_ACCESS_DENIED}, int{WSAEADDRINUSE}}) {
    const std::string text = SystemErrorText(code);
    SCOPED_TRACE(text);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(SystemErrorText(0x2BADF00D), "Unknown error 732819469");
}

TEST(WindowsSystemFactsTest, WallClockLessItsOffsetIsUniversalTime) {
  const auto clock = WallClock::CreateReal();
  const DateTime local = clock->Now();
  const int64_t universal_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count() +
      int64_t{25'569} * DateTime::kMsPerDay;
  const int64_t offset = clock->UtcOffsetMs(local);
  // Zones lie within a day of universal time and on whole quarter hours.
  EXPECT_LT(std::llabs(offset), DateTime::kMsPerDay);
  EXPECT_EQ(offset % (15 * 60 * 1000), 0);
  EXPECT_LT(std::llabs(local.Milliseconds() - offset - universal_ms), 5000);
}

TEST(WindowsSystemFactsTest, ProgramAndComputerNames) {
  const std::string exe = ExecutablePath();
  EXPECT_EQ(std::filesystem::path(exe).filename().string(), "keep_platform_win_tests.exe");
  EXPECT_TRUE(std::filesystem::exists(exe));
  const std::string computer = ComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_EQ(computer.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
  EXPECT_TRUE(IsNT());
}

TEST(WindowsSystemFactsTest, VersionTextComesFromTheVersionResource) {
  // The helper carries the project's version resource; this test program none.
  EXPECT_EQ(VersionText(wintest::HelperPath()), FormatVersionText(ProgramVersion()));
  EXPECT_EQ(VersionText(ExecutablePath()), "");
  EXPECT_EQ(VersionText(wintest::HelperPath() + ".missing"), "");
  EXPECT_EQ(VersionText(""), "");
}

TEST(WindowsSystemFactsTest, ServiceStatesComeFromTheServiceManager) {
  // Plug and Play is installed on every Windows system, Wine's included; whether it runs yet depends
  // on the system (Wine starts it on demand), but an installed service is in one of the seven states.
  const uint32_t state = ServiceState("PlugPlay");
  EXPECT_GE(state, 1u);
  EXPECT_LE(state, 7u);
  EXPECT_EQ(ServiceState("KeepNoSuchService"), 0u);
  EXPECT_EQ(ServiceState(""), 0u);
  EXPECT_EQ(ServiceState(std::string("PlugPlay\0x", 11)), 0u);
  EXPECT_FALSE(SetServiceProcess(true));
}

}  // namespace
}  // namespace keep::platform

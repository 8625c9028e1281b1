#include "platform/platform_info.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace keep::platform {
namespace {

namespace fs = std::filesystem;

TEST(VersionTextTest, HasTwoBlanksBeforeTheBuild) {
  EXPECT_EQ(FormatVersionText(VersionNumber{3, 1, 0, 250}), "Version 3.1.0  (Build 250)");
}

TEST(VersionTextTest, ProgramVersionIsTheProjectVersion) {
  // The build compiles this file by its absolute path, three folders below the project's root.
  const fs::path project_file = fs::path(__FILE__).parent_path().parent_path().parent_path() / "CMakeLists.txt";
  if (!fs::exists(project_file)) GTEST_SKIP() << "source tree not found at " << project_file;
  std::ostringstream text;
  text << std::ifstream(project_file).rdbuf();
  const std::string cmake = text.str();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(\s*keep\s+VERSION\s+(\d+)\.(\d+)\.(\d+)\.(\d+))")));
  const VersionNumber version = ProgramVersion();
  EXPECT_EQ(version.major, std::stoi(m[1]));
  EXPECT_EQ(version.minor, std::stoi(m[2]));
  EXPECT_EQ(version.release, std::stoi(m[3]));
  EXPECT_EQ(version.build, std::stoi(m[4]));
}

TEST(VersionTextTest, ExistingFileHasTheProgramVersionMissingOneNone) {
  EXPECT_EQ(VersionText(ExecutablePath()), FormatVersionText(ProgramVersion()));
  EXPECT_EQ(VersionText("/nonexistent/keepd"), "");
  EXPECT_EQ(VersionText(fs::temp_directory_path().string()), "");
  EXPECT_EQ(VersionText(""), "");
}

TEST(PlatformInfoTest, ExecutablePathNamesThisTestProgram) {
  const fs::path path = ExecutablePath();
  EXPECT_TRUE(path.is_absolute());
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(path.filename(), "keep_platform_tests");
}

TEST(PlatformInfoTest, ComputerNameIsTheUpperCasedHostName) {
  std::string host;
  std::getline(std::ifstream("/proc/sys/kernel/hostname"), host);
  for (char& c : host) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(host.empty());
  EXPECT_EQ(ComputerName(), host);
}

}  // namespace
}  // namespace keep::platform

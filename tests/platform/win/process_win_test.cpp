// Programs started with CreateProcess see the words SplitCommandLine finds in the same text, so the
// logic's reading of a command line holds on Windows.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/platform/win/helper_program.h"

namespace keep::platform {
namespace {

std::string Lines(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += word + "\n";
  return text;
}

TEST(WindowsStartProgramTest, ProgramGetsTheWordsOfTheArgumentTextAsWritten) {
  wintest::TempFolder folder;
  const std::vector<std::string> texts = {
      R"(-a:"smtp.example" -b:"01/02/2026 10:00:00 - Power failure" -z)",
      R"(plain "" "a ""quoted"" word" tab	separated)",
      R"(back\slash "trailing\\" \"literal\" 3\\\"x)",
  };
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    const std::string out = folder.File("args" + std::to_string(i) + ".txt");
    ASSERT_TRUE(StartProgram(wintest::HelperPath(), "args " + out + " " + texts[i], {.wait = true}));
    EXPECT_EQ(wintest::WaitForFile(out), Lines(SplitCommandLine(texts[i])));
  }
}

TEST(WindowsStartProgramTest, WithoutWaitingTheCallReturnsAndTheProgramRuns) {
  wintest::TempFolder folder;
  const std::string out = folder.File("later.txt");
  ASSERT_TRUE(StartProgram(wintest::HelperPath(), "args " + out + " one", {.hidden = true}));
  EXPECT_EQ(wintest::WaitForFile(out), "one\n");
}

TEST(WindowsStartProgramTest, BatchFileRunsThroughTheCommandInterpreter) {
  wintest::TempFolder folder;
  const std::string script = folder.File("notify.cmd");
  const std::string out = folder.File("batch.txt");
  std::ofstream(script) << "@echo %~1> \"%~2\"\r\n";
  ASSERT_TRUE(StartProgram(script, "\"power fail\" \"" + out + "\"", {.wait = true}));
  EXPECT_EQ(wintest::WaitForFile(out), "power fail\r\n");
}

TEST(WindowsStartProgramTest, NothingStartsForAMissingOrUnfitProgram) {
  using namespace std::string_literals;
  wintest::TempFolder folder;
  EXPECT_FALSE(StartProgram(folder.File("missing.exe"), "", {}));
  EXPECT_FALSE(StartProgram(folder.File(""), "", {}));  // the folder itself
  EXPECT_FALSE(StartProgram("", "", {}));
  EXPECT_FALSE(StartProgram(wintest::HelperPath() + "\0.exe"s, "", {}));
  // A NUL would hide the words behind it from the program.
  const std::string out = folder.File("cut.txt");
  EXPECT_FALSE(StartProgram(wintest::HelperPath(), "args " + out + " a\0b"s, {.wait = true}));
  EXPECT_EQ(wintest::WaitForFile(out, std::chrono::milliseconds(200)), std::nullopt);
}

}  // namespace
}  // namespace keep::platform

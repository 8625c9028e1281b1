// A writer killed at a random moment must leave a hive that is either the old or the new file.
// This is the one test that needs real time: the kill has to land while a write is under way.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/hive_format.h"
#include "platform/hive_registry.h"
#include "tests/support/temp_folder_test.h"

namespace keep::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "Software\\Corvane\\Voltrena\\Powerkeep";
constexpr int kRounds = 100;
// Lines a person wrote: the writes go below them and must leave them exactly as they are.
constexpr std::string_view kByHand =
    "REGEDIT4\n; written by hand\n\n[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]\n"
    "\"InstallPath\"=\"/opt/voltrena/\"\nnot a line of the hive\n";

// Grows and shrinks with the counter, and says which counter it belongs to, so a value cut short
// or paired with the wrong counter is seen.
std::string BlobFor(uint32_t counter) {
  const std::string unit = "#" + std::to_string(counter) + "\\\"|";
  std::string blob;
  const std::size_t repeats = (counter * 7919u) % 4000u;
  for (std::size_t i = 0; i < repeats; ++i) blob += unit;
  return blob;
}

// Tells the parent through `ready` once the first pair of writes is complete, so the kill always
// lands after some progress even on a slow (sanitized) build.
[[noreturn]] void KeepWriting(const std::string& hive, uint32_t first, int ready) {
  auto registry = OpenHiveFile(hive);
  // Bounded, in case the parent dies before it can kill this process.
  for (uint32_t counter = first; counter < first + 100000; ++counter) {
    if (!registry->WriteString(kKey, "Blob", BlobFor(counter))) ::_exit(2);
    if (!registry->WriteDword(kKey, "Counter", counter)) ::_exit(3);
    if (counter == first) {
      const char byte = 1;
      if (::write(ready, &byte, 1) != 1) ::_exit(4);
      ::close(ready);
    }
  }
  ::_exit(0);
}

using HiveCrashTest = test::TempFolderTest;

TEST_F(HiveCrashTest, AWriterKilledAtAnyMomentLeavesACompleteHive) {
  const std::string hive = (folder_ / "registry.reg").string();
  test::WriteFileText(hive, std::string(kByHand));
  auto registry = OpenHiveFile(hive);
  ASSERT_TRUE(registry->WriteString(kKey, "Blob", BlobFor(0)));
  ASSERT_TRUE(registry->WriteDword(kKey, "Counter", 0));

  std::mt19937 random(4711);
  uint32_t last = 0;
  for (int round = 0; round < kRounds; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      ::close(ready[0]);
      KeepWriting(hive, last + 1, ready[1]);
    }
    ::close(ready[1]);
    pollfd first_write{ready[0], POLLIN, 0};
    const bool progressed = ::poll(&first_write, 1, 20000) == 1;
    ::close(ready[0]);
    const timespec delay{0, static_cast<long>(random() % 5000000)};  // 0 to 5 ms into later writes
    ::nanosleep(&delay, nullptr);
    ::kill(writer, SIGKILL);
    ASSERT_TRUE(progressed) << "round " << round << ": the writer never completed a write";
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << WEXITSTATUS(status);

    const std::string text = test::ReadFileText(hive);
    ASSERT_EQ(text.substr(0, kByHand.size()), kByHand) << "round " << round;
    const HiveParseResult parsed = ParseHive(text);
    ASSERT_EQ(parsed.damaged_lines, 1u) << "round " << round;  // the hand-written one; a cut line would add one
    const HiveKey* key = parsed.document.FindKey(kHiveLocalMachine, kKey);
    ASSERT_NE(key, nullptr);
    const HiveValue* counter = key->FindValue("Counter");
    const HiveValue* blob = key->FindValue("Blob");
    ASSERT_NE(counter, nullptr);
    ASSERT_NE(blob, nullptr);
    ASSERT_GE(counter->dword, last) << "round " << round;
    // The blob is written first, so it is the counter's own or the next one's.
    ASSERT_TRUE(blob->text == BlobFor(counter->dword) || blob->text == BlobFor(counter->dword + 1))
        << "round " << round << ", counter " << counter->dword;
    ASSERT_NE(parsed.document.FindKey(kHiveLocalMachine, "Software\\Corvane\\Voltrena\\Globals"), nullptr);
    last = counter->dword;
  }
  EXPECT_GT(last, 0u) << "no write ever completed, so nothing was tested";

  // The next write clears what the killed writers left behind.
  ASSERT_TRUE(registry->WriteDword(kKey, "Counter", last + 1));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder_)) ++files;
  EXPECT_EQ(files, 2u);  // the hive and its lock file
}

}  // namespace
}  // namespace keep::platform

// The named mutex keeps a second program out for as long as the first lives, and no longer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/instance_lock.h"
#include "platform/process.h"
#include "tests/platform/win/helper_program.h"

namespace keep::platform {
namespace {

using Result = InstanceLock::Result;

TEST(WindowsInstanceLockTest, SecondProcessIsRefusedWhileTheFirstHoldsTheName) {
  wintest::TempFolder folder;
  const std::string name = wintest::UniqueName("KeepTestLock");
  std::unique_ptr<InstanceLock> lock;
  ASSERT_EQ(InstanceLock::Acquire("", name, &lock, nullptr), Result::kAcquired);
  ASSERT_NE(lock, nullptr);
  // A second take in the same process is refused too.
  std::unique_ptr<InstanceLock> again;
  EXPECT_EQ(InstanceLock::Acquire("", name, &again, nullptr), Result::kAlreadyHeld);
  EXPECT_EQ(again, nullptr);

  ASSERT_TRUE(StartProgram(wintest::HelperPath(), "lock " + folder.File("held.txt") + " " + name, {.wait = true}));
  EXPECT_EQ(wintest::WaitForFile(folder.File("held.txt")), "held\n");

  lock.reset();
  ASSERT_TRUE(StartProgram(wintest::HelperPath(), "lock " + folder.File("free.txt") + " " + name, {.wait = true}));
  EXPECT_EQ(wintest::WaitForFile(folder.File("free.txt")), "acquired\n");
}

TEST(WindowsInstanceLockTest, NameIsFreedWhenTheHoldingProcessEnds) {
  wintest::TempFolder folder;
  const std::string name = wintest::UniqueName("KeepTestLock");
  ASSERT_TRUE(StartProgram(wintest::HelperPath(), "hold " + folder.File("hold.txt") + " " + name + " 1500", {}));
  ASSERT_EQ(wintest::WaitForFile(folder.File("hold.txt")), "acquired\n");
  std::unique_ptr<InstanceLock> lock;
  EXPECT_EQ(InstanceLock::Acquire("", name, &lock, nullptr), Result::kAlreadyHeld);

  // No clean-up of its own: the ending process gives the name back.
  Result result = Result::kAlreadyHeld;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (result == Result::kAlreadyHeld && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result = InstanceLock::Acquire("", name, &lock, nullptr);
  }
  EXPECT_EQ(result, Result::kAcquired);
}

TEST(WindowsInstanceLockTest, NameNamingAnotherNamespaceIsAnError) {
  std::unique_ptr<InstanceLock> lock;
  std::string error;
  EXPECT_EQ(InstanceLock::Acquire("", "Local\\Other", &lock, &error), Result::kError);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(InstanceLock::Acquire("", "", &lock, &error), Result::kError);
  EXPECT_EQ(lock, nullptr);
}

}  // namespace
}  // namespace keep::platform

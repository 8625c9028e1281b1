#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_folder_test.h"

namespace keep::platform {
namespace {

namespace fs = std::filesystem;

constexpr char kName[] = "HlvPowerkeep";

class InstanceLockTest : public test::TempFolderTest {
 protected:
  InstanceLock::Result TryAcquire(std::unique_ptr<InstanceLock>* lock, std::string* error = nullptr) {
    std::string ignored;
    return InstanceLock::Acquire(folder_.string(), kName, lock, error != nullptr ? error : &ignored);
  }

  // What Acquire gives in a separate process (which gives its lock back by exiting).
  InstanceLock::Result AcquireInChild() {
    const pid_t child = ::fork();
    if (child == 0) {
      std::unique_ptr<InstanceLock> lock;
      ::_exit(static_cast<int>(TryAcquire(&lock)));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<InstanceLock::Result>(WEXITSTATUS(status));
  }
};

TEST_F(InstanceLockTest, ASecondProcessFindsTheLockHeldUntilItIsReleased) {
  std::unique_ptr<InstanceLock> lock;
  ASSERT_EQ(TryAcquire(&lock), InstanceLock::Result::kAcquired);
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(fs::exists(folder_ / "HlvPowerkeep.lock"));
  EXPECT_EQ(AcquireInChild(), InstanceLock::Result::kAlreadyHeld);

  lock.reset();
  EXPECT_EQ(AcquireInChild(), InstanceLock::Result::kAcquired);
}

TEST_F(InstanceLockTest, ASecondAcquireInTheSameProcessFindsItHeld) {
  std::unique_ptr<InstanceLock> first;
  std::unique_ptr<InstanceLock> second;
  ASSERT_EQ(TryAcquire(&first), InstanceLock::Result::kAcquired);
  EXPECT_EQ(TryAcquire(&second), InstanceLock::Result::kAlreadyHeld);
  EXPECT_EQ(second, nullptr);
}

TEST_F(InstanceLockTest, TheLockIsFreedWhenItsHolderIsKilled) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    std::unique_ptr<InstanceLock> lock;
    const char result = static_cast<char>(TryAcquire(&lock));
    if (::write(ready[1], &result, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char result = -1;
  ASSERT_EQ(::read(ready[0], &result, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(static_cast<InstanceLock::Result>(result), InstanceLock::Result::kAcquired);

  std::unique_ptr<InstanceLock> lock;
  EXPECT_EQ(TryAcquire(&lock), InstanceLock::Result::kAlreadyHeld);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(TryAcquire(&lock), InstanceLock::Result::kAcquired);
}

TEST_F(InstanceLockTest, AFolderThatCannotHoldTheLockFileIsAnError) {
  std::unique_ptr<InstanceLock> lock;
  std::string error;
  EXPECT_EQ(InstanceLock::Acquire((folder_ / "missing").string(), kName, &lock, &error), InstanceLock::Result::kError);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_NE(error.find("missing/HlvPowerkeep.lock"), std::string::npos) << error;

  std::ofstream(folder_ / "plain-file") << "x";
  error.clear();
  EXPECT_EQ(InstanceLock::Acquire((folder_ / "plain-file").string(), kName, &lock, &error),
            InstanceLock::Result::kError);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(lock, nullptr);
}

TEST_F(InstanceLockTest, AFolderWithoutWritePermissionIsAnError) {
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  // Root may create files in any folder, so the attempt runs in a child as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(90);
    std::unique_ptr<InstanceLock> lock;
    std::string error;
    const bool refused = TryAcquire(&lock, &error) == InstanceLock::Result::kError && lock == nullptr &&
                         error.find("Permission denied") != std::string::npos;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  fs::permissions(folder_, fs::perms::owner_all);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace keep::platform

#include "common/file_names.h"

#include <gtest/gtest.h>

namespace keep {
namespace {

TEST(IsBatchFileTest, RecognisesScriptExtensionsInAnyCase) {
  EXPECT_TRUE(IsBatchFile("C:\\dir.x\\run.cmd"));
  EXPECT_TRUE(IsBatchFile("run.BAT"));
  EXPECT_TRUE(IsBatchFile("/opt/keep/script/system/lcldown.sh"));
  EXPECT_TRUE(IsBatchFile("x.Sh"));
  EXPECT_TRUE(IsBatchFile(".bat"));
}

TEST(IsBatchFileTest, IgnoresDotsInFolderNamesAndOtherExtensions) {
  EXPECT_FALSE(IsBatchFile("C:\\dir.bat\\run"));
  EXPECT_FALSE(IsBatchFile("/opt/dir.sh/run"));
  EXPECT_FALSE(IsBatchFile("run.bat.exe"));
  EXPECT_FALSE(IsBatchFile("run.bash"));
  EXPECT_FALSE(IsBatchFile("run."));
  EXPECT_FALSE(IsBatchFile(""));
}

TEST(FileExtensionTest, TakesLastDotOfLastElement) {
  EXPECT_EQ(FileExtension("a/b.c.txt"), ".txt");
  EXPECT_EQ(FileExtension("a.d\\b"), "");
  EXPECT_EQ(FileExtension("a.d/b"), "");
}

}  // namespace
}  // namespace keep

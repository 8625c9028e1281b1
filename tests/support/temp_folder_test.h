// Fixture for tests of the file helpers: a fresh folder per test, removed when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/temp_dir.h"

namespace keep::test {

class TempFolderTest : public ::testing::Test {
 protected:
  std::string PathOf(std::string_view name) const { return dir_.File(std::string(name)); }
  void WriteFile(std::string_view name, std::string_view content) const {
    test::WriteFileText(PathOf(name), std::string(content));
  }
  std::string ReadFile(std::string_view name) const { return test::ReadFileText(PathOf(name)); }

  test::TempDir dir_;
  const std::filesystem::path& folder_ = dir_.path();
};

}  // namespace keep::test

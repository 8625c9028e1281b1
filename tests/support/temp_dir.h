// A fresh folder for one test, removed with everything in it when the object goes away.
#pragma once

#include <filesystem>
#include <string>

namespace keep::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name as a string.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Whole content of a file ("" when missing) and writing one in a single call.
std::string ReadFileText(const std::string& file_name);
void WriteFileText(const std::string& file_name, const std::string& text);

}  // namespace keep::test

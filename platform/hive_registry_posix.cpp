#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/hive_format.h"
#include "platform/hive_registry.h"
#include "platform/hive_text.h"

namespace keep::platform {

namespace {

constexpr std::string_view kTemporaryInfix = ".tmp-";
constexpr mode_t kNewHiveMode = 0644;

// Closes on every path out, including early failure returns.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when close reports an error (for a written file, the data may be lost).
  bool Reset() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

struct LoadedHive {
  bool ok = false;       // false: unreadable, not a regular file, or too large
  bool existed = false;  // a missing file is ok and empty
  mode_t mode = kNewHiveMode;
  std::string text;
};

// The whole file, bounded by kHiveMaxBytes even when it grows while being read.
LoadedHive LoadHive(const std::string& path) {
  LoadedHive loaded;
  // O_NONBLOCK so a FIFO put in the hive's place cannot hang the caller in open().
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    loaded.ok = errno == ENOENT;
    return loaded;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return loaded;
  if (static_cast<uintmax_t>(info.st_size) > kHiveMaxBytes) return loaded;
  loaded.existed = true;
  loaded.mode = info.st_mode & 07777;
  std::string text(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == text.size()) {
      if (text.size() > kHiveMaxBytes) return loaded;
      text.resize(std::min(text.size() * 2 + 4096, kHiveMaxBytes + 1));
    }
    const ssize_t count = ::read(fd.get(), text.data() + filled, text.size() - filled);
    if (count < 0) {
      if (errno == EINTR) continue;
      return loaded;
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  if (filled > kHiveMaxBytes) return loaded;
  text.resize(filled);
  loaded.text = std::move(text);
  loaded.ok = true;
  return loaded;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renaming over a symbolic link would replace the link with a plain file; write where it points.
std::string ResolveTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t count = ::write(fd, data.data(), data.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.valid() && ::fsync(fd.get()) == 0;
}

// Writers create temporary files only while holding the lock, so any found by the lock holder
// belong to a writer that died; without this a crash loop would fill the folder.
void RemoveStaleTemporaries(const std::string& folder, const std::string& target) {
  const std::string prefix = BaseName(target) + std::string(kTemporaryInfix);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// Puts `text` in place of `target` so that a crash leaves either the old or the new file.
bool ReplaceFile(const std::string& target, const std::string& folder, std::string_view text, mode_t mode) {
  std::string temporary = target + std::string(kTemporaryInfix) + "XXXXXX";
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.valid()) return false;
  const bool written = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  if (!fd.Reset() || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The new file is in place; a failed folder sync only weakens durability across a power loss,
  // and reporting failure now would wrongly claim the store is unchanged.
  SyncFolder(folder);
  return true;
}

class HiveRegistry final : public Registry {
 public:
  explicit HiveRegistry(std::string path) : path_(std::move(path)) {}

  bool KeyExists(std::string_view key) const override {
    const std::optional<HiveDocument> document = Read();
    return document && document->FindKey(kHiveLocalMachine, key) != nullptr;
  }

  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override {
    const std::optional<HiveDocument> document = Read();
    const HiveValue* value = Find(document, key, name);
    if (value == nullptr || value->type != HiveValueType::kString) return std::nullopt;
    return value->text;
  }

  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const override {
    const std::optional<HiveDocument> document = Read();
    const HiveValue* value = Find(document, key, name);
    if (value == nullptr || value->type != HiveValueType::kDword) return std::nullopt;
    return value->dword;
  }

  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override {
    if (!IsStorableHiveText(value)) return false;
    return Modify(key, name, [&](HiveText& text) { return text.SetString(kHiveLocalMachine, key, name, value); });
  }

  bool WriteDword(std::string_view key, std::string_view name, uint32_t value) override {
    return Modify(key, name, [&](HiveText& text) { return text.SetDword(kHiveLocalMachine, key, name, value); });
  }

  bool CreateKey(std::string_view key) override {
    return Modify(key, {}, [&](HiveText& text) { return text.AddKey(kHiveLocalMachine, key); });
  }

 private:
  std::optional<HiveDocument> Read() const {
    LoadedHive loaded = LoadHive(path_);
    if (!loaded.ok) return std::nullopt;
    return ParseHive(loaded.text).document;
  }

  static const HiveValue* Find(const std::optional<HiveDocument>& document, std::string_view key,
                               std::string_view name) {
    if (!document) return nullptr;
    const HiveKey* stored = document->FindKey(kHiveLocalMachine, key);
    return stored == nullptr ? nullptr : stored->FindValue(name);
  }

  // The read-modify-write under the writers' lock. `change` returns whether it changed the text.
  bool Modify(std::string_view key, std::string_view name, const std::function<bool(HiveText&)>& change) {
    if (!IsStorableHiveText(key) || !IsStorableHiveText(name)) return false;
    const std::string target = ResolveTarget(path_);
    const std::string folder = HiveFolderOf(target);

    const std::string lock_path = target + ".lock";
    FileDescriptor lock(::open(lock_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!lock.valid()) return false;
    while (::flock(lock.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }

    // Read under the lock: a value another process wrote a moment ago must not be lost.
    LoadedHive loaded = LoadHive(target);
    if (!loaded.ok) return false;
    // Edited in place, so that what a person wrote by hand (comments, blank lines, even lines this
    // reader cannot make sense of) survives the server's writes.
    HiveText hive(std::move(loaded.text));
    // The checks above leave nothing for `change` to refuse: false means stored as given already.
    if (!change(hive) && loaded.existed) return true;

    const std::string text = hive.Text();
    if (text.size() > kHiveMaxBytes) return false;
    RemoveStaleTemporaries(folder, target);
    return ReplaceFile(target, folder, text, loaded.mode);
  }

  std::string path_;
};

}  // namespace

std::unique_ptr<Registry> OpenHiveFile(const std::string& path) { return std::make_unique<HiveRegistry>(path); }

bool SettingsInSystemRegistry() { return false; }

std::string HivePathFromEnvironment() {
  const char* value = ::getenv(kHivePathVariable);
  return value == nullptr || *value == '\0' ? std::string(kDefaultHivePath) : std::string(value);
}

std::string HiveFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::unique_ptr<Registry> Registry::CreateSystem() { return OpenHiveFile(HivePathFromEnvironment()); }

std::string Registry::SystemStoreFolder() { return HiveFolderOf(HivePathFromEnvironment()); }

}  // namespace keep::platform

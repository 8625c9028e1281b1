// Whether the hive file can serve as the configuration at all, asked once at start-up before
// anything else. The Registry calls read a missing or unreadable hive as empty, which suits a
// running server, but would make a first start without any configuration fail later as something
// else; this tells the cases apart so each can be named.
#pragma once

#include <string>

namespace keep::platform {

enum class HiveFileState {
  kReadable,
  kFileMissing,    // its folder is there, the file is not
  kFolderMissing,  // its folder, or a folder above it, is missing or is not a folder
  kUnreadable,     // it is there but cannot be read, is not a regular file or is too large
};

struct HiveFileCheck {
  HiveFileState state = HiveFileState::kReadable;
  std::string reason;  // why, in the system's words where it gave some; empty when readable
};

// Opens `path` for reading and reads from it; nothing is created or changed. Where the settings are
// the system's registry (SettingsInSystemRegistry), `path` is a key named in full,
// "HKEY_LOCAL_MACHINE\\Software\\...": kFileMissing when it does not exist, kUnreadable when it cannot
// be opened or read or lies below another root; kFolderMissing does not occur.
HiveFileCheck CheckHiveFile(const std::string& path);

}  // namespace keep::platform

// The Registry kept in a hive file (see hive_format.h for the text).
//
// Only HKEY_LOCAL_MACHINE is visible through the Registry calls. A write changes the file in place
// (see hive_text.h for where a value goes): comments, blank lines, lines the reader could not
// understand, keys of other roots, raw values, name spellings and the file's line breaks survive
// every rewrite byte for byte.
//
// Reads open and parse the file afresh on every call, without a lock: writers replace the file by
// rename, so a reader sees either the old or the new text. A missing file reads as empty; a file
// that is not a regular file, cannot be read or is larger than kHiveMaxBytes reads as if every key
// and value were missing.
//
// Every write holds an advisory lock (flock on "<hive>.lock", created beside the hive) for the whole
// read-modify-write, writes a unique temporary file in the same folder, syncs it, renames it over
// the hive and syncs the folder: a crash at any moment leaves the old or the new file. Temporary
// files left by a writer that died are removed by the next write. A write returns false, leaving
// the hive as it was, when the folder is missing or not writable, the current file cannot be read
// or is too large, the result would be too large, or a key path, name or string value holds a line
// break (the format has no way to write one). Writing a value that is already stored as given
// changes nothing on disk. A write may wait for another writer's lock.
//
// A hive given as a symbolic link is rewritten at the link's target, so the link stays.
//
// Any thread may call any method; the object holds nothing but the path.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace keep::platform {

// Environment variable naming the hive file, and the path used when it is unset or empty.
inline constexpr const char* kHivePathVariable = "VOLTRENA_REGISTRY";
inline constexpr const char* kDefaultHivePath = "/etc/voltrena/registry.reg";

// The root the Registry calls read below, as the system names it.
inline constexpr const char* kSystemRegistryRoot = "HKEY_LOCAL_MACHINE";

// True where the settings are the system's own registry (Windows), not a hive file. The calls
// below then stand for the registry: OpenHiveFile ignores its path and opens the registry,
// HivePathFromEnvironment is kSystemRegistryRoot (no variable is read) and HiveFolderOf is "".
bool SettingsInSystemRegistry();

// The hive file at `path`; nothing is opened until the first call.
std::unique_ptr<Registry> OpenHiveFile(const std::string& path);

// VOLTRENA_REGISTRY, or /etc/voltrena/registry.reg when it is unset or empty.
std::string HivePathFromEnvironment();

// The folder part of a hive path: "." when it has none, "/" for a file in the root folder.
std::string HiveFolderOf(const std::string& path);

}  // namespace keep::platform

// The machine-wide settings store (HKEY_LOCAL_MACHINE). Key paths are given below the root, with
// "\" between their parts, for example "Software\\Corvane\\Voltrena\\Powerkeep". Key and value
// names compare without regard to letter case. Every call opens the store, does one thing and
// closes it again, so a change made by another program is seen by the next call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace keep::platform {

class Registry {
 public:
  virtual ~Registry() = default;

  virtual bool KeyExists(std::string_view key) const = 0;
  // Empty when the key or value is missing, or the value is of another type.
  virtual std::optional<std::string> ReadString(std::string_view key, std::string_view name) const = 0;
  virtual std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const = 0;

  // Create the key when needed and set the value; false when the store cannot be written
  // (the store is then unchanged).
  virtual bool WriteString(std::string_view key, std::string_view name, std::string_view value) = 0;
  virtual bool WriteDword(std::string_view key, std::string_view name, uint32_t value) = 0;
  virtual bool CreateKey(std::string_view key) = 0;

  // The machine's store: on POSIX the hive file named by VOLTRENA_REGISTRY
  // (default /etc/voltrena/registry.reg).
  static std::unique_ptr<Registry> CreateSystem();
  // The folder the store lives in, where the single-instance lock is kept.
  static std::string SystemStoreFolder();
};

}  // namespace keep::platform

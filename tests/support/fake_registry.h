// An in-memory registry for tests. Key paths and value names compare without regard to letter case,
// as in the real store. It records every read and every successful write, and can be told to refuse
// writes, so a test can show what was (or was not) read and written. Not thread-safe: one test
// thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/registry.h"

namespace keep::test {

class FakeRegistry : public platform::Registry {
 public:
  struct Access {
    std::string key;   // as the caller spelled it
    std::string name;  // as the caller spelled it
  };
  struct WriteRecord {
    std::string key;
    std::string name;
    std::variant<std::string, uint32_t> value;
  };

  // Seeding: set values without recording them as writes, whatever FailWrites says.
  void SetString(std::string_view key, std::string_view name, std::string_view value);
  void SetDword(std::string_view key, std::string_view name, uint32_t value);

  // When set, every write and CreateKey fails and leaves the store unchanged.
  void FailWrites(bool fail) { fail_writes_ = fail; }

  const std::vector<WriteRecord>& writes() const { return writes_; }
  const std::vector<Access>& reads() const { return reads_; }
  // True when a value of this name was asked for under any key (either type).
  bool WasRead(std::string_view name) const;
  void ClearLog() {
    reads_.clear();
    writes_.clear();
  }

  // What is stored now, without recording a read.
  std::optional<std::string> StoredString(std::string_view key, std::string_view name) const;
  std::optional<uint32_t> StoredDword(std::string_view key, std::string_view name) const;

  bool KeyExists(std::string_view key) const override;
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override;
  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const override;
  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override;
  bool WriteDword(std::string_view key, std::string_view name, uint32_t value) override;
  bool CreateKey(std::string_view key) override;

 private:
  using Value = std::variant<std::string, uint32_t>;
  using Values = std::map<std::string, Value>;  // by lower-case name

  const Value* Find(std::string_view key, std::string_view name) const;
  void Store(std::string_view key, std::string_view name, Value value);

  std::map<std::string, Values> keys_;  // by lower-case path
  bool fail_writes_ = false;
  mutable std::vector<Access> reads_;
  std::vector<WriteRecord> writes_;
};

}  // namespace keep::test

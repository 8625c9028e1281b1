#include "tests/support/fake_registry.h"

#include <cctype>
#include <utility>

namespace keep::test {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const FakeRegistry::Value* FakeRegistry::Find(std::string_view key, std::string_view name) const {
  const auto k = keys_.find(Lower(key));
  if (k == keys_.end()) return nullptr;
  const auto v = k->second.find(Lower(name));
  return v == k->second.end() ? nullptr : &v->second;
}

void FakeRegistry::Store(std::string_view key, std::string_view name, Value value) {
  keys_[Lower(key)][Lower(name)] = std::move(value);
}

void FakeRegistry::SetString(std::string_view key, std::string_view name, std::string_view value) {
  Store(key, name, std::string(value));
}

void FakeRegistry::SetDword(std::string_view key, std::string_view name, uint32_t value) { Store(key, name, value); }

bool FakeRegistry::WasRead(std::string_view name) const {
  const std::string wanted = Lower(name);
  for (const Access& access : reads_) {
    if (Lower(access.name) == wanted) return true;
  }
  return false;
}

std::optional<std::string> FakeRegistry::StoredString(std::string_view key, std::string_view name) const {
  const Value* value = Find(key, name);
  if (value == nullptr || !std::holds_alternative<std::string>(*value)) return std::nullopt;
  return std::get<std::string>(*value);
}

std::optional<uint32_t> FakeRegistry::StoredDword(std::string_view key, std::string_view name) const {
  const Value* value = Find(key, name);
  if (value == nullptr || !std::holds_alternative<uint32_t>(*value)) return std::nullopt;
  return std::get<uint32_t>(*value);
}

bool FakeRegistry::KeyExists(std::string_view key) const {
  const std::string wanted = Lower(key);
  if (keys_.count(wanted) != 0) return true;
  // A parent of an existing key exists too.
  const std::string prefix = wanted + "\\";
  for (const auto& entry : keys_) {
    if (entry.first.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::optional<std::string> FakeRegistry::ReadString(std::string_view key, std::string_view name) const {
  reads_.push_back({std::string(key), std::string(name)});
  return StoredString(key, name);
}

std::optional<uint32_t> FakeRegistry::ReadDword(std::string_view key, std::string_view name) const {
  reads_.push_back({std::string(key), std::string(name)});
  return StoredDword(key, name);
}

bool FakeRegistry::WriteString(std::string_view key, std::string_view name, std::string_view value) {
  if (fail_writes_) return false;
  Store(key, name, std::string(value));
  writes_.push_back({std::string(key), std::string(name), std::string(value)});
  return true;
}

bool FakeRegistry::WriteDword(std::string_view key, std::string_view name, uint32_t value) {
  if (fail_writes_) return false;
  Store(key, name, value);
  writes_.push_back({std::string(key), std::string(name), value});
  return true;
}

bool FakeRegistry::CreateKey(std::string_view key) {
  if (fail_writes_) return false;
  keys_[Lower(key)];
  return true;
}

}  // namespace keep::test

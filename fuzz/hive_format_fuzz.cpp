// Parses arbitrary bytes as a hive file, then checks that the canonical text of what was understood
// parses cleanly back to the same values: a rewrite must never lose or change a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/hive_format.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keep::platform;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const HiveParseResult first = ParseHive(input);
  Require(first.warnings.size() <= kHiveMaxWarnings);
  Require(first.warnings.size() <= first.damaged_lines);

  const std::string text = SerializeHive(first.document);
  const HiveParseResult second = ParseHive(text);
  Require(second.damaged_lines == 0);
  Require(second.document.keys.size() == first.document.keys.size());

  for (const HiveKey& key : first.document.keys) {
    if (!HiveNamesEqual(key.root, kHiveLocalMachine)) continue;
    const HiveKey* again = second.document.FindKey(kHiveLocalMachine, key.path);
    Require(again != nullptr);
    Require(again->values.size() == key.values.size());
    for (const HiveValue& value : key.values) {
      const HiveValue* same = again->FindValue(value.name);
      Require(same != nullptr && same->type == value.type);
      if (value.type == HiveValueType::kDword) Require(same->dword == value.dword);
      if (value.type == HiveValueType::kString) Require(same->text == value.text);
    }
  }
  // The canonical text is a fixed point, so repeated rewrites cannot drift.
  Require(SerializeHive(second.document) == text);
  return 0;
}

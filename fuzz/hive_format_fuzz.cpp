// Parses arbitrary bytes as a hive file, then checks that the canonical text of what was understood
// parses cleanly back to the same values (a rewrite must never lose or change a value), and that an
// edit in place writes back every line it does not change byte for byte, and reads back as edited.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive_format.h"
#include "platform/hive_text.h"

namespace {

using namespace keep::platform;

constexpr std::string_view kMark = "fuzz-edit";

void Require(bool condition) {
  if (!condition) std::abort();
}

// The lines of `text`, each with its line break (LF or CR LF; the last one may have none), without
// those that overlap `skip` or hold `mark`.
std::vector<std::string_view> LinesBut(std::string_view text, const HiveValueSpan* skip, std::string_view mark) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    const bool skipped = skip != nullptr && start <= skip->end && end > skip->begin;
    if (!skipped && (mark.empty() || line.find(mark) == std::string_view::npos)) lines.push_back(line);
    start = end;
  }
  return lines;
}

// The same lines byte for byte, but for the line break an unterminated last line gets when
// something is added after it.
bool SameLines(const std::vector<std::string_view>& before, const std::vector<std::string_view>& after) {
  if (before.size() != after.size()) return false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    const bool last_unterminated = i + 1 == before.size() && before[i].back() != '\n';
    const std::string_view added = after[i].substr(std::min(before[i].size(), after[i].size()));
    if (!last_unterminated || after[i].substr(0, before[i].size()) != before[i] || (added != "\n" && added != "\r\n")) {
      return false;
    }
  }
  return true;
}

// The written text reads back as the edited document, with exactly as many damaged lines as before.
void RequireReadsBack(const HiveText& edited, const std::string& written, const HiveParseResult& original) {
  const HiveParseResult again = ParseHive(written);
  Require(again.damaged_lines == original.damaged_lines);
  Require(SerializeHive(again.document) == SerializeHive(edited.document()));
}

void CheckCanonicalRoundTrip(const HiveParseResult& first) {
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
}

// A changed value and a new one in a key of the file: every other line stays, in order.
void CheckEditOfAKey(std::string_view input, const HiveParseResult& first) {
  if (first.document.keys.empty()) return;
  const std::size_t k = input.size() % first.document.keys.size();
  const HiveKey& key = first.document.keys[k];
  HiveText text{std::string(input)};
  const HiveValueSpan* rewritten = nullptr;
  if (!key.values.empty()) {
    const std::size_t v = (input.size() / 7) % key.values.size();
    if (text.SetString(key.root, key.path, key.values[v].name, kMark)) rewritten = &first.layout[k].values[v];
  }
  text.SetDword(key.root, key.path, "fuzz-edit-new", 1);
  const std::string written = text.Text();
  RequireReadsBack(text, written, first);
  // Lines of the input that hold the mark would be dropped from one side only.
  if (input.find(kMark) == std::string_view::npos) {
    Require(SameLines(LinesBut(input, rewritten, {}), LinesBut(written, nullptr, kMark)));
  }
}

// A new key goes after everything there was.
void CheckNewKey(std::string_view input, const HiveParseResult& first) {
  HiveText text{std::string(input)};
  text.SetString(kHiveLocalMachine, "Software\\fuzz-edit", "Name", "text");
  const std::string written = text.Text();
  RequireReadsBack(text, written, first);
  // Unless the key was there already.
  if (input.find(kMark) == std::string_view::npos) Require(std::string_view(written).substr(0, input.size()) == input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const HiveParseResult first = ParseHive(input);
  Require(first.warnings.size() <= kHiveMaxWarnings);
  Require(first.warnings.size() <= first.damaged_lines);
  Require(first.layout.size() == first.document.keys.size());

  CheckCanonicalRoundTrip(first);
  // Unchanged, the text is written back as it was.
  Require(HiveText(std::string(input)).Text() == input);
  CheckEditOfAKey(input, first);
  CheckNewKey(input, first);
  return 0;
}

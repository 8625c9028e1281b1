#include "platform/hive_text.h"

#include <algorithm>
#include <utility>

namespace keep::platform {

namespace {

constexpr std::size_t kRefused = static_cast<std::size_t>(-1);
constexpr std::string_view kRootPrefix = "HKEY_";

// A key line the reader files under this root: anything else would come back as a damaged line.
bool IsWritableRoot(std::string_view root) {
  return root.size() > kRootPrefix.size() && HiveNamesEqual(root.substr(0, kRootPrefix.size()), kRootPrefix) &&
         root.find('\\') == std::string_view::npos && IsStorableHiveText(root);
}

bool IsBlankLine(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

// Whether the last line of `text` (which ends with a line break) holds nothing but blanks.
bool EndsWithBlankLine(std::string_view text) {
  text.remove_suffix(1);
  const std::size_t previous = text.rfind('\n');
  return IsBlankLine(previous == std::string_view::npos ? text : text.substr(previous + 1));
}

// A piece of the new text: [begin, end) of the old text is replaced by `text`.
struct Patch {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

}  // namespace

HiveText::HiveText(std::string text) : text_(std::move(text)), parsed_(ParseHive(text_)) {
  rewritten_.reserve(parsed_.layout.size());
  for (const HiveKeyLayout& place : parsed_.layout) rewritten_.emplace_back(place.values.size(), false);
}

bool HiveText::SetString(std::string_view root, std::string_view path, std::string_view name, std::string_view text) {
  if (!IsStorableHiveText(text)) return false;
  return Set(root, path, HiveValue::String(name, text));
}

bool HiveText::SetDword(std::string_view root, std::string_view path, std::string_view name, uint32_t value) {
  return Set(root, path, HiveValue::Dword(name, value));
}

bool HiveText::AddKey(std::string_view root, std::string_view path) {
  const std::size_t count = parsed_.document.keys.size();
  return FindOrAddKey(root, path) != kRefused && parsed_.document.keys.size() != count;
}

std::size_t HiveText::FindOrAddKey(std::string_view root, std::string_view path) {
  if (!IsWritableRoot(root) || !IsStorableHiveText(path)) return kRefused;
  HiveDocument& document = parsed_.document;
  return static_cast<std::size_t>(&document.AddKey(root, path) - document.keys.data());
}

bool HiveText::Set(std::string_view root, std::string_view path, const HiveValue& value) {
  if (!IsStorableHiveText(value.name)) return false;
  const std::size_t count = parsed_.document.keys.size();
  const std::size_t index = FindOrAddKey(root, path);
  if (index == kRefused) return false;
  HiveKey& key = parsed_.document.keys[index];
  if (!key.SetValue(value)) return parsed_.document.keys.size() != count;
  if (index < rewritten_.size()) {
    const auto place = static_cast<std::size_t>(key.FindValue(value.name) - key.values.data());
    // A value new to the key has no line yet; Text() adds it after the key's last value line.
    if (place < rewritten_[index].size()) rewritten_[index][place] = true;
  }
  return true;
}

std::string HiveText::LineBreak() const {
  const std::size_t first = text_.find('\n');
  return first != std::string::npos && first > 0 && text_[first - 1] == '\r' ? "\r\n" : "\n";
}

std::string HiveText::Text() const {
  const HiveDocument& document = parsed_.document;
  const std::string line_break = LineBreak();

  // Keys in the text, in document order; their sections may interleave, so the pieces are sorted.
  std::vector<Patch> patches;
  for (std::size_t k = 0; k < rewritten_.size(); ++k) {
    const HiveKey& key = document.keys[k];
    const HiveKeyLayout& place = parsed_.layout[k];
    for (std::size_t v = 0; v < place.values.size(); ++v) {
      if (rewritten_[k][v]) {
        patches.push_back({place.values[v].begin, place.values[v].end, HiveValueLine(key.values[v])});
      }
    }
    if (key.values.size() == place.values.size()) continue;
    Patch added{place.append_at, place.append_at, {}};
    // Only the text's last line can lack a line break.
    if (place.append_at == text_.size() && !text_.empty() && text_.back() != '\n') added.text = line_break;
    for (std::size_t v = place.values.size(); v < key.values.size(); ++v) {
      added.text += HiveValueLine(key.values[v]) + line_break;
    }
    patches.push_back(std::move(added));
  }
  std::stable_sort(patches.begin(), patches.end(), [](const Patch& a, const Patch& b) { return a.begin < b.begin; });

  std::string out;
  std::size_t copied = 0;
  for (const Patch& patch : patches) {
    out.append(text_, copied, patch.begin - copied);
    out += patch.text;
    copied = patch.end;
  }
  out.append(text_, copied, std::string::npos);

  for (std::size_t k = rewritten_.size(); k < document.keys.size(); ++k) {
    if (out.empty()) out = std::string(kHiveHeader) + line_break;
    if (out.back() != '\n') out += line_break;
    if (!EndsWithBlankLine(out)) out += line_break;
    const HiveKey& key = document.keys[k];
    out += HiveKeyLine(key.root, key.path) + line_break;
    for (const HiveValue& value : key.values) out += HiveValueLine(value) + line_break;
  }
  return out;
}

}  // namespace keep::platform

#include "platform/hive_format.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

namespace keep::platform {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kKeyRootPrefix = "HKEY_";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && HiveNamesEqual(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> ParseDwordDigits(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

// A quoted text starting at text[0] == '"'. Only \\ and \" are escapes; a backslash before anything
// else is kept, because files written by hand hold Windows paths with single backslashes.
// Returns the unescaped text and sets *end just past the closing quote; nullopt when unclosed.
std::optional<std::string> ParseQuoted(std::string_view text, std::size_t* end) {
  std::string out;
  std::size_t i = 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out.push_back(text[i + 1]);
      i += 2;
    } else if (c == '"') {
      *end = i + 1;
      return out;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return std::nullopt;
}

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// "hex:", "hex(2):", "dword:" ... : a type word of letters, digits and parentheses, then a colon.
bool HasTypePrefix(std::string_view data) {
  std::size_t i = 0;
  while (i < data.size()) {
    const char c = data[i];
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '(' || c == ')';
    if (!word) break;
    ++i;
  }
  return i > 0 && i < data.size() && data[i] == ':';
}

// Builds the document while parsing; the indexes keep merging of repeated keys and names linear,
// so a hostile file of many keys cannot make parsing quadratic.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), origin_(text.data()) {
    if (text_.substr(0, kBom.size()) == kBom) text_.remove_prefix(kBom.size());
  }

  HiveParseResult Run() {
    std::size_t line_number = 0;
    std::size_t pos = 0;
    while (pos < text_.size()) {
      std::size_t newline = text_.find('\n', pos);
      if (newline == std::string_view::npos) newline = text_.size();
      const std::string_view raw_line = text_.substr(pos, newline - pos);
      pos = newline + 1;
      next_line_ = Offset(text_.data() + std::min(pos, text_.size()));
      ++line_number;
      HandleLine(line_number, raw_line);
    }
    return std::move(result_);
  }

 private:
  void Warn(std::size_t line, std::string_view reason, std::string_view text) {
    ++result_.damaged_lines;
    if (result_.warnings.size() >= kHiveMaxWarnings) return;
    result_.warnings.push_back(
        HiveWarning{line, std::string(reason), std::string(text.substr(0, kHiveWarningTextBytes))});
  }

  // Offset of a byte of the text in the text as given, byte order mark included.
  std::size_t Offset(const char* at) const { return static_cast<std::size_t>(at - origin_); }

  void HandleLine(std::size_t number, std::string_view raw_line) {
    const std::string_view line = Trim(raw_line);
    if (continuation_ != nullptr) {
      // A raw value goes on while its lines end with "\"; a line that starts something else ends
      // it, so a value cut short cannot swallow the next key or value.
      const bool starts_other = line.empty() || line.front() == '[' || line.front() == '"' || line.front() == '@';
      if (!starts_other) {
        continuation_->push_back('\n');
        continuation_->append(line);
        if (continued_key_ != kNoKey) {
          HiveKeyLayout& place = result_.layout[continued_key_];
          place.values[continued_value_].end = Offset(line.data() + line.size());
          place.append_at = next_line_;
        }
        if (line.back() != '\\') continuation_ = nullptr;
        return;
      }
      continuation_ = nullptr;
    }
    if (line.empty() || line.front() == ';') return;
    if (HiveNamesEqual(line, kHiveHeader) || HiveNamesEqual(line, kHiveHeaderV5)) return;
    if (line.front() == '[') return HandleKeyLine(number, line);
    if (line.front() == '"' || line.front() == '@') return HandleValueLine(number, line);
    Warn(number, "unexpected text", line);
  }

  void HandleKeyLine(std::size_t number, std::string_view line) {
    // Until a valid key line follows, values have no home: better dropped than put under the
    // previous key.
    current_ = kNoKey;
    if (line.back() != ']' || line.size() < 2) return Warn(number, "key line without closing ']'", line);
    const std::string_view content = line.substr(1, line.size() - 2);
    if (!content.empty() && content.front() == '-') return;  // deletion: not ours to apply
    const std::size_t separator = content.find('\\');
    const std::string_view root = content.substr(0, separator);
    const std::string_view path =
        separator == std::string_view::npos ? std::string_view() : NormalizeHiveKeyPath(content.substr(separator + 1));
    if (!StartsWithIgnoreCase(root, kKeyRootPrefix) || root.size() == kKeyRootPrefix.size()) {
      return Warn(number, "unknown root key", line);
    }
    std::string index_key = LowerAscii(root);
    index_key.push_back('\\');
    index_key.append(LowerAscii(path));
    const auto [it, inserted] = key_index_.try_emplace(std::move(index_key), result_.document.keys.size());
    if (inserted) {
      result_.document.keys.push_back(HiveKey{std::string(root), std::string(path), {}});
      result_.layout.emplace_back();
      value_index_.emplace_back();
    }
    current_ = it->second;
    result_.layout[current_].append_at = next_line_;
  }

  void HandleValueLine(std::size_t number, std::string_view line) {
    HiveValue value;
    std::size_t pos = 1;
    if (line.front() == '"') {
      std::optional<std::string> name = ParseQuoted(line, &pos);
      if (!name) return Warn(number, "value name without closing quote", line);
      value.name = std::move(*name);
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return Warn(number, "expected '=' after the value name", line);
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::string_view data = line.substr(pos);

    if (data == "-") return;  // deletion: not ours to apply
    if (!data.empty() && data.front() == '"') {
      std::size_t end = 0;
      std::optional<std::string> text = ParseQuoted(data, &end);
      if (!text) return Warn(number, "string value without closing quote", line);
      if (end != data.size()) return Warn(number, "text after the closing quote", line);
      value.type = HiveValueType::kString;
      value.text = std::move(*text);
    } else if (StartsWithIgnoreCase(data, kHiveDwordPrefix)) {
      const std::optional<uint32_t> dword = ParseDwordDigits(data.substr(kHiveDwordPrefix.size()));
      if (!dword) return Warn(number, "dword value is not 1 to 8 hex digits", line);
      value.type = HiveValueType::kDword;
      value.dword = *dword;
    } else if (HasTypePrefix(data)) {
      value.type = HiveValueType::kRaw;
      value.text = std::string(data);
    } else {
      return Warn(number, "unknown value data", line);
    }

    const bool continues = value.type == HiveValueType::kRaw && data.back() == '\\';
    if (current_ == kNoKey) {
      Warn(number, "value outside any key", line);
      // Its continuation lines are part of the same damaged entry, not separate garbage.
      if (continues) {
        discarded_.clear();
        continuation_ = &discarded_;
        continued_key_ = kNoKey;
      }
      return;
    }
    HiveKey& key = result_.document.keys[current_];
    HiveKeyLayout& place = result_.layout[current_];
    auto& names = value_index_[current_];
    const auto [it, inserted] = names.try_emplace(LowerAscii(value.name), key.values.size());
    const std::size_t index = it->second;
    const HiveValueSpan span{Offset(line.data()), Offset(line.data() + line.size())};
    if (inserted) {
      key.values.push_back(std::move(value));
      place.values.push_back(span);
    } else {
      HiveValue& stored = key.values[index];
      stored.type = value.type;
      stored.text = std::move(value.text);
      stored.dword = value.dword;
      // The later line is the one whose data is read, so it is the one to rewrite.
      place.values[index] = span;
    }
    place.append_at = next_line_;
    // Safe to keep: no value is added until the continuation ends.
    if (continues) {
      continuation_ = &key.values[index].text;
      continued_key_ = current_;
      continued_value_ = index;
    }
  }

  static constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);

  std::string_view text_;
  const char* origin_;         // the first byte of the text as given, for offsets
  std::size_t next_line_ = 0;  // offset of the line after the one being read
  HiveParseResult result_;
  std::size_t current_ = kNoKey;
  std::unordered_map<std::string, std::size_t> key_index_;                 // "root\path", lower case
  std::vector<std::unordered_map<std::string, std::size_t>> value_index_;  // per key: lower-case name
  std::string* continuation_ = nullptr;                                    // the raw text still being continued
  std::size_t continued_key_ = kNoKey;  // the key and value of that text; kNoKey for a discarded one
  std::size_t continued_value_ = 0;
  std::string discarded_;
};

}  // namespace

HiveValue HiveValue::String(std::string_view name, std::string_view text) {
  HiveValue value;
  value.name = std::string(name);
  value.type = HiveValueType::kString;
  value.text = std::string(text);
  return value;
}

HiveValue HiveValue::Dword(std::string_view name, uint32_t dword) {
  HiveValue value;
  value.name = std::string(name);
  value.type = HiveValueType::kDword;
  value.dword = dword;
  return value;
}

const HiveValue* HiveKey::FindValue(std::string_view name) const {
  for (const HiveValue& value : values) {
    if (HiveNamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

bool HiveKey::SetValue(const HiveValue& value) {
  for (HiveValue& stored : values) {
    if (!HiveNamesEqual(stored.name, value.name)) continue;
    const bool same = stored.type == value.type &&
                      (value.type == HiveValueType::kDword ? stored.dword == value.dword : stored.text == value.text);
    if (same) return false;
    stored.type = value.type;
    stored.text = value.text;
    stored.dword = value.dword;
    return true;
  }
  values.push_back(value);
  return true;
}

const HiveKey* HiveDocument::FindKey(std::string_view root, std::string_view path) const {
  path = NormalizeHiveKeyPath(path);
  for (const HiveKey& key : keys) {
    if (HiveNamesEqual(key.root, root) && HiveNamesEqual(key.path, path)) return &key;
  }
  return nullptr;
}

HiveKey* HiveDocument::FindKey(std::string_view root, std::string_view path) {
  return const_cast<HiveKey*>(std::as_const(*this).FindKey(root, path));
}

HiveKey& HiveDocument::AddKey(std::string_view root, std::string_view path) {
  if (HiveKey* existing = FindKey(root, path)) return *existing;
  keys.push_back(HiveKey{std::string(root), std::string(NormalizeHiveKeyPath(path)), {}});
  return keys.back();
}

HiveParseResult ParseHive(std::string_view text) { return Parser(text).Run(); }

std::string SerializeHive(const HiveDocument& document) {
  std::string out(kHiveHeader);
  out.push_back('\n');
  for (const HiveKey& key : document.keys) {
    out.push_back('\n');
    out.append(HiveKeyLine(key.root, key.path));
    out.push_back('\n');
    for (const HiveValue& value : key.values) {
      out.append(HiveValueLine(value));
      out.push_back('\n');
    }
  }
  return out;
}

std::string HiveKeyLine(std::string_view root, std::string_view path) {
  std::string line = "[";
  line.append(root);
  if (!path.empty()) {
    line.push_back('\\');
    line.append(path);
  }
  line.push_back(']');
  return line;
}

std::string HiveValueLine(const HiveValue& value) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string line;
  if (value.name.empty()) {
    line.push_back('@');
  } else {
    AppendQuoted(&line, value.name);
  }
  line.push_back('=');
  switch (value.type) {
    case HiveValueType::kString:
      AppendQuoted(&line, value.text);
      break;
    case HiveValueType::kDword:
      line.append(kHiveDwordPrefix);
      for (int shift = 28; shift >= 0; shift -= 4) line.push_back(kHexDigits[(value.dword >> shift) & 0xF]);
      break;
    case HiveValueType::kRaw:
      // Continuation lines indented as other tools write them; the reader drops the indent.
      for (char c : value.text) {
        line.push_back(c);
        if (c == '\n') line.append("  ");
      }
      break;
  }
  return line;
}

bool HiveNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view NormalizeHiveKeyPath(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

bool IsStorableHiveText(std::string_view text) { return text.find_first_of("\r\n") == std::string_view::npos; }

}  // namespace keep::platform

#include "common/ini_file.h"

#include <algorithm>
#include <fstream>

namespace keep {
namespace {

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimIni(std::string_view text) {
  while (!text.empty() && IsIniBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsIniBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// True for a section header line ("[name]"), with its trimmed name in `name`.
bool SectionName(std::string_view line, std::string_view& name) {
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  // A header without "]" still opens a section named by the rest of the line.
  name = TrimIni(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

std::string CleanValue(std::string_view value) {
  value = TrimIni(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kIniMaxValueLength) value = value.substr(0, kIniMaxValueLength);
  return std::string(value);
}

}  // namespace

std::string LookupIniValue(std::string_view content, std::string_view section, std::string_view key) {
  section = TrimIni(section);
  key = TrimIni(key);
  bool in_section = false;
  while (!content.empty()) {
    const size_t eol = content.find('\n');
    const std::string_view raw = content.substr(0, eol);
    content.remove_prefix(eol == std::string_view::npos ? content.size() : eol + 1);

    const std::string_view line = TrimIni(raw);
    if (line.empty() || line.front() == ';') continue;
    std::string_view name;
    if (SectionName(line, name)) {
      // Leaving the first matching section ends the search: a later one of the same name is not read.
      if (in_section) return {};
      in_section = EqualsIgnoreCase(name, section);
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualsIgnoreCase(TrimIni(line.substr(0, eq)), key)) return CleanValue(line.substr(eq + 1));
  }
  return {};
}

std::string ReadIniValue(const std::string& file_name, std::string_view section, std::string_view key) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) return {};
  // Read in chunks so a small file costs a small buffer and a huge one stops at the limit.
  std::string content;
  char chunk[16 * 1024];
  while (content.size() < kIniMaxFileSize && in) {
    const size_t want = std::min(sizeof(chunk), kIniMaxFileSize - content.size());
    in.read(chunk, static_cast<std::streamsize>(want));
    content.append(chunk, static_cast<size_t>(in.gcount()));
  }
  return LookupIniValue(content, section, key);
}

}  // namespace keep

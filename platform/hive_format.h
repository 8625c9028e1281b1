// The hive file: the machine-wide settings store kept as one REGEDIT4 text file.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Corvane\Voltrena\Globals]
//   "InstallPath"="/opt/voltrena/"
//   @="default value"
//
//   [HKEY_LOCAL_MACHINE\Software\Corvane\Voltrena\Powerkeep]
//   "SrvListenPort"=dword:0000168d
//   "Binary"=hex:01,02,\   (a raw value continued on the next line)
//     03
//
// Reading is lenient because other programs and people write these files: a UTF-8 byte order mark,
// CR LF line ends, a missing header, leading and trailing blanks and ";" comments are accepted; a
// damaged line is skipped and reported, never fatal. String values escape only "\\" and "\""; any
// other backslash stands for itself. Types this system does not use (hex:, hex(2):, ...) are kept
// as raw text so that a rewrite preserves them. Deletion lines ([-key], "Name"=-) are ignored.
//
// Everything here is pure (no I/O) and safe on any byte sequence. Not thread-safe per object:
// a document belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keep::platform {

inline constexpr std::string_view kHiveHeader = "REGEDIT4";
inline constexpr std::string_view kHiveHeaderV5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHiveLocalMachine = "HKEY_LOCAL_MACHINE";
inline constexpr std::string_view kHiveDwordPrefix = "dword:";
// A larger hive is neither read nor written, so a runaway file cannot exhaust memory.
inline constexpr std::size_t kHiveMaxBytes = std::size_t{16} << 20;
// Only the first warnings are kept in full; the rest are only counted.
inline constexpr std::size_t kHiveMaxWarnings = 32;
// The offending text of a warning is cut to this many bytes.
inline constexpr std::size_t kHiveWarningTextBytes = 80;

enum class HiveValueType { kString, kDword, kRaw };

struct HiveValue {
  std::string name;  // as spelled in the file; empty for the default value ("@")
  HiveValueType type = HiveValueType::kString;
  // kString: the text without escapes. kRaw: everything after "=" as written, continuation lines
  // joined by "\n" with their indentation removed. Unused for kDword.
  std::string text;
  uint32_t dword = 0;

  static HiveValue String(std::string_view name, std::string_view text);
  static HiveValue Dword(std::string_view name, uint32_t value);
};

struct HiveKey {
  std::string root;  // "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", ... as spelled
  std::string path;  // below the root, without a trailing "\"; empty for the root itself
  std::vector<HiveValue> values;

  // Names compare without regard to ASCII letter case. Null when missing.
  const HiveValue* FindValue(std::string_view name) const;
  // Replaces the value of the same name, keeping the stored spelling and place, or appends it.
  // Returns false when an identical value was already there (nothing changed).
  bool SetValue(const HiveValue& value);
};

struct HiveDocument {
  std::vector<HiveKey> keys;  // in file order; no two keys with the same root and path

  // `path` is normalised as by NormalizeHiveKeyPath. Null when missing.
  const HiveKey* FindKey(std::string_view root, std::string_view path) const;
  HiveKey* FindKey(std::string_view root, std::string_view path);
  // The existing key, or a new empty one at the end.
  HiveKey& AddKey(std::string_view root, std::string_view path);
};

// Where a value lies in the text given to ParseHive, as byte offsets into that text (a byte order
// mark included), so that an editor can rewrite it in place and copy every other byte as it was.
struct HiveValueSpan {
  std::size_t begin = 0;  // the first non-blank byte of the value's line
  std::size_t end = 0;    // past the last non-blank byte of its last continuation line, before the line break
};

// Where a key's entries lie in the text given to ParseHive.
struct HiveKeyLayout {
  // The start of the line after the last value line (continuations included) of the key's last
  // section, or after its key line when that section holds no value; the text's size when that
  // line is the last one.
  std::size_t append_at = 0;
  // Parallel to HiveKey::values: the line each value was read from (of a repeated name, the later
  // one, whose data the reader takes).
  std::vector<HiveValueSpan> values;
};

// A line that was skipped, for diagnostics.
struct HiveWarning {
  std::size_t line = 0;  // 1-based
  std::string reason;
  std::string text;  // the offending line, at most kHiveWarningTextBytes bytes
};

struct HiveParseResult {
  HiveDocument document;
  std::vector<HiveKeyLayout> layout;  // parallel to document.keys
  std::vector<HiveWarning> warnings;  // the first kHiveMaxWarnings problems, in line order
  std::size_t damaged_lines = 0;      // all of them
};

// Never fails: whatever can be understood ends up in the document. Repeated keys are merged, and a
// repeated value name takes the later data in the earlier place. Runs in time linear in the input.
HiveParseResult ParseHive(std::string_view text);

// The canonical text: header, blank line, then each key block with a blank line between blocks;
// LF line ends; dwords as 8 lower-case hex digits; the default value as "@". Parsing the result
// gives the same document back.
std::string SerializeHive(const HiveDocument& document);

// The canonical line of one key ("[root\path]") and of one value ("name"=data), without a line
// break. A raw value's continuation lines are joined by LF and indented.
std::string HiveKeyLine(std::string_view root, std::string_view path);
std::string HiveValueLine(const HiveValue& value);

// ASCII case-insensitive equality, as key paths and value names compare.
bool HiveNamesEqual(std::string_view a, std::string_view b);
// Drops trailing backslashes, so "A\B\" and "A\B" name the same key.
std::string_view NormalizeHiveKeyPath(std::string_view path);
// False for text that a line-based file cannot hold (a CR or LF). Key paths, value names and
// string values must pass before they are stored.
bool IsStorableHiveText(std::string_view text);

}  // namespace keep::platform

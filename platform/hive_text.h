// A hive file's text, changed in place. People edit hive files by hand, so a program's write must
// not undo their work: what changes is written where it belongs, and every other byte (comments,
// blank lines, lines the reader could not understand, the header, a byte order mark) is written
// back as it was, where it was.
//
// Where changes go in Text():
//   - A changed value is rewritten on the line it was read from (of a repeated name the later line,
//     whose data the reader takes). Blanks before and after it on the line and its line break stay;
//     a raw value continued over several lines becomes one line.
//   - A new value of a key that is in the text goes right after the last value line of the key's
//     last section, or right after the key line when that section holds no value. Comments, blank
//     and damaged lines after it stay after it: they usually introduce what follows.
//   - A new key goes at the end, after a blank line (none is added when the text already ends with
//     one), followed by its values.
//   - Lines written end with the text's first line break (CR LF or LF); LF when it has none.
//     A last line without a line break gets one before anything is added after it.
//   - An empty text gets the "REGEDIT4" header and a blank line first, as SerializeHive writes it.
// Without a change, Text() is the text given, byte for byte. Parsing Text() gives document().
//
// Pure (no I/O), safe on any bytes; memory stays proportional to the text and the changes. Not
// thread-safe: an object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive_format.h"

namespace keep::platform {

class HiveText {
 public:
  explicit HiveText(std::string text);

  // What the reader takes from the text, with the changes made so far.
  const HiveDocument& document() const { return parsed_.document; }

  // Sets a value under the key `root`\`path` (path normalised as by NormalizeHiveKeyPath), adding
  // the key when it is missing; the stored spelling of a name stays. True when something changed.
  // False, changing nothing, when the value is stored as given already, or when `root` is not an
  // "HKEY_..." name or a path, name or text holds a line break (IsStorableHiveText): the file could
  // not hold it.
  bool SetString(std::string_view root, std::string_view path, std::string_view name, std::string_view text);
  bool SetDword(std::string_view root, std::string_view path, std::string_view name, uint32_t value);
  // Adds the key without values when it is missing; true when it was added. Refused as above.
  bool AddKey(std::string_view root, std::string_view path);

  // The text with every change made so far.
  std::string Text() const;

 private:
  bool Set(std::string_view root, std::string_view path, const HiveValue& value);
  // The key's index, added when missing; kRefused when the file could not hold it.
  std::size_t FindOrAddKey(std::string_view root, std::string_view path);
  std::string LineBreak() const;

  std::string text_;
  HiveParseResult parsed_;
  // Parallel to parsed_.layout: which values read from the text have changed since.
  std::vector<std::vector<bool>> rewritten_;
};

}  // namespace keep::platform

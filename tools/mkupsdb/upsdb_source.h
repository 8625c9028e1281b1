// The plain text source of the UPS model database and its translation into the scrambled file the
// server reads. Source format: one model record per line, its 40 fields separated by "|"; blank
// lines and lines whose first non-blank character is "#" are skipped; CR LF line ends are accepted.
// A record is refused when it does not split into exactly 40 fields the way the server splits it
// (so a blank last field does not count), when its model name is empty, when the server would
// refuse one of its fields, or when an earlier record has the same name (the server would never see
// the later one). Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/scrambling.h"

namespace keep::tools {

// A longer record would scramble to a line the server's reader refuses.
inline constexpr std::size_t kMaxRecordBytes = kScrambledLineLimit / 2;

struct SourceError {
  std::size_t line = 0;  // 1-based
  std::string message;
};

// One line of the source, checked.
struct SourceLine {
  bool is_record = false;  // false for blank and comment lines, and for refused lines
  std::string record;      // the line without surrounding blanks and line end
  std::string model_name;  // field 0
  std::string error;       // why the line was refused; empty when it was not
};

SourceLine CheckSourceLine(std::string_view line);

struct ModelDatabase {
  std::string text;  // the scrambled records, one per line, each line ending with LF
  std::size_t records = 0;
  std::vector<SourceError> errors;  // one per refused line; text is empty when there is any
};

// Checks every line of `source` and, when all are sound and there is at least one record, builds the
// database text.
ModelDatabase BuildModelDatabase(std::string_view source);

}  // namespace keep::tools

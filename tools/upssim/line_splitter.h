// Cuts a byte stream into lines ended by LF (a CR before it is dropped, so terminals and scripts
// alike work). Bounded: a line longer than the limit is not kept; it is reported once, as overlong,
// when its end arrives. Not thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace keep::tools {

struct SplitLine {
  std::string text;  // empty for an overlong line
  bool overlong = false;
};

class LineSplitter {
 public:
  explicit LineSplitter(std::size_t max_line_bytes) : max_(max_line_bytes) {}

  // Appends `bytes`; returns the lines they complete, in order.
  std::vector<SplitLine> Add(std::string_view bytes);

 private:
  std::size_t max_;
  std::string partial_;
  bool overlong_ = false;
};

}  // namespace keep::tools

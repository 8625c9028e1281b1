#include "tools/upssim/line_splitter.h"

namespace keep::tools {

std::vector<SplitLine> LineSplitter::Add(std::string_view bytes) {
  std::vector<SplitLine> lines;
  for (const char c : bytes) {
    if (c == '\n') {
      if (!overlong_) {
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        overlong_ = partial_.size() > max_;
      }
      lines.push_back(overlong_ ? SplitLine{std::string(), true} : SplitLine{std::move(partial_), false});
      partial_.clear();
      overlong_ = false;
    } else if (!overlong_) {
      // One byte of slack for the CR of a CR LF ending; the length is checked again at the LF.
      if (partial_.size() > max_) {
        partial_.clear();
        overlong_ = true;
      } else {
        partial_ += c;
      }
    }
  }
  return lines;
}

}  // namespace keep::tools

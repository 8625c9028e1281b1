#include "common/frames.h"

namespace keep {

std::string MakeFrame(std::string_view body) {
  std::string result;
  result.reserve(kFrameOpen.size() + body.size() + kFrameClose.size());
  result += kFrameOpen;
  result += body;
  result += kFrameClose;
  return result;
}

std::string MakeCodeFrame(int64_t n) { return MakeFrame(std::to_string(n)); }

std::string MakeListFrame(const TStringList& list) {
  std::string body = JoinText(list, '|');
  // A blank body means there is nothing to send; the caller then sends nothing rather than an
  // empty frame.
  if (TrimBlanks(body).empty()) return body;
  return MakeFrame(body);
}

}  // namespace keep

#include "common/fill_params.h"

namespace keep {
namespace {

void ReplaceFirstMark(std::string& text, std::string_view arg) {
  const size_t pos = text.find(kParamMark);
  if (pos != std::string::npos) text.replace(pos, 1, arg);
}

}  // namespace

std::string ExpandLineBreaks(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == kLineBreakMark) c = '\r';
  }
  return result;
}

std::string FillParams(std::string_view tmpl, const TStringList& args) {
  std::string result = ExpandLineBreaks(tmpl);
  for (const std::string& arg : args) ReplaceFirstMark(result, arg);
  return result;
}

std::string FillParam(std::string_view tmpl, std::string_view arg) {
  std::string result = ExpandLineBreaks(tmpl);
  ReplaceFirstMark(result, arg);
  return result;
}

}  // namespace keep

#include "server/core/request_queue.h"

#include <algorithm>
#include <charconv>

namespace keep::server {

std::string BuildRequestFrame(int code, const TStringList& fields) {
  std::string code_text = code == 4 ? "401" : std::to_string(code);
  if (code >= 0 && code_text.size() < 3) code_text.insert(0, 3 - code_text.size(), '0');
  TStringList items{"<", code_text};
  items.insert(items.end(), fields.begin(), fields.end());
  items.push_back(">");
  return JoinText(items, '|');
}

void RequestQueue::QueueRequest(std::string_view target, std::string_view frame, bool at_front) {
  std::string item(target);
  item += '|';
  item += frame;
  if (target == kInternalTarget && std::find(items_.begin(), items_.end(), item) != items_.end()) return;
  if (at_front) {
    items_.insert(items_.begin(), std::move(item));
  } else {
    items_.push_back(std::move(item));
  }
}

void RequestQueue::QueueInternalRequest(int code, const TStringList& fields) {
  QueueRequest(kInternalTarget, BuildRequestFrame(code, fields), true);
}

std::optional<QueuedRequest> RequestQueue::TakeNext() {
  if (items_.empty()) return std::nullopt;
  const std::string item = std::move(items_.front());
  items_.erase(items_.begin());
  TStringList parts;
  SplitText('|', item, parts, true);
  QueuedRequest request;
  if (!parts.empty()) request.Requester = parts[0];
  // target, "<", code, fields..., ">": the parameters are the code and the fields.
  if (parts.size() >= 3) {
    const size_t end = parts.back() == ">" ? parts.size() - 1 : parts.size();
    request.Params.assign(parts.begin() + 2, parts.begin() + static_cast<std::ptrdiff_t>(std::max<size_t>(end, 2)));
    const std::string& code = parts[2];
    std::from_chars(code.data(), code.data() + code.size(), request.Code);
  }
  return request;
}

}  // namespace keep::server

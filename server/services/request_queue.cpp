#include "server/services/request_queue.h"

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
  if (on_added_) on_added_();
}

void RequestQueue::QueueInternalRequest(int code, const TStringList& fields) {
  QueueRequest(kInternalTarget, BuildRequestFrame(code, fields), true);
}

namespace {

// Whether `item` (target|frame) is for `target`.
bool IsFor(const std::string& item, std::string_view target) {
  return item.size() > target.size() && item.compare(0, target.size(), target) == 0 && item[target.size()] == '|';
}

// The request code of a queued item, or -1.
int ItemCode(const std::string& item) {
  // target|<|code|...
  const size_t start = item.find("|<|");
  if (start == std::string::npos) return -1;
  const char* first = item.data() + start + 3;
  int code = -1;
  const auto [end, error] = std::from_chars(first, item.data() + item.size(), code);
  if (error != std::errc() || end == first) return -1;
  return code;
}

constexpr int kFirstChangingCode = 200;

}  // namespace

size_t RequestQueue::CountFor(std::string_view target) const {
  return static_cast<size_t>(
      std::count_if(items_.begin(), items_.end(), [&](const std::string& item) { return IsFor(item, target); }));
}

void RequestQueue::DropReadsOf(std::string_view target) {
  std::erase_if(items_, [&](const std::string& item) {
    const int code = ItemCode(item);
    return IsFor(item, target) && code >= 0 && code < kFirstChangingCode;
  });
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

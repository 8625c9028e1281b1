// The one queue of requests to the UPS: client requests in arrival order, the server's own at the
// front. An item is the target (the requester's address, "@" for the server itself), "|" and the
// plain request frame. Main loop only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/text_lists.h"

namespace keep::server {

inline constexpr char kInternalTarget[] = "@";

// The frame of a request the server makes itself: the code with at least three digits ("001"), code
// 4 written as "401" (the stop-autonomy-test request), then the fields.
std::string BuildRequestFrame(int code, const TStringList& fields);

// A request taken from the queue: its target and its parameters (the code, then the fields).
struct QueuedRequest {
  std::string Requester;
  int Code = 0;
  TStringList Params;
};

class RequestQueue {
 public:
  // Adds target|frame, first when `at_front`. An internal request ("@") that is already queued
  // exactly so is not queued again.
  void QueueRequest(std::string_view target, std::string_view frame, bool at_front);
  // QueueRequest("@", BuildRequestFrame(code, fields), at front).
  void QueueInternalRequest(int code, const TStringList& fields);
  // Removes and returns the first item, split into requester, code and parameters; empty when the
  // queue is empty.
  std::optional<QueuedRequest> TakeNext();

  // The items queued for `target`.
  size_t CountFor(std::string_view target) const;
  // Removes the items for `target` that only read data (codes below 200): once nobody at that address
  // is connected, nobody is left to read their answers. Commands that change something stay.
  void DropReadsOf(std::string_view target);

  // Called after every item actually added (the command step sleeps while the queue is empty). The
  // owner of the callback clears it before it goes.
  void SetOnAdded(std::function<void()> on_added) { on_added_ = std::move(on_added); }

  void Clear() { items_.clear(); }
  bool Empty() const { return items_.empty(); }
  size_t Size() const { return items_.size(); }
  const TStringList& Items() const { return items_; }

 private:
  TStringList items_;
  std::function<void()> on_added_;
};

}  // namespace keep::server

// The scrambled status answer (101), kept while what it shows stays the same. Every client polls the
// status, often many times a second, and the UPS record changes at most once a poll, so most
// answers are the previous one again: sending the kept frame spares building and scrambling it.
//
// Main loop only, like the context it reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/services/status_fields.h"

namespace keep::server {

struct ServerContext;

class StatusAnswerCache {
 public:
  // The scrambled 101 frame for the context as it is now; valid until the next call.
  std::string_view Scrambled(ServerContext& context);

 private:
  std::optional<StatusFields> shown_;
  std::string scrambled_;
};

}  // namespace keep::server

#include "server/services/status_answer_cache.h"

#include "common/scrambling.h"
#include "server/records/command_codes.h"
#include "server/services/response_builder.h"

namespace keep::server {

std::string_view StatusAnswerCache::Scrambled(ServerContext& context) {
  StatusFields now = ReadStatusFields(context);
  if (!shown_ || !(*shown_ == now)) {
    scrambled_ = ScrambleText(BuildResponse(kCodeStatus, nullptr, context));
    shown_ = std::move(now);
  }
  return scrambled_;
}

}  // namespace keep::server

// The answer frames of the client protocol: "<|", the code with at least three digits, "|" and each
// field, "|>", built from what the server holds in TUpsData and its settings. The same frame serves
// the requester, every client, or nobody.
//
// Main loop only. Building is read-only except for the tables that are delivered once per UPS
// reading: the answers 136, 137, 139 and 140 empty their table (count "0", no items) after use.
#pragma once

#include <string>
#include <string_view>

#include "server/services/server_context.h"
#include "server/services/status_fields.h"

namespace keep::server {

// The answer to `code`. `parameter` (may be null) is used only by the codes that carry it: 200-203
// and 309 send it as their fields (a "|" inside it separates further fields), 401 picks its form
// by it. A code without a defined answer gives the frame of the code alone.
std::string BuildResponse(int code, const std::string* parameter, ServerContext& context);

// What the status answer (101) shows, as the context holds it now.
StatusFields ReadStatusFields(const ServerContext& context);

// A percentage as whole tenths: rounded to one decimal, halves to even, times ten ("955" for 95.5).
// Not a finite number gives "&".
std::string TenthsText(float value);

// A load percentage: -1 gives "&", -2 gives "@", anything else TenthsText.
std::string LoadText(float value);

// A stored decimal text ("1234.5", "-3", "0.25") rounded to a whole number, halves to even;
// any other text (including "&", "@" and exponents) is returned unchanged.
std::string RoundedWholeText(std::string_view text);

}  // namespace keep::server

// The text of the one message the mail companion sends: the From, To, Subject and Date header
// lines, a blank line and the body, every line ended by CR LF as SMTP carries it.
#pragma once

#include <chrono>
#include <string>

#include "companions/mailout/mail_words.h"

namespace keep::mailout {

// `now` dates the message (written in UTC). Header values come from the request as they are: the
// parser already took line breaks out of them. In the body every line break, CR LF, a lone CR (the
// server's own break) or a lone LF, becomes CR LF; the body ends with one.
std::string BuildMailMessage(const MailRequest& request, std::chrono::system_clock::time_point now);

// The date as mail headers write it, "Thu, 10 Dec 2026 13:22:04 +0000".
std::string MailDate(std::chrono::system_clock::time_point now);

}  // namespace keep::mailout

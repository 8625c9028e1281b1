// Hands one message to an SMTP server through libcurl: the envelope from the request, a login when
// one is given, TLS when the server offers it (never required), every step bounded in time.
#pragma once

#include <chrono>
#include <string>

#include "companions/mailout/mail_words.h"

namespace keep::mailout {

struct SmtpLimits {
  std::chrono::milliseconds connect{30000};
  // The whole exchange: a server that accepts the connection and never answers ends here.
  std::chrono::milliseconds total{60000};

  // The limits shortened to `override_ms` (a whole number of milliseconds, for tests); the defaults
  // when it is null, not such a number, or not shorter.
  static SmtpLimits Shortened(const char* override_ms);
};

// Empty when the server took the message; otherwise one line saying why not (login refused,
// recipient refused, no server, no answer in time). Never holds the password.
std::string SendMail(const MailRequest& request, const std::string& message, const SmtpLimits& limits);

}  // namespace keep::mailout

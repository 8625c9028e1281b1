// mailout: sends the e-mail of the server's "$EMAIL" event action. It is started with the words of
// the mail setup and ends with 0 when the server took the message; otherwise it says why on
// standard error and in the system log and ends with 1 (2 when the words themselves are not usable).
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "companions/mailout/mail_message.h"
#include "companions/mailout/mail_words.h"
#include "companions/mailout/smtp_sender.h"
#include "platform/process.h"
#include "platform/system_log.h"

namespace {

// Tests shorten the time limits with this; a real installation never sets it.
constexpr char kTestLimitVariable[] = "KEEP_MAILOUT_LIMIT_MS";

int Fail(keep::platform::SystemLog& log, const std::string& reason, int status) {
  std::fprintf(stderr, "mailout: %s\n", reason.c_str());
  log.Write(keep::platform::SystemLog::Severity::kError, reason);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace keep::mailout;
  const auto log = keep::platform::SystemLog::Create("mailout");
  const std::vector<std::string> arguments = keep::platform::ProgramArguments(argc, argv);
  const std::vector<std::string_view> words(arguments.begin(), arguments.end());
  const ParsedWords parsed = ParseMailWords(words);
  if (!parsed.error.empty()) return Fail(*log, "mail not sent: " + parsed.error, 2);
  const MailRequest& request = parsed.request;

  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return Fail(*log, "mail not sent: no mail library", 1);
  const std::string message = BuildMailMessage(request, std::chrono::system_clock::now());
  const std::string failure = SendMail(request, message, SmtpLimits::Shortened(std::getenv(kTestLimitVariable)));
  curl_global_cleanup();
  if (!failure.empty()) return Fail(*log, failure, 1);

  std::string to;
  for (const std::string& recipient : request.recipients) to += (to.empty() ? "" : ", ") + recipient;
  log->Write(keep::platform::SystemLog::Severity::kInformation, "mail sent to " + to);
  return 0;
}

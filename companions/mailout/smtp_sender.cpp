#include "companions/mailout/smtp_sender.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace keep::mailout {

namespace {

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The message as libcurl reads it for the DATA command.
struct Upload {
  const std::string& text;
  size_t sent = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto& upload = *static_cast<Upload*>(user);
  const size_t length = std::min(size * count, upload.text.size() - upload.sent);
  std::memcpy(buffer, upload.text.data() + upload.sent, length);
  upload.sent += length;
  return length;
}

std::string Seconds(std::chrono::milliseconds limit) {
  const auto tenths = (limit.count() + 50) / 100;
  return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

// One line for the person reading the log: what went wrong, in the terms of the mail setup.
std::string Reason(CURLcode code, std::string_view detail, long answer, const MailRequest& request,
                   const SmtpLimits& limits) {
  const std::string where = request.server + ":" + std::to_string(request.port);
  const std::string answered = answer > 0 ? " (server answered " + std::to_string(answer) + ")" : "";
  switch (code) {
    case CURLE_LOGIN_DENIED:
      return "login refused by the mail server " + where + " for user " + request.login + answered;
    case CURLE_COULDNT_RESOLVE_HOST:
      return "mail server name not found: " + request.server;
    case CURLE_COULDNT_CONNECT:
      return "no mail server reached at " + where;
    case CURLE_OPERATION_TIMEDOUT:
      return "no answer in time from the mail server " + where + " (limit " + Seconds(limits.total) + ")";
    default:
      break;
  }
  // libcurl names the refused step ("RCPT failed: 550"); say it in the setup's terms.
  if (detail.starts_with("RCPT failed")) return "recipient refused by the mail server " + where + answered;
  if (detail.starts_with("MAIL failed")) return "sender refused by the mail server " + where + answered;
  const std::string text = detail.empty() ? curl_easy_strerror(code) : std::string(detail);
  return "mail not sent through " + where + ": " + text + answered;
}

}  // namespace

SmtpLimits SmtpLimits::Shortened(const char* override_ms) {
  SmtpLimits limits;
  if (override_ms == nullptr) return limits;
  const std::string_view text(override_ms);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return limits;
  const std::chrono::milliseconds shorter(value);
  limits.connect = std::min(limits.connect, shorter);
  limits.total = std::min(limits.total, shorter);
  return limits;
}

std::string SendMail(const MailRequest& request, const std::string& message, const SmtpLimits& limits) {
  const std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) return "mail not sent: the mail library could not start";
  CURL* const handle = curl.get();

  std::unique_ptr<curl_slist, ListDeleter> recipients;
  for (const std::string& address : request.recipients) {
    curl_slist* const longer = curl_slist_append(recipients.get(), ("<" + address + ">").c_str());
    if (longer == nullptr) return "mail not sent: out of memory";
    static_cast<void>(recipients.release());
    recipients.reset(longer);
  }

  const std::string url = "smtp://" + request.server + ":" + std::to_string(request.port);
  const std::string from = "<" + request.sender + ">";
  Upload upload{message};
  char detail[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp");
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);
  // Encrypt whenever the server can; a plain server on the local network still gets the mail.
  curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients.get());
  if (!request.login.empty()) {
    curl_easy_setopt(handle, CURLOPT_USERNAME, request.login.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, request.password.c_str());
  }
  curl_easy_setopt(handle, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
  curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);

  const CURLcode code = curl_easy_perform(handle);
  if (code == CURLE_OK) return {};
  long answer = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer);
  return Reason(code, detail, answer, request, limits);
}

}  // namespace keep::mailout

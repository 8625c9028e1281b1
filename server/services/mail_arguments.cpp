#include "server/services/mail_arguments.h"

#include <string>

namespace keep::server {

namespace {

void AppendWord(std::string& out, std::string_view flag, std::string_view value) {
  out += ' ';
  out += flag;
  out += ":\"";
  out += value;
  out += '"';
}

}  // namespace

std::string BuildMailArguments(const TEmailSetup& email, std::string_view recipients, std::string_view subject,
                               std::string_view time_stamp, std::string_view message) {
  std::string out;
  out.reserve(64 + email.EmailServer.size() + email.EmailLogin.size() + email.EmailPassword.size() +
              email.EmailSender.size() + recipients.size() + subject.size() + time_stamp.size() + message.size());
  AppendWord(out, "-a", email.EmailServer);
  AppendWord(out, "-p", std::to_string(email.EmailPort));
  if (email.EmailUseAuth) {
    AppendWord(out, "-l", email.EmailLogin);
    AppendWord(out, "-w", email.EmailPassword);
  }
  AppendWord(out, "-s", email.EmailSender);
  AppendWord(out, "-r", recipients);
  AppendWord(out, "-o", subject);
  out += " -b:\"";
  out += time_stamp;
  out += " - ";
  out += message;
  out += "\" -z";
  return out;
}

}  // namespace keep::server

// The command words of the mail companion: "-a:server -p:port [-l:login -w:password] -s:sender
// -r:recipients -o:subject -b:body -z", one flag and its value per word (the quoting already taken
// off by the command-line rules), read into the one message to send.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keep::mailout {

struct MailRequest {
  std::string server;  // host name or address, as the URL needs it ("[::1]" for an IPv6 address)
  int port = 25;
  std::string login;  // empty: no login
  std::string password;
  std::string sender;
  std::vector<std::string> recipients;  // at least one, each a bare address
  std::string subject;                  // one line: no control characters
  std::string body;                     // as given: may hold CR and LF
};

// The request, or the reason there is none (`error` set): a missing server, sender or recipient,
// a port that is no number from 1 to 65535, or an address that cannot go into the envelope.
// Unknown words are ignored. A flag given twice keeps its first value: the body comes last, so text
// in it that looks like a flag cannot replace the server, the login or the recipients.
struct ParsedWords {
  MailRequest request;
  std::string error;
};
ParsedWords ParseMailWords(const std::vector<std::string_view>& words);

}  // namespace keep::mailout

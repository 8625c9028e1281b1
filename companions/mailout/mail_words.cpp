#include "companions/mailout/mail_words.h"

#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keep::mailout {

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// An address for the envelope and the header, without the angle brackets some people write around
// it; empty when it cannot be one (a line break in it would end the SMTP command early).
std::string Address(std::string_view text) {
  text = Trimmed(text);
  if (text.size() >= 2 && text.front() == '<' && text.back() == '>') text = text.substr(1, text.size() - 2);
  for (const char c : text) {
    if (IsControl(c) || c == ' ' || c == '<' || c == '>' || c == ',' || c == ';') return {};
  }
  return std::string(text);
}

// A host name or address as the URL takes it; empty when it holds anything that would change the
// URL's meaning (a path, user information, a blank).
std::string Server(std::string_view text) {
  text = Trimmed(text);
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
    if (!plain) return {};
  }
  // An IPv6 address goes into the URL in brackets.
  if (text.find(':') != std::string_view::npos && text.front() != '[') return "[" + std::string(text) + "]";
  return std::string(text);
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (IsControl(c)) c = ' ';
  }
  return line;
}

constexpr std::string_view kFlags = "aplwsrob";

}  // namespace

ParsedWords ParseMailWords(const std::vector<std::string_view>& words) {
  std::array<std::optional<std::string_view>, kFlags.size()> values;
  for (const std::string_view word : words) {
    if (word.size() < 3 || word[0] != '-' || word[2] != ':') continue;
    const char letter = (word[1] >= 'A' && word[1] <= 'Z') ? static_cast<char>(word[1] - 'A' + 'a') : word[1];
    const size_t index = kFlags.find(letter);
    if (index == std::string_view::npos || values[index]) continue;
    values[index] = word.substr(3);
  }
  const auto value = [&](char flag) { return values[kFlags.find(flag)].value_or(std::string_view()); };

  ParsedWords parsed;
  MailRequest& request = parsed.request;
  const std::string_view server = Trimmed(value('a'));
  if (server.empty()) {
    parsed.error = "no mail server given (-a)";
    return parsed;
  }
  request.server = Server(server);
  if (request.server.empty()) {
    parsed.error = "mail server name not valid: " + OneLine(server);
    return parsed;
  }
  if (values[kFlags.find('p')]) {
    const std::string_view port = Trimmed(value('p'));
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      parsed.error = "mail server port not valid: " + OneLine(port);
      return parsed;
    }
    request.port = number;
  }
  request.login = value('l');
  request.password = value('w');

  const std::string_view sender = Trimmed(value('s'));
  if (sender.empty()) {
    parsed.error = "no sender address given (-s)";
    return parsed;
  }
  request.sender = Address(sender);
  if (request.sender.empty()) {
    parsed.error = "sender address not valid: " + OneLine(sender);
    return parsed;
  }

  std::string_view rest = value('r');
  while (!rest.empty()) {
    const size_t end = rest.find_first_of(",;");
    const std::string_view part = Trimmed(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (part.empty()) continue;
    std::string address = Address(part);
    if (address.empty()) {
      parsed.error = "recipient address not valid: " + OneLine(part);
      return parsed;
    }
    request.recipients.push_back(std::move(address));
  }
  if (request.recipients.empty()) {
    parsed.error = "no recipient address given (-r)";
    return parsed;
  }

  request.subject = OneLine(value('o'));
  request.body = value('b');
  return parsed;
}

}  // namespace keep::mailout

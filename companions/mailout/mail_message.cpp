#include "companions/mailout/mail_message.h"

#include <array>
#include <chrono>
#include <string>
#include <string_view>

namespace keep::mailout {

namespace {

void AppendTwoDigits(std::string& out, unsigned value) {
  out += static_cast<char>('0' + value / 10 % 10);
  out += static_cast<char>('0' + value % 10);
}

// CR LF for every kind of line break, so that no bare CR or LF reaches a server that would refuse it
// or a reader that would show it as one long line.
std::string BodyLines(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 16 + 2);
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

}  // namespace

std::string MailDate(std::chrono::system_clock::time_point now) {
  using namespace std::chrono;
  static constexpr std::array<std::string_view, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_days day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(floor<seconds>(now - day));
  std::string out(kDays[weekday(day).c_encoding()]);
  out += ", ";
  AppendTwoDigits(out, static_cast<unsigned>(date.day()));
  out += ' ';
  out += kMonths[static_cast<unsigned>(date.month()) - 1];
  out += ' ';
  out += std::to_string(static_cast<int>(date.year()));
  out += ' ';
  AppendTwoDigits(out, static_cast<unsigned>(time.hours().count()));
  out += ':';
  AppendTwoDigits(out, static_cast<unsigned>(time.minutes().count()));
  out += ':';
  AppendTwoDigits(out, static_cast<unsigned>(time.seconds().count()));
  out += " +0000";
  return out;
}

std::string BuildMailMessage(const MailRequest& request, std::chrono::system_clock::time_point now) {
  std::string to;
  for (const std::string& recipient : request.recipients) {
    if (!to.empty()) to += ", ";
    to += recipient;
  }
  std::string out = "From: " + request.sender + "\r\nTo: " + to + "\r\nSubject: " + request.subject +
                    "\r\nDate: " + MailDate(now) + "\r\n\r\n";
  out += BodyLines(request.body);
  return out;
}

}  // namespace keep::mailout

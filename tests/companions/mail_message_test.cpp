// The message text the mail companion hands the server: headers, date and body lines.
#include "companions/mailout/mail_message.h"

#include <gtest/gtest.h>

#include <chrono>

namespace keep::mailout {
namespace {

using std::chrono::sys_days;

TEST(MailMessage, DatesInUtcWithDayAndMonthNames) {
  using namespace std::chrono;
  EXPECT_EQ(MailDate(sys_days(2026y / December / 10) + 13h + 22min + 4s + 900ms), "Thu, 10 Dec 2026 13:22:04 +0000");
  EXPECT_EQ(MailDate(sys_days(2024y / February / 29) + 23h + 59min + 59s), "Thu, 29 Feb 2024 23:59:59 +0000");
  EXPECT_EQ(MailDate(sys_days(2027y / January / 3)), "Sun, 03 Jan 2027 00:00:00 +0000");
}

TEST(MailMessage, HeadersThenEveryKindOfLineBreakInTheBodyAsCrLf) {
  using namespace std::chrono;
  MailRequest request;
  request.sender = "ups@example.org";
  request.recipients = {"a@example.org", "b@example.org"};
  request.subject = "Voltrena";
  // The server's breaks are lone CRs; a pasted text may bring LF or CR LF.
  request.body = "10/12/2026 13:22:04 - started.\rUPS device: /dev/ttyS0\r\nport 5769\n\r.\rend";
  EXPECT_EQ(BuildMailMessage(request, sys_days(2026y / December / 10) + 13h + 22min + 4s),
            "From: ups@example.org\r\nTo: a@example.org, b@example.org\r\nSubject: Voltrena\r\n"
            "Date: Thu, 10 Dec 2026 13:22:04 +0000\r\n\r\n"
            "10/12/2026 13:22:04 - started.\r\nUPS device: /dev/ttyS0\r\nport 5769\r\n\r\n.\r\nend\r\n");

  request.body = "";
  const std::string empty = BuildMailMessage(request, sys_days(2026y / December / 10));
  EXPECT_TRUE(empty.ends_with("+0000\r\n\r\n\r\n")) << "an empty body is one empty line";
}

}  // namespace
}  // namespace keep::mailout

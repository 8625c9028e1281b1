// The words the server hands the mail companion, read into one message, or refused with a reason.
#include "companions/mailout/mail_words.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace keep::mailout {
namespace {

using Words = std::vector<std::string_view>;

struct Accepted {
  const char* name;
  Words words;
  MailRequest expected;
};

TEST(MailWords, ReadsEveryFieldOfTheWordsTheServerBuilds) {
  const std::vector<Accepted> cases{
      {"without login",
       Words({"-a:smtp.example.org", "-p:587", "-s:ups@example.org", "-r:ops@example.org", "-o:Voltrena",
              "-b:10/12/2026 13:22:04 - Mains failure", "-z"}),
       {"smtp.example.org",
        587,
        "",
        "",
        "ups@example.org",
        {"ops@example.org"},
        "Voltrena",
        "10/12/2026 13:22:04 - Mains failure"}},
      {"with login, a password with blanks and quotes",
       Words({"-a:10.0.0.5", "-p:25", "-l:keeper", "-w:p@ss \"word\"", "-s:ups@example.org", "-r:ops@example.org",
              "-o:Voltrena", "-b:x", "-z"}),
       {"10.0.0.5", 25, "keeper", "p@ss \"word\"", "ups@example.org", {"ops@example.org"}, "Voltrena", "x"}},
      {"several recipients by ',' and ';', blanks trimmed, empty entries skipped",
       Words({"-a:mx", "-s:ups@example.org", "-r: a@example.org ;b@example.org,, <c@example.org> ;"}),
       {"mx", 25, "", "", "ups@example.org", {"a@example.org", "b@example.org", "c@example.org"}, "", ""}},
      {"unknown words and a -z anywhere are ignored; flags in either case",
       Words({"-z", "/x", "-q:what", "-A:mx", "-S:ups@example.org", "-R:ops@example.org", "plain", "-"}),
       {"mx", 25, "", "", "ups@example.org", {"ops@example.org"}, "", ""}},
      {"a line break in the subject cannot start a header of its own",
       Words({"-a:mx", "-s:ups@example.org", "-r:ops@example.org", "-o:Voltrena\r\nBcc: all@example.org",
              "-b:first\rsecond"}),
       {"mx", 25, "", "", "ups@example.org", {"ops@example.org"}, "Voltrena  Bcc: all@example.org", "first\rsecond"}},
      {"text in the body that looks like flags replaces nothing given before it",
       Words({"-a:mx", "-s:ups@example.org", "-r:ops@example.org", "-b:alarm", "-r:evil@example.org",
              "-a:evil.example.org"}),
       {"mx", 25, "", "", "ups@example.org", {"ops@example.org"}, "", "alarm"}},
      {"an IPv6 address is bracketed for the URL",
       Words({"-a:::1", "-p:2525", "-s:ups@example.org", "-r:ops@example.org"}),
       {"[::1]", 2525, "", "", "ups@example.org", {"ops@example.org"}, "", ""}},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedWords parsed = ParseMailWords(c.words);
    ASSERT_EQ(parsed.error, "");
    const MailRequest& r = parsed.request;
    EXPECT_EQ(r.server, c.expected.server);
    EXPECT_EQ(r.port, c.expected.port);
    EXPECT_EQ(r.login, c.expected.login);
    EXPECT_EQ(r.password, c.expected.password);
    EXPECT_EQ(r.sender, c.expected.sender);
    EXPECT_EQ(r.recipients, c.expected.recipients);
    EXPECT_EQ(r.subject, c.expected.subject);
    EXPECT_EQ(r.body, c.expected.body);
  }
}

TEST(MailWords, RefusesWhatCannotBeSentAndSaysWhy) {
  const std::vector<std::pair<Words, std::string>> cases{
      {Words({"-s:ups@example.org", "-r:ops@example.org"}), "no mail server given (-a)"},
      {Words({"-a:  ", "-s:ups@example.org", "-r:ops@example.org"}), "no mail server given (-a)"},
      {Words({"-a:mx", "-r:ops@example.org"}), "no sender address given (-s)"},
      {Words({"-a:mx", "-s:ups@example.org"}), "no recipient address given (-r)"},
      {Words({"-a:mx", "-s:ups@example.org", "-r: ; , "}), "no recipient address given (-r)"},
      {Words({"-a:mx", "-p:0", "-s:ups@example.org", "-r:ops@example.org"}), "mail server port not valid: 0"},
      {Words({"-a:mx", "-p:65536", "-s:ups@example.org", "-r:ops@example.org"}), "mail server port not valid: 65536"},
      {Words({"-a:mx", "-p:25x", "-s:ups@example.org", "-r:ops@example.org"}), "mail server port not valid: 25x"},
      {Words({"-a:user@evil.example.org/x", "-s:ups@example.org", "-r:ops@example.org"}),
       "mail server name not valid: user@evil.example.org/x"},
      // A line break in an address would end the SMTP command and start another.
      {Words({"-a:mx", "-s:ups@example.org", "-r:ops@example.org\r\nRCPT TO:<all@example.org>"}),
       "recipient address not valid: ops@example.org  RCPT TO:<all@example.org>"},
      {Words({"-a:mx", "-s:ups@example.org\nx", "-r:ops@example.org"}), "sender address not valid: ups@example.org x"},
      {Words({"-a:mx", "-s:ups@example.org", "-r:ops team@example.org"}),
       "recipient address not valid: ops team@example.org"},
  };
  for (const auto& [words, error] : cases) {
    SCOPED_TRACE(error);
    EXPECT_EQ(ParseMailWords(words).error, error);
  }
}

}  // namespace
}  // namespace keep::mailout

// keepd with the real mail companion in its installation: an "$EMAIL" action of the start event
// delivers one message holding the event's text to an SMTP server on loopback, with and without a
// login.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/scrambling.h"
#include "tests/companions/smtp_sink.h"
#include "tests/support/keepd_on_simulator.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr char kLogin[] = "ups";
constexpr char kPassword[] = "Pa55-w0rd";

class KeepdMail : public KeepdOnSimulator {
 protected:
  void SetUp() override {
    if (!SmtpSink::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    sink_ = std::make_unique<SmtpSink>(kLogin, kPassword);
    ASSERT_TRUE(sink_->Ready()) << "the SMTP sink did not start";
    std::filesystem::copy_file(BuiltProgram("mailout"), tree_.InstallPath() + "bin/mailout",
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_NO_FATAL_FAILURE(StartUps(1));
  }

  // Starts keepd mailing its start event to ops@example.org through the sink, then waits for the
  // message; the one message's text and envelope.
  SmtpSink::Message MailOfTheStart(const std::string& login_values) {
    const std::string values = EventLists({"0|$EMAIL,ops@example.org"}) + Text("EmailServer", "127.0.0.1") +
                               Dword("EmailPort", sink_->Port()) + Text("EmailSender", "ups@example.org") +
                               login_values;
    if (!StartKeepd(kMegatecTestModel, values)) return {};
    if (!sink_->WaitForMessages(1, kLimit)) return {};
    // Stopping runs the stop event, which has no mail: still one message after it.
    StopKeepd();
    const auto messages = sink_->Messages();
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? SmtpSink::Message{} : messages.front();
  }

  // The start message of the shipped language file, the server's line breaks as CR LF.
  std::string StartText() const {
    return "has started.\r\nUPS device: " + sim_->SlavePath() + "\r\nClient port: " + std::to_string(port_) + "\r\n";
  }

  std::unique_ptr<SmtpSink> sink_;
};

TEST_F(KeepdMail, WithoutLoginTheStartEventArrivesAsOneMessage) {
  const SmtpSink::Message mail = MailOfTheStart("");
  EXPECT_NE(mail.text.find("Subject: Voltrena\r\n"), std::string::npos) << mail.text;
  EXPECT_NE(mail.text.find(StartText()), std::string::npos) << mail.text;
  EXPECT_EQ(mail.envelope, "from ups@example.org\nto ops@example.org\nlogin \n");
}

TEST_F(KeepdMail, WithLoginTheStartEventArrivesAsOneMessageAfterTheLogin) {
  const SmtpSink::Message mail = MailOfTheStart(Dword("EmailUseAuth", 1) + Text("EmailLogin", kLogin) +
                                                Text("EmailPassword", ScrambleText(kPassword)));
  EXPECT_NE(mail.text.find(StartText()), std::string::npos) << mail.text;
  EXPECT_EQ(mail.envelope, "from ups@example.org\nto ops@example.org\nlogin ups\n");
}

}  // namespace
}  // namespace keep::test

// The built mail companion against a real SMTP server on loopback: what arrives, with and without a
// login, and how it ends when the login is refused or the server never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/companions/smtp_sink.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr char kLogin[] = "ups";
constexpr char kPassword[] = "Pa55-w0rd";
// Short enough for a test, long enough for a loaded machine to finish a good exchange.
constexpr milliseconds kTestLimit{3000};

struct MailoutRun {
  std::optional<int> status;
  std::string error;  // standard error
  milliseconds took;
};

class MailoutSmtp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SmtpSink::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    sink_ = std::make_unique<SmtpSink>(kLogin, kPassword);
    ASSERT_TRUE(sink_->Ready()) << "the SMTP sink did not start";
  }

  MailoutRun Mailout(int port, const std::vector<std::string>& login_words) {
    std::vector<std::string> words{"-a:127.0.0.1", "-p:" + std::to_string(port)};
    words.insert(words.end(), login_words.begin(), login_words.end());
    words.insert(words.end(), {"-s:ups@example.org", "-r:ops@example.org; boss@example.org", "-o:Voltrena",
                               "-b:10/12/2026 13:22:04 - Power failure.\rOn battery.", "-z"});
    const auto start = std::chrono::steady_clock::now();
    ChildProcess mailout(BuiltProgram("mailout"), words,
                         {{"KEEP_MAILOUT_LIMIT_MS", std::to_string(kTestLimit.count())}}, output_.path().string());
    MailoutRun run;
    run.status = mailout.WaitForExit(milliseconds(20000));
    run.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    run.error = mailout.StandardError();
    return run;
  }

  TempDir output_;
  std::unique_ptr<SmtpSink> sink_;
};

TEST_F(MailoutSmtp, WithoutLoginOneMessageWithHeadersAndBodyLinesArrives) {
  const MailoutRun run = Mailout(sink_->Port(), {});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.error, "");
  const auto messages = sink_->Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].envelope, "from ups@example.org\nto ops@example.org boss@example.org\nlogin \n");
  const std::string& text = messages[0].text;
  EXPECT_NE(text.find("From: ups@example.org\r\nTo: ops@example.org, boss@example.org\r\nSubject: Voltrena\r\nDate: "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n\r\n10/12/2026 13:22:04 - Power failure.\r\nOn battery.\r\n"), std::string::npos) << text;
}

TEST_F(MailoutSmtp, WithTheRightLoginOneMessageArrivesAfterTheLogin) {
  const MailoutRun run = Mailout(sink_->Port(), {"-l:" + std::string(kLogin), "-w:" + std::string(kPassword)});
  ASSERT_EQ(run.status, 0) << run.error;
  const auto messages = sink_->Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].envelope.find("\nlogin ups\n"), std::string::npos) << messages[0].envelope;
  EXPECT_NE(messages[0].text.find("Power failure.\r\nOn battery."), std::string::npos) << messages[0].text;
}

TEST_F(MailoutSmtp, AWrongPasswordSendsNothingAndSaysTheLoginWasRefusedWithoutThePassword) {
  const std::string wrong = "Wr0ng-s3cret";
  const MailoutRun run = Mailout(sink_->Port(), {"-l:" + std::string(kLogin), "-w:" + wrong});
  ASSERT_TRUE(run.status.has_value()) << "mailout did not end";
  EXPECT_NE(*run.status, 0);
  EXPECT_NE(run.error.find("login refused"), std::string::npos) << run.error;
  EXPECT_EQ(run.error.find(wrong), std::string::npos) << run.error;
  EXPECT_EQ(run.error.find(kPassword), std::string::npos) << run.error;
  EXPECT_TRUE(sink_->Messages().empty());
}

TEST_F(MailoutSmtp, AServerThatNeverSpeaksOrIsNotThereEndsItWithinItsLimit) {
  LoopbackListener silent;  // takes the connection (the kernel queues it) and never says a word
  ASSERT_TRUE(silent.Ok());
  const MailoutRun mute = Mailout(silent.Port(), {});
  ASSERT_TRUE(mute.status.has_value()) << "mailout did not end";
  EXPECT_NE(*mute.status, 0);
  EXPECT_NE(mute.error.find("no answer in time"), std::string::npos) << mute.error;
  EXPECT_GE(mute.took, kTestLimit - milliseconds(100));
  EXPECT_LT(mute.took, kTestLimit + milliseconds(5000));

  const MailoutRun absent = Mailout(ClosedLoopbackPort(), {});
  ASSERT_TRUE(absent.status.has_value()) << "mailout did not end";
  EXPECT_NE(*absent.status, 0);
  EXPECT_NE(absent.error.find("no mail server reached"), std::string::npos) << absent.error;
}

}  // namespace
}  // namespace keep::test

// smtp_sink.py run for one test: an SMTP server on a free loopback port that saves every message it
// takes, accepting one login. Ended when the object goes away.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace keep::test {

class SmtpSink {
 public:
  // Whether Debian's Python has aiosmtpd (package python3-aiosmtpd), which the sink runs on.
  static bool Available();

  SmtpSink(const std::string& login, const std::string& password);

  // Whether it listens; Port() is meaningless otherwise.
  bool Ready() const { return port_ > 0; }
  int Port() const { return port_; }

  struct Message {
    std::string text;      // as received after DATA
    std::string envelope;  // "from <sender>\nto <recipients>\nlogin <login or nothing>\n"
  };
  std::vector<Message> Messages() const;
  // Waits until at least `count` messages came, at most `limit`.
  bool WaitForMessages(size_t count, std::chrono::milliseconds limit) const;

 private:
  TempDir folder_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = -1;
};

}  // namespace keep::test

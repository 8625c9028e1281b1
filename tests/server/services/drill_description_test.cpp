// What a rehearsal prints for each kind of act the server would have done.
#include "server/services/drill_description.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/services/mail_arguments.h"

namespace keep::test {
namespace {

using server::DrillAct;

constexpr char kInstall[] = "/opt/keep/";

DrillAct Program(const std::string& program, const std::string& arguments, bool wait = false) {
  DrillAct act;
  act.kind = DrillAct::Kind::kProgram;
  act.program = program;
  act.text = arguments;
  act.wait = wait;
  return act;
}

DrillAct Remote(const std::string& host, const std::string& port, uint8_t kind, const std::string& text = "") {
  DrillAct act;
  act.kind = DrillAct::Kind::kRemoteCommand;
  act.host = host;
  act.port = port;
  act.remote_kind = kind;
  act.text = text;
  return act;
}

DrillAct Other(DrillAct::Kind kind, const std::string& text) {
  DrillAct act;
  act.kind = kind;
  act.text = text;
  return act;
}

DrillAct UpsRequest(int code, std::vector<std::string> fields) {
  DrillAct act;
  act.kind = DrillAct::Kind::kUpsRequest;
  act.code = code;
  act.fields = std::move(fields);
  return act;
}

struct Case {
  const char* what;
  DrillAct act;
  std::vector<std::string> lines;
};

TEST(DrillDescription, DescribesEachKindOfAct) {
  server::TSetupData setup;
  setup.InstallPath = kInstall;
  DrillAct warning = Other(DrillAct::Kind::kSystemLog, "Battery low");
  warning.severity = platform::SystemLog::Severity::kWarning;
  const std::vector<Case> cases{
      {"session pop-up: the text with its line breaks, then the start",
       Program("/opt/keep/bin/VNoteBox", "/T:0 \"/M:Power failure on HOST1.\rShut down in 5 minutes\" /I:48"),
       {"pop-up: Power failure on HOST1. / Shut down in 5 minutes",
        "starts /opt/keep/bin/VNoteBox /T:0 \"/M:Power failure on HOST1. / Shut down in 5 minutes\" /I:48"}},
      {"plain pop-up whose text holds a quote and the icon word",
       Program("/opt/keep/bin/notebox", "\"/M:say \" /I:1 twice\r\n\" /I:64"),
       {"pop-up: say \" /I:1 twice / ", "starts /opt/keep/bin/notebox \"/M:say \" /I:1 twice / \" /I:64"}},
      {"shutdown script",
       Program("/opt/keep/script/system/lcldown.sh", "", true),
       {"shutdown script: starts /opt/keep/script/system/lcldown.sh (this computer shuts down)"}},
      {"a script elsewhere is just a program",
       Program("/usr/local/bin/lcldown.sh", ""),
       {"starts /usr/local/bin/lcldown.sh"}},
      {"local program",
       Program("/usr/local/bin/page-admin", "--urgent"),
       {"starts /usr/local/bin/page-admin --urgent"}},
      {"log line",
       Other(DrillAct::Kind::kLogLine, "On battery - shutdown in 4 minutes"),
       {"log line: On battery - shutdown in 4 minutes"}},
      {"remote shutdown", Remote("backup", "65000", 0), {"remote command to backup:65000: shut that computer down"}},
      {"remote message carries its text",
       Remote("desk", "65000", 1, "10/12/2026 14:00:00\r\n\r\nPower failure"),
       {"remote command to desk:65000: show a message", "message: 10/12/2026 14:00:00 /  / Power failure"}},
      {"remote commands 1 to 3", Remote("nas", "7", 4), {"remote command to nas:7: run its command 3"}},
      {"remote without host",
       Remote(" ", "65000", 0),
       {"remote command to  :65000: shut that computer down - NOT SENT: Command not sent: no remote host given"}},
      {"remote with a port out of range",
       Remote("backup", "65536", 2),
       {"remote command to backup:65536: run its command 1 - NOT SENT: Command not sent to backup: port "
        "\"65536\" is not a number from 1 to 65535"}},
      {"system log entry", warning, {"system log entry (warning): Battery low"}},
      {"switch-off with restart",
       UpsRequest(2, {"180", "60"}),
       {"UPS switch-off request: the UPS switches off 180 s later and restarts 60 s after the mains return"}},
      {"switch-off without restart",
       UpsRequest(2, {"180", "@"}),
       {"UPS switch-off request: the UPS switches off 180 s later, no restart"}},
      {"another request", UpsRequest(109, {}), {"UPS request 109"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(server::DescribeAct(c.act, setup), c.lines) << c.what;
  }
}

TEST(DrillDescription, MailShowsProgramAndArgumentsButNeverThePassword) {
  server::TSetupData setup;
  setup.InstallPath = kInstall;
  server::TEmailSetup& email = setup.EmailSetup;
  email.EmailServer = "mail.example";
  email.EmailPort = 587;
  email.EmailUseAuth = true;
  email.EmailLogin = "ups";
  email.EmailPassword = "s3cr\"et";
  email.EmailSender = "ups@example";
  const std::string arguments =
      server::BuildMailArguments(email, "admin@example", "Voltrena", "10/12/2026 14:00:00", "Power failure");
  const std::vector<std::string> lines = server::DescribeAct(Program("/opt/keep/bin/mailout", arguments), setup);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "e-mail: starts /opt/keep/bin/mailout -a:\"mail.example\" -p:\"587\" -l:\"ups\" -w:\"********\" "
            "-s:\"ups@example\" -r:\"admin@example\" -o:\"Voltrena\" -b:\"10/12/2026 14:00:00 - Power failure\" -z");
  EXPECT_EQ(lines[0].find("s3cr"), std::string::npos);
}

TEST(DrillDescription, OneLineKeepsTerminalControlOut) {
  EXPECT_EQ(server::OneLine("a\r\nb\nc\rd"), "a / b / c / d");
  EXPECT_EQ(server::OneLine("\x1b[2Jcleared\x07\x7f"), "?[2Jcleared??");
  EXPECT_EQ(server::OneLine(""), "");
}

}  // namespace
}  // namespace keep::test

#include "tests/support/upssim_process.h"

#include <signal.h>

#include "tests/support/temp_dir.h"

namespace keep::test {

namespace {
constexpr std::chrono::milliseconds kStartLimit{10000};
}  // namespace

UpsSimulator::UpsSimulator(Link link, int protocol, const std::string& folder,
                           const std::vector<std::string>& extra_arguments) {
  static int serial = 0;
  record_file_ = folder + "/upssim-queries-" + std::to_string(++serial) + ".txt";
  std::vector<std::string> arguments{"--protocol", std::to_string(protocol)};
  if (link == Link::kPty) {
    arguments.push_back("--pty");
  } else {
    arguments.insert(arguments.end(), {"--tcp", "0"});
  }
  arguments.insert(arguments.end(), {"--control", "0", "--record", record_file_});
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_ =
      std::make_unique<ChildProcess>(BuiltProgram("upssim"), arguments, std::map<std::string, std::string>{}, folder);
  if (!process_->Started() || !process_->WaitForOutput("READY\n", kStartLimit)) return;
  const std::string output = process_->StandardOutput();
  if (link == Link::kPty) {
    const size_t at = output.find("PTY ");
    if (at == std::string::npos) return;
    slave_path_ = output.substr(at + 4, output.find('\n', at) - at - 4);
  } else {
    tcp_port_ = PortIn(output, "TCP");
  }
  control_ = Peer::Connect(PortIn(output, "CONTROL"));
  ready_ = control_ != nullptr;
}

UpsSimulator::~UpsSimulator() { Stop(); }

std::string UpsSimulator::Command(const std::string& line) { return control_ ? control_->Command(line) : ""; }

std::string UpsSimulator::RecordedQueries() const { return ReadFileText(record_file_); }

std::optional<int> UpsSimulator::Stop() {
  control_.reset();
  process_->Signal(SIGTERM);
  return process_->WaitForExit(kStartLimit);
}

}  // namespace keep::test

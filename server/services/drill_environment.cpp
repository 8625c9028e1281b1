#include "server/services/drill_environment.h"

#include <utility>

namespace keep::server {
namespace {

// System log entries become acts of the rehearsal.
class RecordingSystemLog final : public platform::SystemLog {
 public:
  explicit RecordingSystemLog(std::vector<DrillAct>& acts) : acts_(acts) {}
  void Write(Severity severity, std::string_view text) override {
    DrillAct act;
    act.kind = DrillAct::Kind::kSystemLog;
    act.severity = severity;
    act.text = std::string(text);
    acts_.push_back(std::move(act));
  }

 private:
  std::vector<DrillAct>& acts_;
};

}  // namespace

DrillEnvironment::DrillEnvironment(const platform::Registry& real, DateTime start)
    : clock_(start),
      loop_(clock_),
      registry_(real),
      environment_{
          loop_, clock_, clock_, registry_, dialogs_,
          [this](const std::string& program, std::string_view arguments, const platform::StartOptions& options) {
            DrillAct act;
            act.kind = DrillAct::Kind::kProgram;
            act.program = program;
            act.text = std::string(arguments);
            act.wait = options.wait;
            acts_.push_back(std::move(act));
            return true;
          },
          // Start-up errors are the rehearsal's own to report.
          [](std::string_view) {},
          [this](const std::string&) -> std::unique_ptr<platform::SystemLog> {
            return std::make_unique<RecordingSystemLog>(acts_);
          },
          // No device is ever opened.
          nullptr,
          [this](std::string_view line) {
            DrillAct act;
            act.kind = DrillAct::Kind::kLogLine;
            act.text = std::string(line);
            acts_.push_back(std::move(act));
          },
          [this](const std::string& host, const std::string& port, const std::string& text, uint8_t kind) {
            DrillAct act;
            act.kind = DrillAct::Kind::kRemoteCommand;
            act.host = host;
            act.port = port;
            act.text = text;
            act.remote_kind = kind;
            acts_.push_back(std::move(act));
          }} {}

std::vector<DrillAct> DrillEnvironment::TakeActs() { return std::exchange(acts_, {}); }

}  // namespace keep::server

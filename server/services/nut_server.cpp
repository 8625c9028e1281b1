#include "server/services/nut_server.h"

#include <cerrno>
#include <string_view>
#include <vector>

#include "common/fill_params.h"
#include "common/text_lists.h"
#include "platform/platform_info.h"
#include "server/services/client_server.h"
#include "server/services/language.h"
#include "server/services/recording.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

constexpr size_t kMaxNutUpsName = 64;

std::string VersionNumberText() {
  const platform::VersionNumber version = platform::ProgramVersion();
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.release);
}

void EndSecondariesWaitLog(ServerContext& context, bool all_gone, size_t left, int64_t limit_ms) {
  if (all_gone || left == 0) {
    WriteLogLine(context, LanguageTextOr(context.Setup, "LOGS", "NutSecondariesGone",
                                         "UPS network protocol: every secondary has logged out"));
    return;
  }
  WriteLogLine(context, FillParams(LanguageTextOr(context.Setup, "LOGS", "NutSecondariesLeft",
                                                  "UPS network protocol: $ secondaries still logged in after $ s, "
                                                  "shutting down without them"),
                                   {std::to_string(left), std::to_string((limit_ms + 999) / 1000)}));
}

}  // namespace

int64_t NutStaleAfterMs(int poll_seconds, int64_t reply_timeout_ms) {
  const int64_t poll_ms = int64_t{poll_seconds > 0 ? poll_seconds : 1} * 1000;
  return 2 * poll_ms + (reply_timeout_ms > 0 ? reply_timeout_ms : 0);
}

bool ValidNutUpsName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNutUpsName) return false;
  for (const char c : name) {
    const bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

NutServer::NutServer(ServerContext& context) : context_(context) {}

NutServer::~NutServer() { Stop(); }

int NutServer::Start() {
  const TServerSetup& setup = context_.Setup.ServerSetup;
  if (setup.NutListenPort == 0) return 0;
  const std::string name(TrimBlanks(setup.NutUpsName));
  const std::string address(TrimBlanks(setup.NutListenAddress));
  if (setup.NutListenPort < 0 || setup.NutListenPort > 65535 || !ValidNutUpsName(name)) {
    WriteLogLine(context_, FillParams(LanguageTextOr(context_.Setup, "LOGS", "NutSetupInvalid",
                                                     "UPS network protocol: port $ or UPS name \"$\" is not valid, "
                                                     "the listener stays off"),
                                      {std::to_string(setup.NutListenPort), setup.NutUpsName}));
    return EINVAL;
  }

  nut::NutListenerConfig config;
  config.ups_name = name;
  config.ups_description =
      context_.Ups.Info.ModelName.empty() ? context_.Setup.UpsSetup.UpsModelName : context_.Ups.Info.ModelName;
  config.monitor_user = setup.NutMonitorUser;
  config.monitor_password = setup.NutMonitorPassword;
  config.version = "keepd " + VersionNumberText();
  config.max_connections = ClientCap(setup.SrvMaxClients, context_.DescriptorLimit);
  nut::NutListenerPorts ports;
  ports.data_state = [this] { return DataState(); };
  ports.variables = [this, version = VersionNumberText()] {
    const nut::NutSource source{
        .ups = context_.Ups, .setup = context_.Setup, .shutdown_active = forced_shutdown_, .server_version = version};
    return nut::NutVariables(source);
  };
  ports.logins_dropped = [this] {
    if (after_secondaries_ && LoginCount() == 0) EndSecondariesWait(true);
  };
  listener_ = std::make_unique<nut::NutListener>(context_.env.loop, context_.env.monotonic, std::move(config),
                                                 std::move(ports));
  if (context_.Manager != nullptr) {
    context_.Manager->SetOnReply([this] { last_reply_ms_ = context_.env.monotonic.NowMs(); });
  }

  const uint16_t port = static_cast<uint16_t>(setup.NutListenPort);
  const int result = listener_->Start(port, address);
  const TStringList arguments{address.empty() ? std::string("*") : address, std::to_string(port),
                              std::to_string(result)};
  if (result != 0) {
    Stop();
    WriteLogLine(context_, FillParams(LanguageTextOr(context_.Setup, "LOGS", "NutListenFailed",
                                                     "UPS network protocol: cannot listen on $:$ (error $)"),
                                      arguments));
    return result;
  }
  WriteLogLine(context_, FillParams(LanguageTextOr(context_.Setup, "LOGS", "NutListening",
                                                   "UPS network protocol: listening on $:$"),
                                    arguments));
  return 0;
}

uint16_t NutServer::Port() const { return listener_ == nullptr ? 0 : listener_->Port(); }

void NutServer::Stop() {
  if (context_.Manager != nullptr) context_.Manager->SetOnReply(nullptr);
  // keepd is ending: a shutdown still waiting for the secondaries ends with it, as one waiting for
  // the remote commands does.
  if (secondaries_timer_ != 0) context_.env.loop.CancelTimer(secondaries_timer_);
  secondaries_timer_ = 0;
  after_secondaries_ = nullptr;
  if (listener_ != nullptr) listener_->Stop();
  listener_.reset();
}

void NutServer::AfterSecondariesLeft(std::function<void()> then, int64_t limit_ms) {
  if (after_secondaries_) EndSecondariesWait(false);
  const size_t logged_in = LoginCount();
  if (logged_in == 0 || limit_ms <= 0) {
    if (logged_in != 0) EndSecondariesWaitLog(context_, false, logged_in, 0);
    if (then) then();
    return;
  }
  after_secondaries_ = std::move(then);
  secondaries_limit_ms_ = limit_ms;
  WriteLogLine(context_, FillParams(LanguageTextOr(context_.Setup, "LOGS", "NutWaitingForSecondaries",
                                                   "UPS network protocol: forced shutdown, waiting up to $ s for "
                                                   "$ logged-in secondaries to log out"),
                                    {std::to_string((limit_ms + 999) / 1000), std::to_string(logged_in)}));
  secondaries_timer_ = context_.env.loop.AddTimer(limit_ms, false, [this] {
    secondaries_timer_ = 0;
    EndSecondariesWait(false);
  });
}

void NutServer::EndSecondariesWait(bool all_gone) {
  if (secondaries_timer_ != 0) context_.env.loop.CancelTimer(secondaries_timer_);
  secondaries_timer_ = 0;
  std::function<void()> then = std::move(after_secondaries_);
  after_secondaries_ = nullptr;
  EndSecondariesWaitLog(context_, all_gone, LoginCount(), secondaries_limit_ms_);
  if (then) then();
}

nut::NutDataState NutServer::DataState() const {
  const UpsManager* manager = context_.Manager.get();
  if (manager == nullptr || !manager->Connected || context_.Server.Info.UpsConnecting || !last_reply_ms_) {
    return nut::NutDataState::kNotConnected;
  }
  const int64_t age = context_.env.monotonic.NowMs() - *last_reply_ms_;
  const int64_t limit = NutStaleAfterMs(context_.Setup.ServerSetup.SrvPollingUps, manager->ReplyTimeout);
  return age > limit ? nut::NutDataState::kStale : nut::NutDataState::kFresh;
}

}  // namespace keep::server

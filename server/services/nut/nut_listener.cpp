#include "server/services/nut/nut_listener.h"

#include <algorithm>
#include <utility>

namespace keep::server::nut {

NutListener::NutListener(platform::EventLoop& loop, const platform::MonotonicClock& clock, NutListenerConfig config,
                         NutListenerPorts ports)
    : loop_(loop), clock_(clock), config_(std::move(config)), ports_(std::move(ports)) {
  view_.ups_name = config_.ups_name;
  view_.ups_description = config_.ups_description;
  view_.monitor_user = config_.monitor_user;
  view_.monitor_password = config_.monitor_password;
  view_.version = config_.version;
  view_.variables = [this] { return ports_.variables ? ports_.variables() : std::vector<NutVariable>(); };
  view_.logged_in_peers = [this] { return LoggedInPeers(); };

  platform::TcpLineServerHandlers handlers;
  handlers.on_connect = [this](platform::ConnectionId id, const std::string& peer) {
    Connection& connection = connections_[id];
    connection.session.peer = peer;
    connection.last_line_ms = clock_.NowMs();
    if (idle_timer_ == 0) PlanIdleCheck(config_.idle_ms);
  };
  handlers.on_line = [this](platform::ConnectionId id, std::string line) { OnLine(id, line); };
  handlers.on_overlong = [this](platform::ConnectionId id) {
    // The line server reads nothing more of this client and closes it after the answer.
    server_->Send(id, "ERR " + std::string(err::kInvalidArgument));
  };
  handlers.on_disconnect = [this](platform::ConnectionId id) { OnDisconnect(id); };
  platform::TcpLineServerLimits limits;
  limits.send_buffer_bytes = kNutClientSendBytes;
  limits.total_send_bytes = kNutAllClientsSendBytes;
  limits.max_connections = config_.max_connections;
  server_ = platform::TcpLineServer::Create(loop_, std::move(handlers), std::move(limits));
}

NutListener::~NutListener() { Stop(); }

int NutListener::Start(uint16_t port, const std::string& address) { return server_->Start(port, address); }

uint16_t NutListener::Port() const { return server_->Port(); }

void NutListener::Stop() {
  server_->Stop();
  connections_.clear();
  if (idle_timer_ != 0) loop_.CancelTimer(idle_timer_);
  idle_timer_ = 0;
}

size_t NutListener::LoginCount() const {
  return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                           [](const auto& entry) { return entry.second.session.logged_in; }));
}

std::vector<std::string> NutListener::LoggedInPeers() const {
  std::vector<std::string> peers;
  for (const auto& [id, connection] : connections_) {
    if (connection.session.logged_in) peers.push_back(connection.session.peer);
  }
  return peers;
}

void NutListener::OnLine(platform::ConnectionId id, const std::string& line) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  found->second.last_line_ms = clock_.NowMs();
  view_.data = ports_.data_state ? ports_.data_state() : NutDataState::kNotConnected;
  const bool was_logged_in = found->second.session.logged_in;
  const NutReply reply = AnswerNutLine(line, found->second.session, view_);
  const bool logged_out = was_logged_in && !found->second.session.logged_in;
  bool sent = true;
  for (const std::string& answer : reply.lines) {
    // A client that stopped reading is gone after a refused send; nothing more goes to it.
    if (!(sent = server_->Send(id, answer))) break;
  }
  if (sent && reply.close) server_->CloseAfterSending(id);
  if (logged_out && ports_.logins_dropped) ports_.logins_dropped();
}

void NutListener::OnDisconnect(platform::ConnectionId id) { Forget(id); }

void NutListener::Forget(platform::ConnectionId id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  const bool was_logged_in = found->second.session.logged_in;
  connections_.erase(found);
  if (was_logged_in && ports_.logins_dropped) ports_.logins_dropped();
}

void NutListener::PlanIdleCheck(int64_t delay_ms) {
  idle_timer_ = loop_.AddTimer(delay_ms, false, [this] {
    idle_timer_ = 0;
    DropIdle();
  });
}

void NutListener::DropIdle() {
  const int64_t now = clock_.NowMs();
  std::vector<platform::ConnectionId> idle;
  int64_t earliest_left = -1;
  for (const auto& [id, connection] : connections_) {
    if (now - connection.last_line_ms >= config_.idle_ms) {
      idle.push_back(id);
    } else if (earliest_left < 0 || connection.last_line_ms < earliest_left) {
      earliest_left = connection.last_line_ms;
    }
  }
  // Close reports the disconnect too; the entry goes now, so nothing is answered to it any more.
  for (const platform::ConnectionId id : idle) {
    server_->Close(id);
    Forget(id);
  }
  if (earliest_left >= 0) PlanIdleCheck(earliest_left + config_.idle_ms - now);
}

}  // namespace keep::server::nut

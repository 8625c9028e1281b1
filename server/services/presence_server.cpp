#include "server/services/presence_server.h"

#include <map>
#include <utility>

#include "common/frames.h"
#include "common/scrambling.h"
#include "platform/event_loop.h"
#include "platform/tcp_server.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

constexpr char kPresenceAnswerBody[] = "Corvane Powerkeep|5";
constexpr char kRefusalBody[] = "502";

bool IsPresenceProbe(const std::string& line) {
  return line.size() >= 3 && line.front() == '<' && line[2] == '5' && line.back() == '>';
}

}  // namespace

std::string PresenceAnswer(const std::string& line) {
  return MakeFrame(IsPresenceProbe(line) ? kPresenceAnswerBody : kRefusalBody);
}

struct PresenceServer::Impl {
  explicit Impl(platform::EventLoop& event_loop) : loop(event_loop) {}

  void Forget(platform::ConnectionId id) {
    const auto found = idle_timers.find(id);
    if (found == idle_timers.end()) return;
    loop.CancelTimer(found->second);
    idle_timers.erase(found);
  }

  platform::EventLoop& loop;
  std::unique_ptr<platform::TcpLineServer> server;
  // One per connection that has not sent its line yet.
  std::map<platform::ConnectionId, platform::EventLoop::TimerId> idle_timers;
};

PresenceServer::PresenceServer(ServerContext& context) : impl_(std::make_unique<Impl>(context.env.loop)) {
  Impl* impl = impl_.get();
  platform::TcpLineServerHandlers handlers;
  handlers.on_connect = [impl](platform::ConnectionId id, const std::string&) {
    // Every connection holds a descriptor and a place among the few: one that never sends its line
    // is closed after a while instead of staying for ever.
    impl->idle_timers[id] = impl->loop.AddTimer(kPresenceIdleLimitMs, false, [impl, id] {
      impl->idle_timers.erase(id);
      impl->server->Close(id);
    });
  };
  handlers.on_line = [impl](platform::ConnectionId id, std::string line) {
    impl->Forget(id);
    impl->server->Send(id, ScrambleText(PresenceAnswer(UnscrambleText(line))));
    impl->server->CloseAfterSending(id);
  };
  // A line too long to be read is no probe; the connection just ends.
  handlers.on_overlong = [impl](platform::ConnectionId id) { impl->Forget(id); };
  handlers.on_disconnect = [impl](platform::ConnectionId id) { impl->Forget(id); };
  // The answers are a few dozen bytes; a small buffer bounds what a client that never reads can cost,
  // and a few connections at once are plenty for probes (each costs a descriptor).
  platform::TcpLineServerLimits limits;
  limits.send_buffer_bytes = 4096;
  limits.max_connections = kMaxPresenceConnections;
  impl_->server = platform::TcpLineServer::Create(impl_->loop, std::move(handlers), std::move(limits));
}

PresenceServer::~PresenceServer() { Stop(); }

int PresenceServer::Start(uint16_t port) { return impl_->server->Start(port); }

uint16_t PresenceServer::Port() const { return impl_->server->Port(); }

size_t PresenceServer::Connections() const { return impl_->server->Connections().size(); }

void PresenceServer::Stop() {
  impl_->server->Stop();
  for (const auto& [id, timer] : impl_->idle_timers) impl_->loop.CancelTimer(timer);
  impl_->idle_timers.clear();
}

}  // namespace keep::server

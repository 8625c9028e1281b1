#include "server/services/client_server.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "common/fill_params.h"
#include "common/scrambling.h"
#include "common/text_lists.h"
#include "server/records/command_codes.h"
#include "server/services/language.h"
#include "server/services/recording.h"
#include "server/services/request_check.h"
#include "server/services/request_queue.h"
#include "server/services/response_builder.h"
#include "server/services/schedule_file.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

bool ParseCode(const std::string& text, int& code) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, code);
  return ec == std::errc() && ptr == end;
}

constexpr char kScheduleFileName[] = "data/sch_data.dat";

}  // namespace

size_t ClientCap(int64_t configured, uint64_t descriptor_limit) {
  uint64_t cap = configured > 0 ? static_cast<uint64_t>(configured) : kMinClientCap;
  if (descriptor_limit > 0) {
    const uint64_t spare = descriptor_limit > kReservedDescriptors ? descriptor_limit - kReservedDescriptors : 0;
    cap = std::min(cap, spare / kDescriptorsPerClient);
  }
  return static_cast<size_t>(std::max<uint64_t>(cap, kMinClientCap));
}

ClientServer::ClientServer(ServerContext& context) : context_(context), access_(context.Setup.ServerSetup) {
  platform::TcpLineServerHandlers handlers;
  handlers.on_connect = [this](platform::ConnectionId id, const std::string& peer) { peers_[id] = peer; };
  handlers.on_line = [this](platform::ConnectionId id, std::string line) { OnLine(id, line); };
  handlers.on_overlong = [this](platform::ConnectionId id) { OnOverlong(id); };
  handlers.on_disconnect = [this](platform::ConnectionId id) { OnDisconnect(id); };
  handlers.on_refused = [this](const std::string& peer, platform::Refusal reason, size_t count) {
    OnRefused(peer, reason, count);
  };
  platform::TcpLineServerLimits limits;
  limits.send_buffer_bytes = kClientSendBufferBytes;
  limits.total_send_bytes = kAllClientsSendBufferBytes;
  limits.max_connections = ClientCap(context.Setup.ServerSetup.SrvMaxClients, context.DescriptorLimit);
  // A copy, so that it never reaches into a context that changes under it.
  limits.admit = [access = access_](const std::string& peer) { return access.MayConnect(peer); };
  server_ = platform::TcpLineServer::Create(context_.env.loop, std::move(handlers), std::move(limits));

  TransferPorts ports;
  ports.answer = [this](platform::ConnectionId id, int code, const std::string& parameter) {
    return Answer(id, code, &parameter);
  };
  ports.pending = [this](platform::ConnectionId id) { return server_->Pending(id); };
  ports.resume = [this](platform::ConnectionId id) { server_->ResumeItems(id); };
  ports.drop = [this](platform::ConnectionId id) { server_->Close(id); };
  transfers_ = std::make_unique<TransferPump>(context_.env.loop, context_.env.monotonic, context_.Setup.InstallPath,
                                              std::move(ports));
}

ClientServer::~ClientServer() { Stop(); }

int ClientServer::Start(uint16_t port) {
  // Copies a killed server left behind would otherwise stay for good.
  ClearTransferFolder(context_.Setup.InstallPath);
  return server_->Start(port, std::string(TrimBlanks(context_.Setup.ServerSetup.SrvListenAddress)));
}

uint16_t ClientServer::Port() const { return server_->Port(); }

void ClientServer::Stop() {
  server_->Stop();
  peers_.clear();
  transfers_->Clear();  // deletes the temporary copies
}

const std::string& ClientServer::PeerOf(platform::ConnectionId id) const {
  static const std::string kNone;
  const auto peer = peers_.find(id);
  return peer == peers_.end() ? kNone : peer->second;
}

void ClientServer::OnRefused(const std::string& peer, platform::Refusal reason, size_t count) {
  const int64_t now = context_.env.monotonic.NowMs();
  std::optional<int64_t>& last = last_refusal_ms_[static_cast<size_t>(reason)];
  const bool new_burst = !last || now - *last >= kRefusalQuietMs;
  last = now;
  if (!new_burst) return;
  const TStringList arguments{peer, std::to_string(count)};
  const std::string text =
      reason == platform::Refusal::kTooMany
          ? LanguageTextOr(context_.Setup, "LOGS", "ClientRefusedTooMany",
                           "Client $ refused: the server serves as many clients as it can ($ refused)")
          : LanguageTextOr(context_.Setup, "LOGS", "ClientRefusedAddress",
                           "Client $ refused: its address may not connect ($ refused)");
  WriteLogLine(context_, FillParams(text, arguments));
}

bool ClientServer::IsConnected() const {
  if (connected) return connected();
  return context_.Manager != nullptr && context_.Manager->Connected;
}

void ClientServer::OnLine(platform::ConnectionId id, const std::string& scrambled) {
  if (!DispatchRequest(UnscrambleText(scrambled), id, false)) Answer(id, kCodeInvalidRequest, nullptr);
}

void ClientServer::OnOverlong(platform::ConnectionId id) {
  // The server has stopped reading this client, which then closes after the answer.
  Answer(id, kCodeInvalidRequest, nullptr);
}

void ClientServer::OnDisconnect(platform::ConnectionId id) {
  const auto gone = peers_.find(id);
  if (gone != peers_.end()) {
    const std::string address = gone->second;
    peers_.erase(gone);
    // Reads nobody is left to receive only hold up the others; changes the client asked for stay.
    const bool still_there =
        std::any_of(peers_.begin(), peers_.end(), [&](const auto& peer) { return peer.second == address; });
    if (!still_there) context_.Requests.DropReadsOf(address);
  }
  transfers_->Forget(id);
}

bool ClientServer::Answer(platform::ConnectionId id, int code, const std::string* parameter) {
  if (code == kCodeStatus) return server_->Send(id, status_answer_.Scrambled(context_));
  return server_->Send(id, ScrambleText(BuildResponse(code, parameter, context_)));
}

bool ClientServer::DispatchRequest(const std::string& line, std::optional<platform::ConnectionId> connection,
                                   bool at_front) {
  if (line.empty() || line.front() != '<' || line.back() != '>') return false;
  TStringList items;
  SplitText('|', line, items, true);
  int code = 0;
  if (items.size() <= 2 || !ParseCode(items[1], code)) return false;
  // The fields are the items between the frame's "<" and ">", taken out in place.
  items.pop_back();
  items.erase(items.begin());
  const TStringList& fields = items;

  if (connection && IsControlRequest(code) && !access_.MayControl(PeerOf(*connection))) {
    RefuseControl(*connection, code, fields);
    return true;
  }

  const CheckResult result = CheckRequest(fields, context_);
  if (!result.valid) return false;

  if (result.already_answered) {
    if (connection) RunSpecial(*connection, code, result);
  } else if (!IsConnected()) {
    if (connection) Answer(*connection, kCodeUpsNotConnected, nullptr);
  } else if (result.answer_now) {
    if (connection) Answer(*connection, code, nullptr);
  } else {
    std::string requester = kInternalTarget;
    if (connection) {
      const auto peer = peers_.find(*connection);
      if (peer != peers_.end()) requester = peer->second;
      if (context_.Requests.CountFor(requester) >= kMaxQueuedPerAddress) return false;
    }
    context_.Requests.QueueRequest(requester, line, at_front);
  }

  if (!result.log_text.empty()) WriteLogLine(context_, result.log_text);
  return true;
}

void ClientServer::RefuseControl(platform::ConnectionId id, int code, const TStringList& fields) {
  if (code != kCodeUploadSchedule) {
    Answer(id, kCodeInvalidRequest, nullptr);
    return;
  }
  // The upload's payload follows its line: read past it, so it is not taken for requests.
  const CheckResult upload = CheckRequest(fields, context_);
  if (upload.valid && !upload.close_connection && upload.byte_count > 0 &&
      server_->ReadRawNext(id, static_cast<size_t>(upload.byte_count),
                           [this, id](const std::string&) { Answer(id, kCodeInvalidRequest, nullptr); })) {
    return;
  }
  Answer(id, kCodeInvalidRequest, nullptr);
  // A payload too large to read past leaves nothing to trust on this connection.
  if (upload.close_connection) server_->CloseAfterSending(id);
}

void ClientServer::RunSpecial(platform::ConnectionId id, int code, const CheckResult& result) {
  switch (result.special) {
    case Special::kFileTransfer:
      // The file goes out before the client's next request is taken.
      server_->HoldItems(id);
      transfers_->Request(id, result.file_name, code);
      return;
    case Special::kScheduleUpload:
      if (result.close_connection) {
        // The payload is too large to skip safely: refuse, and read nothing more of this client.
        Answer(id, code, &result.answer_parameter);
        server_->CloseAfterSending(id);
      } else if (result.byte_count == 0) {
        ReceiveSchedule(id, std::string());
      } else {
        server_->ReadRawNext(id, static_cast<size_t>(result.byte_count),
                             [this, id](std::string block) { ReceiveSchedule(id, block); });
      }
      return;
    case Special::kShutdown:
      Answer(id, code, &result.answer_parameter);
      if (result.answer_parameter == "1") {
        context_.Server.ShutdownNowNoRestart = true;
        if (on_shutdown_requested) on_shutdown_requested();
      }
      return;
    default:
      if (result.has_answer_parameter) Answer(id, code, &result.answer_parameter);
      if (result.close_connection) server_->CloseAfterSending(id);
      return;
  }
}

void ClientServer::ReceiveSchedule(platform::ConnectionId id, const std::string& bytes) {
  const std::string& install = context_.Setup.InstallPath;
  const ScheduleReceipt receipt =
      ReceiveScheduleFile(bytes, kCodeUploadSchedule, install + kScheduleFileName, install + "srvtemp/");
  Answer(id, kCodeUploadSchedule, &receipt.answer);
  const auto peer = peers_.find(id);
  const std::string address = peer == peers_.end() ? std::string() : peer->second;
  WriteLogLine(context_, ScheduleUploadLogText(context_, receipt.stored, address));
  if (receipt.stored && on_schedule_stored) on_schedule_stored();
}

bool ClientServer::SendToClient(const std::string& target, const std::string* parameter, int code) {
  if (target == kInternalTarget) return false;
  for (const platform::ClientConnection& connection : server_->Connections()) {
    if (connection.peer == target) return Answer(connection.id, code, parameter);
  }
  return false;
}

void ClientServer::NotifyAllClients(int code, const std::string* parameter) {
  // Built once: the table answers empty their table when built, and every client must get the same.
  const std::string line = ScrambleText(BuildResponse(code, parameter, context_));
  for (const platform::ClientConnection& connection : server_->Connections()) server_->Send(connection.id, line);
}

}  // namespace keep::server

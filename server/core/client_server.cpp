#include "server/core/client_server.h"

#include <charconv>
#include <filesystem>
#include <utility>

#include "common/scrambling.h"
#include "common/text_lists.h"
#include "server/core/command_codes.h"
#include "server/core/request_check.h"
#include "server/core/request_queue.h"
#include "server/core/response_builder.h"
#include "server/core/server_context.h"
#include "server/services/recording.h"
#include "server/services/schedule_file.h"

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

ClientServer::ClientServer(ServerContext& context) : context_(context) {
  platform::TcpLineServerHandlers handlers;
  handlers.on_connect = [this](platform::ConnectionId id, const std::string& peer) { peers_[id] = peer; };
  handlers.on_line = [this](platform::ConnectionId id, std::string line) { OnLine(id, line); };
  handlers.on_overlong = [this](platform::ConnectionId id) { OnOverlong(id); };
  handlers.on_disconnect = [this](platform::ConnectionId id) { OnDisconnect(id); };
  server_ = platform::TcpLineServer::Create(context_.env.loop, std::move(handlers), kClientSendBufferBytes);
}

ClientServer::~ClientServer() { Stop(); }

int ClientServer::Start(uint16_t port) { return server_->Start(port); }

uint16_t ClientServer::Port() const { return server_->Port(); }

void ClientServer::Stop() {
  server_->Stop();
  peers_.clear();
  transfers_.clear();  // deletes the temporary copies
  if (pump_timer_ != 0) context_.env.loop.CancelTimer(pump_timer_);
  pump_timer_ = 0;
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
  peers_.erase(id);
  transfers_.erase(id);
}

bool ClientServer::Answer(platform::ConnectionId id, int code, const std::string* parameter) {
  return server_->Send(id, ScrambleText(BuildResponse(code, parameter, context_)));
}

bool ClientServer::DispatchRequest(const std::string& line, std::optional<platform::ConnectionId> connection,
                                   bool at_front) {
  if (line.empty() || line.front() != '<' || line.back() != '>') return false;
  TStringList items;
  SplitText('|', line, items, true);
  int code = 0;
  if (items.size() <= 2 || !ParseCode(items[1], code)) return false;
  const TStringList fields(items.begin() + 1, items.end() - 1);

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
    }
    context_.Requests.QueueRequest(requester, line, at_front);
  }

  if (!result.log_text.empty()) WriteLogLine(context_, result.log_text);
  return true;
}

void ClientServer::RunSpecial(platform::ConnectionId id, int code, const CheckResult& result) {
  switch (result.special) {
    case Special::kFileTransfer:
      SendFile(id, result.file_name, code);
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

void ClientServer::SendFile(platform::ConnectionId id, const std::string& file_name, int code) {
  // The connection and a serial number make the copy's name unique among all transfers under way.
  const std::string copy_name = std::filesystem::path(file_name).filename().string() + "." + std::to_string(id) + "." +
                                std::to_string(++transfer_serial_);
  std::unique_ptr<FileTransfer> transfer = FileTransfer::Open(context_.Setup.InstallPath, file_name, copy_name, code);
  if (transfer == nullptr) {
    const std::string none = "0";
    Answer(id, code, &none);
    return;
  }
  transfers_[id].push_back(std::move(transfer));
  ArmPump();
}

void ClientServer::ArmPump() {
  if (pump_timer_ != 0 || transfers_.empty()) return;
  // One millisecond between slices lets the connections' threads write and the other clients be served.
  pump_timer_ = context_.env.loop.AddTimer(1, false, [this] {
    pump_timer_ = 0;
    PumpTransfers();
    ArmPump();
  });
}

void ClientServer::PumpTransfers() {
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    const platform::ConnectionId id = it->first;
    auto& queue = it->second;
    FileTransfer& transfer = *queue.front();
    const int code = transfer.Code();
    const bool more = transfer.Pump(
        [this, id, code](const std::string& parameter) { return Answer(id, code, &parameter); }, kTransferSliceBytes);
    if (!more) queue.pop_front();
    it = queue.empty() ? transfers_.erase(it) : std::next(it);
  }
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

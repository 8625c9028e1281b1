// Requests to the server and the wait for their answers.
#include "common/frames.h"
#include "common/scrambling.h"
#include "console/console_client.h"
#include "console/output.h"

namespace keep::console {

bool ConsoleClient::WriteRequest(int code, const TStringList& fields) {
  std::string frame;
  if (fields.empty()) {
    frame = MakeCodeFrame(code);
  } else {
    // The caller's list stays as it was, so it can be sent again.
    TStringList entries;
    entries.reserve(fields.size() + 1);
    entries.push_back(std::to_string(code));
    entries.insert(entries.end(), fields.begin(), fields.end());
    frame = MakeListFrame(entries);
  }
  state_.pending_code = code;
  state_.answer_received = false;
  return link_.Write(ScrambleText(frame) + "\r\n");
}

bool ConsoleClient::SendRequest(int code, const TStringList& fields, bool wait) {
  if (!WriteRequest(code, fields)) {
    ShowErrorLine(io_, "Error while sending request to server !");
    return false;
  }
  if (!wait) return state_.answer_received;
  return WaitForAnswer();
}

bool ConsoleClient::WaitForAnswer() {
  for (int polls = 0; !state_.answer_received; ++polls) {
    if (polls >= kAnswerPolls) {
      ShowErrorLine(io_, "Communication timeout with server module !");
      return false;
    }
    pause_.Wait(kAnswerPollMs);
  }
  return true;
}

bool ConsoleClient::UploadList(const TStringList& lines) {
  std::string block;
  for (const std::string& line : lines) {
    block += ScrambleText(line);
    block += "\r\n";
  }
  state_.Update([](ConsoleData& data) { data.ups.results.upload.clear(); });
  if (block.empty()) return SendRequest(203, {"0"}, true);
  if (!WriteRequest(203, {std::to_string(block.size())})) {
    ShowErrorLine(io_, "Error while sending request to server !");
    return false;
  }
  // The bytes follow the request line as they are: the server reads exactly their count.
  if (!link_.Write(block)) {
    ShowErrorLine(io_, "Error while sending request to server !");
    return false;
  }
  return true;
}

}  // namespace keep::console

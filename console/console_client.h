// The console client: the connection to one server, the exchange of requests and answers and the
// connection dialog. The menus (main_menu.h) and screens drive it from the menu thread; its receive
// thread fills the client state while connected.
//
// Threads: every member is for the menu thread. The receive thread only writes the state's data and
// flags and shows broadcasts through the console.
#pragma once

#include <memory>
#include <string>

#include "common/text_lists.h"
#include "console/client_state.h"
#include "console/console_io.h"
#include "console/pause.h"
#include "console/receive_thread.h"
#include "console/server_link.h"
#include "console/value_renderings.h"

namespace keep::console {

class ConsoleClient {
 public:
  // `io`, `link` and `pause` must outlive the client.
  ConsoleClient(ConsoleIo& io, ServerLink& link, Pause& pause, RenderStyle style);
  // Disconnects.
  ~ConsoleClient();
  ConsoleClient(const ConsoleClient&) = delete;
  ConsoleClient& operator=(const ConsoleClient&) = delete;

  ConsoleIo& Io() { return io_; }
  ClientState& State() { return state_; }
  const RenderStyle& Style() const { return style_; }
  // The UPS kind of the last identification (0 basic, 1-2 standard, 3-6 modular).
  int UpsKind() const;

  // Asks for host and port and connects; then identifies the UPS (request 100). 0 when the user
  // cancelled ("Q" at either question, or the input ended), else 1 (connected or not: the state
  // tells, and the failure was shown).
  int ConnectDialog();
  // Disconnects; with `reconnect` clears the data, the event list, the scheduler items and the
  // flags and connects again to the state's host and port (errors are not shown).
  void ConnectToServer(bool reconnect);
  // Stops the receive thread and closes the connection.
  void DisconnectFromServer();
  // Disconnects when connected, else runs ConnectDialog.
  void ToggleConnection();

  // Sends request `code` with `fields` (none: an empty list) and, with `wait`, waits for its
  // answer (at most 400 polls of 100 ms). True when sent and, with `wait`, answered. Failures are
  // shown: "Error while sending request to server !" or "Communication timeout with server module !".
  // Without `wait` the result is true only when an answer had already come.
  bool SendRequest(int code, const TStringList& fields, bool wait);
  bool SendRequest(int code, bool wait) { return SendRequest(code, TStringList{}, wait); }
  // Waits for the answer of the request last sent, as SendRequest with `wait` does.
  bool WaitForAnswer();

  // Sends `lines` as the server's scheduler file (request 203 with the byte count, then the lines,
  // each scrambled and ended by CR LF). True unless sending failed. The caller waits for the
  // answer itself (WaitForAnswer); it is stored as the upload result. An empty list asks the server
  // to delete its file and waits for the answer here (false also when it did not come).
  bool UploadList(const TStringList& lines);

 private:
  // Frames, scrambles and writes the request; false (nothing shown) when the write failed.
  bool WriteRequest(int code, const TStringList& fields);
  void StartReceiving();

  ConsoleIo& io_;
  ServerLink& link_;
  Pause& pause_;
  RenderStyle style_;
  ClientState state_;
  std::unique_ptr<ReceiveThread> receiver_;
};

}  // namespace keep::console

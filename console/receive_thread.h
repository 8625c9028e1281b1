// The receive thread of a connected console (one per connection): it reads the server's lines,
// unscrambles and parses them into the client state, marks the answer of the pending request as
// received and shows the server's own messages.
#pragma once

#include <atomic>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

#include "console/client_state.h"
#include "console/server_link.h"
#include "console/value_renderings.h"

namespace keep::console {

class ReceiveThread {
 public:
  // Shows a broadcast text; runs on the receive thread and should return when `stop` is requested.
  using ShowFn = std::function<void(const std::string& text, std::stop_token stop)>;

  // Starts reading `link` at once. `link` and `state` must outlive the object.
  ReceiveThread(ServerLink& link, ClientState& state, RenderStyle style, ShowFn show);
  // Stops and joins the thread.
  ~ReceiveThread();
  ReceiveThread(const ReceiveThread&) = delete;
  ReceiveThread& operator=(const ReceiveThread&) = delete;

  // From then on nothing is read or parsed; returns once the thread has ended (a broadcast waiting
  // for ENTER is abandoned).
  void Stop();
  // True once the thread ended by itself because the link is no longer connected.
  bool Ended() const { return ended_; }

 private:
  void Run(std::stop_token stop);
  // The plain message of one line, handled as the menu thread expects it.
  void Handle(const std::string& line, std::stop_token stop);

  ServerLink& link_;
  ClientState& state_;
  RenderStyle style_;
  ShowFn show_;
  std::atomic<bool> ended_{false};
  std::jthread thread_;
};

}  // namespace keep::console

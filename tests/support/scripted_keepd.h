// A stand-in for keepd on a free 127.0.0.1 port that plays recorded answer frames, so console tests
// can show a client UPS kinds the simulator cannot play. It speaks the server's line format: each
// line is one scrambled frame followed by CR LF. Every request line it reads is recorded in plain
// text and answered from a table keyed by the exact request frame, or by repeating it for the codes
// set to echo (as the setting requests are answered); anything else gets no answer.
//
// One client at a time: a new connection replaces the current one, so a client that reconnects is
// served again. The server runs its own thread, started by the constructor and joined by the
// destructor; every other member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace keep::test {

class ScriptedKeepd {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{10000};

  // Listens on a free loopback port; check Ok().
  ScriptedKeepd();
  // Closes the connection and the port and joins the thread (it wakes at once).
  ~ScriptedKeepd();
  ScriptedKeepd(const ScriptedKeepd&) = delete;
  ScriptedKeepd& operator=(const ScriptedKeepd&) = delete;

  // False when the port or the thread could not be set up; Port() is then meaningless.
  bool Ok() const { return ok_; }
  int Port() const { return port_; }

  // Answers the plain request `request` (e.g. "<|101|>") with `frames`, each one line, in order.
  // A later call for the same request replaces the answer.
  void Answer(const std::string& request, std::vector<std::string> frames);
  void Answer(const std::string& request, const std::string& frame) { Answer(request, std::vector{frame}); }
  // Answers every request of `code` that has no answer of its own with the request itself.
  void Echo(int code);

  // Sends `frame` to the current client unasked, as the server's notices are sent. False when no
  // client is connected or the frame could not be written.
  bool Push(const std::string& frame);

  // Every request line received so far, unscrambled and without its line end, in order, over all
  // connections.
  std::vector<std::string> Requests() const;
  // The requests received after the first `skip` ones.
  std::vector<std::string> RequestsAfter(size_t skip) const;
  // Waits until `request` has been received `times` times in all, at most `limit`.
  bool WaitForRequest(const std::string& request, size_t times = 1,
                      std::chrono::milliseconds limit = kDefaultLimit) const;
  // How many connections were accepted so far.
  int Connections() const;

 private:
  void Run();
  // Reads what the client sent and answers each complete line; false when the client has gone.
  bool Serve();
  void Handle(const std::string& line);
  // Writes the frames scrambled, each followed by CR LF. Called with mutex_ held.
  bool WriteFrames(const std::vector<std::string>& frames);
  void CloseClient();

  int listen_fd_ = -1;
  int wake_read_ = -1;  // the destructor writes to the pipe to wake the thread's poll
  int wake_write_ = -1;
  int port_ = 0;
  bool ok_ = false;

  mutable std::mutex mutex_;
  mutable std::condition_variable received_;
  int client_fd_ = -1;   // guarded by mutex_ (written by the thread, used by Push)
  std::string pending_;  // bytes of an unfinished line; only the thread touches it
  std::map<std::string, std::vector<std::string>> answers_;
  std::set<std::string> echoed_codes_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace keep::test

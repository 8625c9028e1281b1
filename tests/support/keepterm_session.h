// keepterm as a person at a terminal runs it, for the console's end-to-end tests: the program on a
// pseudo-terminal of its own, the texts it asks with, and waits on what it shows. Also the fixture
// that runs keepd with upssim for it to connect to. Every wait is bounded; for one test thread.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/keepd_on_simulator.h"
#include "tests/support/pty_process.h"

namespace keep::test {

inline constexpr char kStartupLine[] = "Voltrena - Voltrena Console [Version 1.1.4.9]";
inline constexpr char kHostPrompt[] = "Host IP address [default: localhost / Q=cancel]: ";
inline constexpr char kPortPrompt[] = "Host IP port [default: 5769 / Q=cancel]: ";
inline constexpr char kMainPrompt[] = "Selection [Q for exit]: ";
inline constexpr char kSubPrompt[] = "Selection [<blank> to return to Main Menu]: ";
inline constexpr char kRefreshPrompt[] = "< Press \"R\" to refresh or \"ENTER\" to continue > ";
inline constexpr char kEnterPrompt[] = "< Press \"ENTER\" to continue >";

// The console program of the build the tests belong to.
std::string KeeptermPath();

class KeeptermSession {
 public:
  static constexpr std::chrono::milliseconds kLimit{10000};

  // keepterm with `arguments`; `environment` is added to the test's own. Check Started().
  explicit KeeptermSession(const std::vector<std::string>& arguments = {},
                           const std::map<std::string, std::string>& environment = {});
  // Another program on the terminal (a shell that runs keepterm).
  KeeptermSession(const std::string& program, const std::vector<std::string>& arguments,
                  const std::map<std::string, std::string>& environment);
  // Kills the program when it still runs.
  ~KeeptermSession() = default;

  bool Started() const { return term_.Started(); }
  void Type(const std::string& keys) { term_.Type(keys); }
  // Everything shown so far, as written (the terminal turns each line end into CR LF).
  const std::string& Screen() const { return term_.Screen(); }
  // Everything shown so far without carriage returns, after reading what has arrived.
  std::string Plain();
  // How often `text` has been shown so far (in Plain()).
  int Count(const std::string& text);
  // What the screen shows from the last showing of `text` on; empty when it never showed.
  std::string From(const std::string& text);

  // Waits until `text` has been shown `times` times in all.
  bool Shows(const std::string& text, int times = 1, std::chrono::milliseconds limit = kLimit);
  // Types `keys`, then waits as Shows does.
  bool TypeAndWait(const std::string& keys, const std::string& text, int times,
                   std::chrono::milliseconds limit = kLimit);
  // Types `keys`, then waits until `text` is shown once more than before.
  bool TypeAndWaitNext(const std::string& keys, const std::string& text, std::chrono::milliseconds limit = kLimit);

  // Answers the host and port questions; true once the main menu asks for a selection.
  bool ConnectTo(int port, const std::string& host = "127.0.0.1");
  // Answers "q" at the main menu; the exit status once the program ended.
  std::optional<int> Quit();

  std::optional<int> WaitForExit(std::chrono::milliseconds limit = kLimit) { return term_.WaitForExit(limit); }
  bool Running() { return term_.Running(); }

 private:
  void ReadArrived();
  PtyProcess term_;
};

// keepd on a free loopback port (or a given one) with upssim playing a basic UPS, for keepterm to
// connect to. keepd is ended when the test tears down.
class KeeptermOnKeepd : public KeepdOnSimulator {
 protected:
  // Starts the UPS and keepd with `values` added to the server key, listening on `port` (0: a free
  // one; port_ tells which), and waits until keepd answers the identification with the UPS's model.
  // A fatal failure when it does not within kLimit.
  void StartServer(const std::string& values = "", int port = 0);

  // The UPS the server is started on: its protocol and the model of the shipped database.
  int ups_protocol_ = 1;
  std::string ups_model_ = kMegatecTestModel;
};

}  // namespace keep::test

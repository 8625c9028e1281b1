// keepd run as a real process against upssim playing the UPS on a pty, in a fresh installation: the
// fixture the end-to-end tests of the server share, and the helpers they write hive values and read
// the log with. For one test thread; the server is ended at the latest when the test tears down.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/install_tree.h"
#include "tests/support/keepd_client.h"
#include "tests/support/upssim_process.h"

namespace keep::test {

// A hive value line: "\"name\"=dword:0000002a\n" and "\"name\"=\"value\"\n" (no escaping: test values
// hold no quotes or backslashes).
std::string Dword(const std::string& name, int value);
std::string Text(const std::string& name, const std::string& value);
// The action lists of the events, one per given text: "EventCounter" and "Event0", "Event1", ...
std::string EventLists(const std::vector<std::string>& lists);

// How often `part` occurs in `text`, overlapping occurrences included.
int CountOccurrences(const std::string& text, const std::string& part);
// How many lines of the server log `log` hold exactly `text` after their time stamp.
int CountLines(const std::string& log, const std::string& text);

class KeepdOnSimulator : public ::testing::Test {
 protected:
  // The bound of every wait that has no reason for another.
  static constexpr std::chrono::milliseconds kLimit{10000};

  // Ends keepd when it still runs (see StopKeepd); no expectation on how it ended.
  void TearDown() override;

  // Starts upssim as a UPS of Megatec `protocol` on a pty; a fatal failure when it is not ready.
  void StartUps(int protocol);

  // Writes the hive for `model` on the simulator's device, listening on a free loopback port (port_),
  // with `values` added to the server key, and starts keepd. Needs StartUps first. False when keepd
  // could not be started.
  bool StartKeepd(const std::string& model, const std::string& values = "");
  // Starts keepd again on the hive as it is now (after StopKeepd). False when it could not be started.
  bool RunKeepd();
  // Sends SIGTERM to keepd when it still runs and waits for it at most kLimit: its exit status, empty
  // when it did not end in time or was never started.
  std::optional<int> StopKeepd();

  // A client from `source` (any 127.x.y.z) once keepd listens; null when it never did within kLimit.
  std::unique_ptr<KeepdClient> Connect(const std::string& source = "127.0.0.1");

  // Whether the log holds `text` anywhere within `limit`.
  bool LogShows(const std::string& text, std::chrono::milliseconds limit = kLimit) const;
  // The log lines that hold exactly `text`, now; and waiting until there are `count` of them.
  int LogLines(const std::string& text) const { return CountLines(tree_.LogText(), text); }
  bool WaitForLine(const std::string& text, int count = 1, std::chrono::milliseconds limit = kLimit) const;

  // What the shutdown script of the installation recorded, and how often it ran.
  std::string ShutdownRequests() const;
  int ScriptRuns() const;
  // The switch-off queries ("S...") the UPS received, in order.
  std::vector<std::string> SwitchOffQueries() const;

  // When set, keepd runs with at most this many open descriptors (soft and hard limit).
  std::optional<int> descriptor_limit_;

  InstallTree tree_;
  std::unique_ptr<UpsSimulator> sim_;
  std::unique_ptr<ChildProcess> server_;
  int port_ = -1;
};

}  // namespace keep::test

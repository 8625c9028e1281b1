// A client of keepd's TCP port for end-to-end tests: it sends frames scrambled, one line each, and
// reads the server's lines back unscrambled. It may connect from another loopback address than
// 127.0.0.1, so a test can play clients of different addresses on one machine. Every read is bounded
// in time; for one test thread. The socket closes with the object.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keep::test {

class KeepdClient {
 public:
  static constexpr std::chrono::milliseconds kAnswerLimit{5000};

  // A connection to `destination`:`port` from the local address `source` (any 127.x.y.z); null when
  // it was refused or the address cannot be bound.
  static std::unique_ptr<KeepdClient> Connect(int port, const std::string& source = "127.0.0.1",
                                              const std::string& destination = "127.0.0.1");
  // False when this machine will not let a socket bind `source` (some sandboxes give loopback
  // 127.0.0.1 alone), so a test that needs a second address can say why it cannot run.
  static bool CanBindSource(const std::string& source);
  ~KeepdClient();
  KeepdClient(const KeepdClient&) = delete;
  KeepdClient& operator=(const KeepdClient&) = delete;

  // `frame` scrambled, then CR LF.
  void SendFrame(std::string_view frame);
  // Bytes as they are (upload payloads, broken lines). False when not all of them could be written.
  bool SendRaw(std::string_view bytes);

  // The next line the server sent, unscrambled, without its line end; empty when none came in
  // `limit` or the server closed the connection.
  std::optional<std::string> Next(std::chrono::milliseconds limit = kAnswerLimit);
  // `count` lines in a row; fewer when the stream stalls for `limit` or ends.
  std::vector<std::string> NextLines(size_t count, std::chrono::milliseconds limit = kAnswerLimit);
  // Sends `frame` and returns the first answer whose code is the frame's (or 500/502, the refusals);
  // lines of other codes that come first (notices) are kept in Skipped(). "" when none came in time.
  std::string Ask(std::string_view frame, std::chrono::milliseconds limit = kAnswerLimit);
  const std::vector<std::string>& Skipped() const { return skipped_; }

  // True when the server sent nothing for `quiet` (and kept the connection open).
  bool Silent(std::chrono::milliseconds quiet);
  // True when the server closed the connection within `limit`; lines still due before the end are
  // read and dropped.
  bool SeesEnd(std::chrono::milliseconds limit = kAnswerLimit);

 private:
  explicit KeepdClient(int fd) : fd_(fd) {}
  // Reads more into buffer_ within `limit`; false on timeout or end of stream (ended_ tells which).
  bool Fill(std::chrono::milliseconds limit);

  int fd_ = -1;
  std::string buffer_;
  bool ended_ = false;
  std::vector<std::string> skipped_;
};

// What one download delivered.
struct Download {
  std::string head;                // the first answer, with the line count
  std::vector<std::string> lines;  // the file lines in the order received
  std::string tail;                // the closing answer, empty when there is none
  std::string fault;               // the first answer out of order; empty when all fit
};

// Reads the answers of a download of request `code`: the count, then "i|line" for i = 1..count,
// then "@".
Download ReadDownload(KeepdClient& client, int code);

}  // namespace keep::test

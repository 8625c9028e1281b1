// upssim as a real process: over a pseudo-terminal, over loopback TCP and through its control port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pty_process.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLimit{10000};

class UpssimProcess : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& arguments) {
    sim_ = std::make_unique<ChildProcess>(BuiltProgram("upssim"), arguments, std::map<std::string, std::string>{},
                                          dir_.path().string());
    ASSERT_TRUE(sim_->Started());
    ASSERT_TRUE(sim_->WaitForOutput("READY\n", kLimit)) << sim_->StandardError();
    output_ = sim_->StandardOutput();
  }
  void StartTcp(const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{"--tcp", "0", "--control", "0"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    Start(arguments);
    link_ = Peer::Connect(PortIn(output_, "TCP"));
    control_ = Peer::Connect(PortIn(output_, "CONTROL"));
    ASSERT_TRUE(link_ && control_);
  }
  std::string StatusBits() {
    link_->Send("Q1\r");
    const std::string answer = link_->ReadUntil('\r');
    return answer.size() >= 9 ? answer.substr(answer.size() - 9, 8) : answer;
  }
  void StopWithStatusZero() {
    sim_->Signal(SIGTERM);
    EXPECT_EQ(std::optional<int>(0), sim_->WaitForExit(kLimit));
  }

  TempDir dir_;
  std::unique_ptr<ChildProcess> sim_;
  std::string output_;
  std::unique_ptr<Peer> link_;
  std::unique_ptr<Peer> control_;
};

TEST_F(UpssimProcess, AnswersOnThePseudoTerminalItAnnouncesFirst) {
  const std::string link = dir_.File("ups");
  Start({"--pty", "--protocol", "3", "--link", link});
  ASSERT_EQ(output_.rfind("PTY /", 0), 0u) << output_;
  const std::string slave = output_.substr(4, output_.find('\n') - 4);
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), slave);

  auto peer = Peer::OpenSlave(link);
  ASSERT_TRUE(peer);
  peer->Send("\rQ1\r");
  EXPECT_EQ(peer->ReadUntil('\r'), "(230.4 140.0 229.9 034 50.1 2.27 35.0 00000001\r");
  peer->Send("I\r");
  EXPECT_EQ(peer->ReadUntil('\r'), "#KEEP            HS-800     V1.00     \r");
  // A peer that closes and comes back finds the simulator still answering.
  peer.reset();
  peer = Peer::OpenSlave(slave);
  ASSERT_TRUE(peer);
  peer->Send("F\r");
  EXPECT_EQ(peer->ReadUntil('\r'), "#230.0 003 24.00 50.0\r");

  StopWithStatusZero();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(UpssimProcess, ControlPortChangesTheStatusSeenInTheNextAnswer) {
  StartTcp({"--protocol", "8"});
  EXPECT_EQ(output_.rfind("TCP ", 0), 0u) << output_;
  link_->Send("QS\r");
  EXPECT_EQ(link_->ReadUntil('\r'), "(230.4 140.0 229.9 034 50.1 13.60 35.0 00001001\r");
  EXPECT_EQ(control_->Command("set lowbattery"), "OK\n");
  EXPECT_EQ(control_->Command("set beeper off"), "OK\n");
  link_->Send("QS\r");
  const std::string answer = link_->ReadUntil('\r');
  EXPECT_EQ(answer.substr(answer.size() - 9), "11001000\r");
  EXPECT_EQ(control_->Command("set load x"), "ERR load must be a whole number from 0 to 999\n");
  StopWithStatusZero();
}

TEST_F(UpssimProcess, SilentLinkGivesNoAnswerUntilCleared) {
  StartTcp();
  EXPECT_EQ(control_->Command("fault silent on"), "OK\n");
  link_->Send("Q1\r");
  EXPECT_EQ(link_->ReadSome(milliseconds(300)), "");
  EXPECT_EQ(control_->Command("fault silent off"), "OK\n");
  EXPECT_EQ(StatusBits(), "00000001");
  StopWithStatusZero();
}

TEST_F(UpssimProcess, SplitAnswerArrivesInPieces) {
  StartTcp();
  EXPECT_EQ(control_->Command("fault split 3 300"), "OK\n");
  link_->Send("Q1\r");
  const std::vector<std::string> pieces = link_->ReadPiecesUntil('\r', kLimit);
  std::string whole;
  for (const std::string& piece : pieces) whole += piece;
  EXPECT_EQ(whole, "(230.4 140.0 229.9 034 50.1 2.27 50.1 00000001\r");  // variant 1: the frequency twice
  // 300 ms between pieces: each read sees one piece, unless the test was held up that long.
  EXPECT_GE(pieces.size(), 2u);
  EXPECT_LT(pieces.front().size(), whole.size());
  StopWithStatusZero();
}

TEST_F(UpssimProcess, RecordFileListsEveryQueryIncludingTheShutdown) {
  const std::string record = dir_.File("queries.txt");
  StartTcp({"--record", record});
  link_->Send("Q1\r");
  link_->ReadUntil('\r');
  link_->Send("S02R0010\r\rI\r");
  link_->ReadUntil('\r');
  EXPECT_TRUE(WaitUntil([&] { return ReadFileText(record) == "Q1\nS02R0010\nI\n"; }, kLimit)) << ReadFileText(record);
  EXPECT_EQ(control_->Command("queries"), "Q1\nS02R0010\nI\nEND\n");
  EXPECT_EQ(StatusBits(), "00000011");
  StopWithStatusZero();
}

TEST_F(UpssimProcess, BinaryVariantAnswersFramesAfterTheWakeUpAndRecordsThem) {
  const std::string record = dir_.File("requests.txt");
  StartTcp({"--protocol", "2", "--record", record});
  const auto exchange = [this](const std::string& request, size_t reply_bytes) {
    link_->Send(request);
    std::string reply;
    const auto until = std::chrono::steady_clock::now() + kLimit;
    while (reply.size() < reply_bytes && std::chrono::steady_clock::now() < until) reply += link_->ReadSome(kLimit);
    return reply;
  };
  const std::string status_request{2, 2, 3, 5};
  // 2, LEN 5, CMD 3, mains, no anomaly, 35 degrees + 128, checksum 5 + 3 + 163.
  EXPECT_EQ(exchange(std::string(255, '\0') + status_request, 7),
            std::string({2, 5, 3, 0, 0, static_cast<char>(163), static_cast<char>(171)}));
  EXPECT_EQ(control_->Command("fault refuse 3"), "OK\n");
  EXPECT_EQ(exchange(status_request, 5), std::string({2, 3, 'K', 'o', static_cast<char>(189)}));
  EXPECT_TRUE(WaitUntil([&] { return ReadFileText(record) == "3\n3\n"; }, kLimit)) << ReadFileText(record);
  StopWithStatusZero();
}

TEST_F(UpssimProcess, IdentFromTheCommandLineIsTheIdentificationAnswer) {
  const std::string ident = "#ACME UPS CO    Line 650   V1.00     ";
  StartTcp({"--protocol", "7", "--ident", ident});
  link_->Send("I\r");
  EXPECT_EQ(link_->ReadUntil('\r'), ident + "\r");
  StopWithStatusZero();
}

TEST_F(UpssimProcess, NewClientTakesTheLinkOverAndDropClosesIt) {
  StartTcp();
  auto second = Peer::Connect(PortIn(output_, "TCP"));
  ASSERT_TRUE(second);
  EXPECT_TRUE(link_->SeesEnd(kLimit));
  second->Send("Q1\r");
  EXPECT_EQ(second->ReadUntil('\r').front(), '(');

  EXPECT_EQ(control_->Command("fault drop"), "OK\n");
  EXPECT_TRUE(second->SeesEnd(kLimit));
  EXPECT_EQ(control_->Command("fault drop"), "ERR no TCP client on the link\n");
  StopWithStatusZero();
}

TEST_F(UpssimProcess, QuitOnTheControlPortEndsWithStatusZero) {
  StartTcp();
  EXPECT_EQ(control_->Command("quit"), "OK\n");
  EXPECT_EQ(std::optional<int>(0), sim_->WaitForExit(kLimit));
}

TEST_F(UpssimProcess, WrongCommandLineEndsWithStatusTwo) {
  ChildProcess sim(BuiltProgram("upssim"), {"--pty", "--tcp"}, {}, dir_.path().string());
  EXPECT_EQ(std::optional<int>(2), sim.WaitForExit(kLimit));
  EXPECT_NE(sim.StandardError().find("give either --pty or --tcp"), std::string::npos);
}

TEST_F(UpssimProcess, TakenPortEndsWithStatusOne) {
  StartTcp();
  ChildProcess second(BuiltProgram("upssim"), {"--tcp", std::to_string(PortIn(output_, "TCP"))}, {},
                      dir_.path().string());
  EXPECT_EQ(std::optional<int>(1), second.WaitForExit(kLimit));
  EXPECT_NE(second.StandardError().find("bind"), std::string::npos);
  StopWithStatusZero();
}

TEST(UpssimTerminal, CommandsTypedOnTheTerminalAreAnswered) {
  PtyProcess sim(BuiltProgram("upssim"), {"--tcp", "0"}, {});
  ASSERT_TRUE(sim.WaitForScreen("READY", kLimit));
  sim.Type("set load 55\n");
  ASSERT_TRUE(sim.WaitForScreen("OK", kLimit));
  sim.Type("status\n");
  ASSERT_TRUE(sim.WaitForScreen("END", kLimit));
  EXPECT_NE(sim.Screen().find("load 55"), std::string::npos);
  sim.Type("\x03");  // Ctrl+C: SIGINT
  EXPECT_EQ(std::optional<int>(0), sim.WaitForExit(kLimit));
}

}  // namespace
}  // namespace keep::test

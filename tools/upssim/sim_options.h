// The command line of upssim (see README.md). Pure.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace keep::tools {

inline constexpr int kDefaultSimTcpPort = 2101;

enum class SimLinkKind { kPty, kTcp };

struct SimOptions {
  int protocol = 1;
  SimLinkKind link = SimLinkKind::kPty;
  int tcp_port = kDefaultSimTcpPort;  // 0 picks a free port
  std::string link_path;              // --link: a symbolic link to the pty's slave; empty for none
  std::optional<int> control_port;    // 0 picks a free port
  std::string record_file;            // empty: queries are not recorded
  std::string ident;                  // --ident: the Megatec "I" answer; empty: the model's own
};

struct SimOptionsResult {
  SimOptions options;
  bool help = false;  // --help: print the usage and end with status 0
  std::string error;  // why the command line was refused; empty when it was not
};

// `arguments` without the program name.
SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments);

std::string SimUsage();

}  // namespace keep::tools

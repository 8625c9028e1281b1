// What the operating system lends the server. The program entry fills it with the real services;
// tests fill it with fakes (a manual clock, an in-memory registry, a recording program starter).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/hid_devices.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system_log.h"

namespace keep::server {

// Starts a program with an argument text; false when it could not be started.
using ProgramStarter =
    std::function<bool(const std::string& program, std::string_view arguments, const platform::StartOptions&)>;

// Non-owning: everything here must outlive the server context.
struct ServerEnvironment {
  platform::EventLoop& loop;
  const platform::MonotonicClock& monotonic;
  const platform::WallClock& wall;
  platform::Registry& registry;
  platform::Dialogs& dialogs;
  ProgramStarter start_program;
  // Where start-up errors are echoed for whoever watches the process (standard error in keepd).
  std::function<void(std::string_view)> echo_error;
  // Opens the system's log of services under a source name; empty: the server writes no such log.
  std::function<std::unique_ptr<platform::SystemLog>(const std::string&)> open_system_log;
  // Makes the USB link's device controller; empty: a USB link cannot be created.
  platform::HidControllerFactory hid_controllers;
  // Left empty by keepd. A rehearsal that must not act fills them: the log file's lines and the
  // commands to other computers then go here instead of to the file and the network.
  std::function<void(std::string_view line)> write_log_line = nullptr;
  std::function<void(const std::string& host, const std::string& port, const std::string& text, uint8_t kind)>
      send_remote_command = nullptr;
};

}  // namespace keep::server

#include "tools/upssim/halvora_settings.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string_view>

#include "tools/upssim/binary_bytes.h"

namespace keep::tools {
namespace {

constexpr uint8_t kRead = 2;  // the data byte that reads a switch instead of setting it
constexpr int kLowestOutputVolts = 100;
constexpr int kHighestOutputVolts = 250;

// The commands served here on every variant; the output settings' depend on it.
constexpr uint8_t kSettingCommands[] = {8, 9, 11, 12, 13, 19, 20, 21, 22, 25, 26, 32, 33, 36};

bool IsFlag(uint8_t byte) { return byte <= 1; }

bool AllFlags(std::string_view data) {
  for (const char c : data) {
    if (!IsFlag(static_cast<uint8_t>(c))) return false;
  }
  return true;
}

bool UsesAlternateOutputCommands(int variant) { return variant == 2; }

std::string Bytes(std::initializer_list<int> values) {
  std::string data;
  for (const int value : values) PutByte(data, value);
  return data;
}

template <std::size_t N>
std::string Bytes(const std::array<uint8_t, N>& values) {
  return std::string(values.begin(), values.end());
}

// A switch command: `kRead` reads it, 0 or 1 sets it; one byte either way.
std::optional<std::string> Switch(std::string_view data, uint8_t& value) {
  if (data.size() != 1) return std::nullopt;
  const uint8_t byte = ByteAt(data, 0);
  if (byte != kRead && !IsFlag(byte)) return std::nullopt;
  if (byte != kRead) value = byte;
  return Bytes({value});
}

}  // namespace

bool IsHalvoraSettingCommand(uint8_t cmd, int variant) {
  if (cmd == 23 || cmd == 24) return !UsesAlternateOutputCommands(variant);
  if (cmd == 44 || cmd == 45) return UsesAlternateOutputCommands(variant);
  return std::find(std::begin(kSettingCommands), std::end(kSettingCommands), cmd) != std::end(kSettingCommands);
}

std::optional<std::string> AnswerHalvoraSetting(const BinaryRequest& request, HalvoraSettings& s, SimState& state) {
  const std::string_view data = request.data;
  switch (request.cmd) {
    case 12:
      if (data.size() != 5 || !IsFlag(ByteAt(data, 4))) return std::nullopt;
      s.max_time_on_battery = WordAt(data, 0);
      s.max_time_after_reserve = WordAt(data, 2);
      s.autorestart = ByteAt(data, 4);
      [[fallthrough]];
    case 8: {
      std::string reply;
      PutWord(reply, s.max_time_on_battery);
      PutWord(reply, s.max_time_after_reserve);
      PutByte(reply, s.autorestart);
      return reply;
    }
    case 11:
      if (data.size() != 2 || !AllFlags(data)) return std::nullopt;
      s.neutral_sense = ByteAt(data, 0);
      s.neutral_sense_running = ByteAt(data, 1);
      [[fallthrough]];
    case 9:
      return Bytes({s.neutral_sense, s.neutral_sense_running});
    case 13: {
      uint8_t beeper = state.beeper_on ? 1 : 0;
      std::optional<std::string> reply = Switch(data, beeper);
      if (reply) state.beeper_on = beeper != 0;
      return reply;
    }
    case 20:
      if (data.size() != 1 || ByteAt(data, 0) < 1 || ByteAt(data, 0) > 3) return std::nullopt;
      s.stabiliser_level = ByteAt(data, 0);
      [[fallthrough]];
    case 19:
      return Bytes({s.stabiliser_level});
    case 21:
      if (data.size() != 2) return std::nullopt;
      s.load_waiting_watts = WordAt(data, 0);
      [[fallthrough]];
    case 22: {
      std::string reply;
      PutWord(reply, s.load_waiting_watts);
      return reply;
    }
    case 23:
    case 44: {
      if (data.size() != 5) return std::nullopt;
      const uint8_t volts = ByteAt(data, 0);
      const uint8_t dip_speed = ByteAt(data, 4);
      if (volts < kLowestOutputVolts || volts > kHighestOutputVolts || !AllFlags(data.substr(1, 3)) || dip_speed < 1 ||
          dip_speed > 3) {
        return std::nullopt;
      }
      for (std::size_t i = 0; i < s.output.size(); ++i) s.output[i] = ByteAt(data, i);
      // The inverter regulates to the voltage it was given.
      state.output_voltage = volts;
      return Bytes(s.output);
    }
    case 24:
    case 45:
      return Bytes(s.output);
    case 25:
      if (data.size() != 4 || !AllFlags(data)) return std::nullopt;
      for (std::size_t i = 0; i < s.bypass.size(); ++i) s.bypass[i] = ByteAt(data, i);
      [[fallthrough]];
    case 26:
      return Bytes(s.bypass);
    case 32: {
      if (data.size() != 5 || !IsFlag(ByteAt(data, 4))) return std::nullopt;
      s.reserve_volts = WordAt(data, 0);
      s.exhaust_volts = WordAt(data, 2);
      s.auto_battery_test = ByteAt(data, 4);
      std::string reply;
      PutWord(reply, s.reserve_volts);
      PutWord(reply, s.exhaust_volts);
      PutByte(reply, s.auto_battery_test);
      return reply;
    }
    case 33:
      return Bytes({s.reserve_volts == 0 && s.exhaust_volts == 0 ? 1 : 0, s.auto_battery_test});
    case 36:
      return Switch(data, s.frequency_autoselect);
    default:
      return std::nullopt;
  }
}

uint16_t HalvoraReserveVolts(const HalvoraSettings& settings, const SimState& state) {
  if (settings.reserve_volts != 0 || settings.exhaust_volts != 0) return settings.reserve_volts;
  return static_cast<uint16_t>(std::lround(state.battery_nominal * 23 / 24));
}

uint16_t HalvoraExhaustVolts(const HalvoraSettings& settings, const SimState& state) {
  if (settings.reserve_volts != 0 || settings.exhaust_volts != 0) return settings.exhaust_volts;
  return static_cast<uint16_t>(std::lround(state.battery_nominal * 21 / 24));
}

}  // namespace keep::tools

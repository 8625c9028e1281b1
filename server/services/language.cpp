#include "server/services/language.h"

#include <algorithm>
#include <array>
#include <functional>

#include "common/ini_file.h"

namespace keep::server {
namespace {

struct MacroEntry {
  std::string_view name;
  std::function<std::string()> MessageMacros::*value;
};

// The order matters: a value is scanned only by the macros after its own.
constexpr std::array<MacroEntry, 7> kMacroTable{{
    {"#COMPUTER#", &MessageMacros::Computer},
    {"#LOCATION#", &MessageMacros::Location},
    {"#UPSNAME#", &MessageMacros::UpsName},
    {"#COMMDEVICE#", &MessageMacros::CommDevice},
    {"#TIMELEFT#", &MessageMacros::TimeLeft},
    {"#LISTENPORT#", &MessageMacros::ListenPort},
    {"#DOWNWARNING#", &MessageMacros::DownWarning},
}};

void AppendCapped(std::string& out, std::string_view piece) {
  if (out.size() >= kMaxMessageLength) return;
  out.append(piece.substr(0, kMaxMessageLength - out.size()));
}

// Every occurrence of `name` replaced by `value`; the replaced parts are not scanned again, so a
// value holding the macro itself cannot recurse.
std::string ReplaceAll(std::string_view text, std::string_view name, std::string_view value) {
  std::string out;
  size_t from = 0;
  for (size_t at = text.find(name); at != std::string_view::npos && out.size() < kMaxMessageLength;
       at = text.find(name, from)) {
    AppendCapped(out, text.substr(from, at - from));
    AppendCapped(out, value);
    from = at + name.size();
  }
  AppendCapped(out, text.substr(std::min(from, text.size())));
  return out;
}

}  // namespace

std::string LanguageText(const TSetupData& setup, std::string_view section, std::string_view key) {
  if (setup.LanguageFile.empty()) return {};
  return ReadIniValue(setup.LanguageFile, section, key);
}

std::string LanguageTextOr(const TSetupData& setup, std::string_view section, std::string_view key,
                           std::string_view fallback) {
  std::string text = LanguageText(setup, section, key);
  return text.empty() ? std::string(fallback) : text;
}

std::string MessageFilePath(const TSetupData& setup) {
  const std::string& path = setup.LanguageFile;
  if (path.empty()) return {};
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_extension ? path.substr(0, dot) : path) + ".msg";
}

std::string ReadMessage(const std::string& file, std::string_view section, std::string_view key,
                        const MessageMacros& macros) {
  std::string text = ReadIniValue(file, section, key);
  if (text.find('#') == std::string::npos) return text;
  for (const MacroEntry& macro : kMacroTable) {
    if (text.find(macro.name) == std::string::npos) continue;
    const std::function<std::string()>& compute = macros.*macro.value;
    text = ReplaceAll(text, macro.name, compute ? compute() : std::string());
  }
  return text;
}

std::string MessageText(const TSetupData& setup, const MessageMacros& macros, uint8_t event) {
  const std::string file = MessageFilePath(setup);
  if (file.empty()) return {};
  return ReadMessage(file, "Messages", std::to_string(event), macros);
}

std::string LogText(const TSetupData& setup, uint8_t event) {
  return LanguageText(setup, "LOGS", std::to_string(event));
}

}  // namespace keep::server

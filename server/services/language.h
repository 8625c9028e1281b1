// Texts for people, read from the installation's language file and, for the event messages, from
// the message file beside it. Every text is read afresh on every call, so an edited file takes
// effect at once. A missing file, section or key gives the empty text; section and key names match
// whatever their case. "$" (an argument) and "^" (a line break) are left for the caller's FillParams.
// Callable from any thread; ReadMessage and MessageText call the macro functions in the calling
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/records/setup_data.h"
#include "server/services/message_macros.h"

namespace keep::server {

// Longest text ReadMessage returns: the value read is short, but macro values come from settings
// and host data, so the expansion is cut here rather than grow without bound.
inline constexpr size_t kMaxMessageLength = 64 * 1024;

// The value of `key` in `section` of the language file.
std::string LanguageText(const TSetupData& setup, std::string_view section, std::string_view key);

// The value of `key` in `section` of the language file, or `fallback` when the file has none: for
// keys newer than the language files people may still have.
std::string LanguageTextOr(const TSetupData& setup, std::string_view section, std::string_view key,
                           std::string_view fallback);

// The language file's path with its extension (from the last "." after the last "/") replaced by
// ".msg", or ".msg" appended when it has none. Empty when no language file is set.
std::string MessageFilePath(const TSetupData& setup);

// The value of `key` in `section` of `file` with its macros expanded: when the text holds a "#",
// the macros are taken once each in the order #COMPUTER#, #LOCATION#, #UPSNAME#, #COMMDEVICE#,
// #TIMELEFT#, #LISTENPORT#, #DOWNWARNING#; a macro that occurs has its value computed once and
// every occurrence (exact case) replaced. So a macro that a value brings in is expanded only when it
// comes later in that order. The result is cut to kMaxMessageLength characters.
std::string ReadMessage(const std::string& file, std::string_view section, std::string_view key,
                        const MessageMacros& macros);

// The message of event `event` (0-21) for pop-ups, e-mails and remote messages: section "Messages"
// of the message file, key the number in decimal, macros expanded.
std::string MessageText(const TSetupData& setup, const MessageMacros& macros, uint8_t event);

// The log text of event `event`: section "LOGS" of the language file, key the number in decimal,
// without macros.
std::string LogText(const TSetupData& setup, uint8_t event);

}  // namespace keep::server

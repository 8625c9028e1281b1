#include "server/services/settings.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "common/scrambling.h"
#include "common/text_lists.h"
#include "server/records/error_codes.h"
#include "server/records/registry_keys.h"

namespace keep::server {

namespace {

// True when the name holds a value of any type. The create forms must not replace a value the
// configuration program wrote with another type: that would destroy it just because we misread it.
bool ValueExists(const platform::Registry& registry, std::string_view key, std::string_view name) {
  return registry.ReadString(key, name).has_value() || registry.ReadDword(key, name).has_value();
}

uint8_t Low8(int32_t value) { return static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu); }
uint16_t Low16(int32_t value) { return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu); }

// Reads the server key only; bound once so the long list below stays readable.
class ServerKeyReader {
 public:
  explicit ServerKeyReader(const platform::Registry& registry) : registry_(registry) {}

  std::string String(std::string_view name, std::string_view default_value = {}) const {
    return ReadRegString(registry_, regkeys::kServerKey, name, default_value);
  }
  bool Bool(std::string_view name, bool default_value) const {
    return ReadRegBool(registry_, regkeys::kServerKey, name, default_value);
  }
  int32_t Integer(std::string_view name, int32_t default_value) const {
    return ReadRegInteger(registry_, regkeys::kServerKey, name, default_value);
  }
  float Decimal(std::string_view name, std::string_view default_text, float default_value) const {
    return ParseSettingDecimal(String(name, default_text), default_value);
  }
  std::string Password(std::string_view name) const { return UnscrambleText(String(name)); }

 private:
  const platform::Registry& registry_;
};

void ReadUpsSetup(const ServerKeyReader& reg, TUpsSetup& ups) {
  const TUpsSetup defaults;
  ups.UpsModelName = reg.String(regkeys::kUpsModelName);
  ups.UpsOffEnabled = reg.Bool(regkeys::kUpsOffEnabled, defaults.UpsOffEnabled);
  ups.UpsOffDelay = Low16(reg.Integer(regkeys::kUpsOffDelay, defaults.UpsOffDelay));
  ups.UpsOnEnabled = reg.Bool(regkeys::kUpsOnEnabled, defaults.UpsOnEnabled);
  ups.UpsOnDelay = Low16(reg.Integer(regkeys::kUpsOnDelay, defaults.UpsOnDelay));
  ups.UpsSmartAutonomy = reg.Bool(regkeys::kUpsSmartAutonomy, defaults.UpsSmartAutonomy);
  ups.UpsRechargeTime = reg.Integer(regkeys::kUpsRechargeTime, defaults.UpsRechargeTime);
  ups.UpsAutonomyTime = reg.Integer(regkeys::kUpsAutonomyTime, defaults.UpsAutonomyTime);
  ups.UpsLoadPercent = reg.Decimal(regkeys::kUpsLoadPercent, "-1", defaults.UpsLoadPercent);
  ups.UpsBatteryCapacity =
      ClampedCapacity(reg.Decimal(regkeys::kUpsBatteryCapacity, "100", defaults.UpsBatteryCapacity));

  // Only the low 8 bits count, which also bounds how many lists a damaged hive can make us build.
  const uint8_t event_count = Low8(reg.Integer(regkeys::kEventCounter, 0));
  ups.Events.clear();
  ups.Events.reserve(event_count);
  for (unsigned i = 0; i < event_count; ++i) {
    const std::string name = std::string(regkeys::kEventPrefix) + std::to_string(i);
    TStringList entries;
    SplitText('|', reg.String(name), entries, true);
    ups.Events.push_back(std::move(entries));
  }
}

void ReadServerSetup(const ServerKeyReader& reg, TServerSetup& server) {
  const TServerSetup defaults;
  server.UpsManType = Low8(reg.Integer(regkeys::kUpsManType, defaults.UpsManType));
  server.UpsNetCardAddress = reg.String(regkeys::kUpsNetCardAddress);
  server.SrvLocation = reg.String(regkeys::kSrvLocation);
  server.SrvMainPassword = reg.Password(regkeys::kSrvMainPassword);
  server.SrvMonitorPassword = reg.Password(regkeys::kSrvMonitorPassword);
  server.UpsDevice = reg.String(regkeys::kUpsDevice);
  server.SrvPollingUps = Low8(reg.Integer(regkeys::kSrvPollingUps, defaults.SrvPollingUps));
  server.SrvListenPort = Low16(reg.Integer(regkeys::kSrvListenPort, defaults.SrvListenPort));
  server.SrvDownEnabled = reg.Bool(regkeys::kSrvDownEnabled, defaults.SrvDownEnabled);
  server.SrvDownFromMonitor = reg.Bool(regkeys::kSrvDownFromMonitor, defaults.SrvDownFromMonitor);
  server.SrvDownTime = reg.Integer(regkeys::kSrvDownTime, defaults.SrvDownTime);
  server.UpsFixedTime = reg.Integer(regkeys::kUpsFixedTime, defaults.UpsFixedTime);
  // A shorter warning would leave users too little time to save their work.
  const int32_t warning = reg.Integer(regkeys::kSrvDownWarningTime, defaults.SrvDownWarningTime);
  server.SrvDownWarningTime = warning <= 60 ? 60 : warning;
  server.SrvBroadcast = Low16(reg.Integer(regkeys::kSrvBroadcast, defaults.SrvBroadcast));
  server.SrvAsService = reg.Bool(regkeys::kSrvAsService, defaults.SrvAsService);
  server.RsAliveEnabled = reg.Bool(regkeys::kRsAliveEnabled, defaults.RsAliveEnabled);
  server.RsAlivePort = Low16(reg.Integer(regkeys::kRsAlivePort, defaults.RsAlivePort));
  server.RsTimeoutConnection = reg.Integer(regkeys::kRsTimeoutConnection, defaults.RsTimeoutConnection);
  server.SrvListenAddress = reg.String(regkeys::kSrvListenAddress);
  server.SrvClientsAllowed = reg.String(regkeys::kSrvClientsAllowed);
  server.SrvControlAllowed = reg.String(regkeys::kSrvControlAllowed);
  server.SrvMaxClients = reg.Integer(regkeys::kSrvMaxClients, defaults.SrvMaxClients);
  server.NutListenPort = reg.Integer(regkeys::kNutListenPort, defaults.NutListenPort);
  server.NutListenAddress = reg.String(regkeys::kNutListenAddress, defaults.NutListenAddress);
  server.NutUpsName = reg.String(regkeys::kNutUpsName, defaults.NutUpsName);
  server.NutMonitorUser = reg.String(regkeys::kNutMonitorUser);
  server.NutMonitorPassword = reg.String(regkeys::kNutMonitorPassword);
  server.NutHostSyncSeconds = reg.Integer(regkeys::kNutHostSyncSeconds, defaults.NutHostSyncSeconds);
}

void ReadRecordingSetup(const ServerKeyReader& reg, TRecordingSetup& rec) {
  const TRecordingSetup defaults;
  rec.LogEnabled = reg.Bool(regkeys::kLogEnabled, defaults.LogEnabled);
  rec.LogMaxSize = reg.Integer(regkeys::kLogMaxSize, defaults.LogMaxSize);
  rec.DataEnabled = reg.Bool(regkeys::kDataEnabled, defaults.DataEnabled);
  rec.DataMaxSize = reg.Integer(regkeys::kDataMaxSize, defaults.DataMaxSize);
  rec.DataRate = Low16(reg.Integer(regkeys::kDataRate, defaults.DataRate));
  // An empty text keeps the default rather than leaving the data file without separators.
  const std::string separator = reg.String(regkeys::kDataSeparator, ",");
  rec.DataSeparator = separator.empty() ? defaults.DataSeparator : separator.front();

  struct PhaseNames {
    std::string_view input_voltage, output_voltage, output_power;
  };
  static constexpr PhaseNames kNames[kPhaseCount] = {
      {regkeys::kDataReadVinPhaseR, regkeys::kDataReadVoutPhaseR, regkeys::kDataReadPoutPhaseR},
      {regkeys::kDataReadVinPhaseS, regkeys::kDataReadVoutPhaseS, regkeys::kDataReadPoutPhaseS},
      {regkeys::kDataReadVinPhaseT, regkeys::kDataReadVoutPhaseT, regkeys::kDataReadPoutPhaseT},
  };
  for (std::size_t phase = 0; phase < kPhaseCount; ++phase) {
    TPhaseColumnFlags& flags = rec.PhaseColumns[phase];
    flags.InputVoltage = reg.Bool(kNames[phase].input_voltage, true);
    flags.OutputVoltage = reg.Bool(kNames[phase].output_voltage, true);
    flags.OutputPower = reg.Bool(kNames[phase].output_power, true);
  }
  rec.BatteryVoltageColumn = reg.Bool(regkeys::kDataReadVbatt, defaults.BatteryVoltageColumn);
  rec.BatteryChargeColumn = reg.Bool(regkeys::kDataReadBattChg, defaults.BatteryChargeColumn);
  rec.AutonomyTimeColumn = reg.Bool(regkeys::kDataReadAutTime, defaults.AutonomyTimeColumn);
}

void ReadEmailSetup(const ServerKeyReader& reg, TEmailSetup& email) {
  const TEmailSetup defaults;
  email.EmailSender = reg.String(regkeys::kEmailSender);
  email.EmailServer = reg.String(regkeys::kEmailServer);
  email.EmailUseAuth = reg.Bool(regkeys::kEmailUseAuth, defaults.EmailUseAuth);
  email.EmailLogin = reg.String(regkeys::kEmailLogin);
  email.EmailPassword = reg.Password(regkeys::kEmailPassword);
  email.EmailPort = Low16(reg.Integer(regkeys::kEmailPort, defaults.EmailPort));
}

}  // namespace

std::string ReadRegString(const platform::Registry& registry, std::string_view key, std::string_view name,
                          std::string_view default_value) {
  std::optional<std::string> value = registry.ReadString(key, name);
  return value ? std::move(*value) : std::string(default_value);
}

std::string ReadRegString(platform::Registry& registry, std::string_view key, std::string_view name,
                          std::string_view default_value, bool create) {
  std::optional<std::string> value = registry.ReadString(key, name);
  if (value) return std::move(*value);
  if (create && !ValueExists(registry, key, name)) registry.WriteString(key, name, default_value);
  return std::string(default_value);
}

bool ReadRegBool(const platform::Registry& registry, std::string_view key, std::string_view name, bool default_value) {
  const std::optional<uint32_t> value = registry.ReadDword(key, name);
  return value ? *value != 0 : default_value;
}

bool ReadRegBool(platform::Registry& registry, std::string_view key, std::string_view name, bool default_value,
                 bool create) {
  const std::optional<uint32_t> value = registry.ReadDword(key, name);
  if (value) return *value != 0;
  if (create && !ValueExists(registry, key, name)) registry.WriteDword(key, name, default_value ? 1u : 0u);
  return default_value;
}

int32_t ReadRegInteger(const platform::Registry& registry, std::string_view key, std::string_view name,
                       int32_t default_value) {
  const std::optional<uint32_t> value = registry.ReadDword(key, name);
  return value ? static_cast<int32_t>(*value) : default_value;
}

int32_t ReadRegInteger(platform::Registry& registry, std::string_view key, std::string_view name, int32_t default_value,
                       bool create) {
  const std::optional<uint32_t> value = registry.ReadDword(key, name);
  if (value) return static_cast<int32_t>(*value);
  if (create && !ValueExists(registry, key, name)) {
    registry.WriteDword(key, name, static_cast<uint32_t>(default_value));
  }
  return default_value;
}

bool WriteRegString(platform::Registry& registry, std::string_view key, std::string_view name, std::string_view value) {
  return registry.WriteString(key, name, value);
}

bool WriteRegInteger(platform::Registry& registry, std::string_view key, std::string_view name, int32_t value) {
  return registry.WriteDword(key, name, static_cast<uint32_t>(value));
}

std::string GetInstallPath(const platform::Registry& registry) {
  std::string path = ReadRegString(registry, regkeys::kGlobalsKey, regkeys::kInstallPath, {});
  // The configuration program may store the folder with or without the final separator; every
  // user appends a relative path to it, which without the "/" would glue two folder names together.
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

std::string GetLanguageFile(const platform::Registry& registry, std::string_view install_path) {
  std::string name = ReadRegString(registry, regkeys::kGlobalsKey, regkeys::kLanguageFile, {});
  if (name.empty()) return {};
  const std::filesystem::path full = std::string(install_path) + "languages/" + name;
  std::error_code error;
  // A directory of that name is as useless as no file at all.
  if (!std::filesystem::is_regular_file(full, error)) return {};
  return name;
}

std::string GetUpsModelName(const platform::Registry& registry) {
  return ReadRegString(registry, regkeys::kServerKey, regkeys::kUpsModelName, {});
}

int LoadSettings(platform::Registry& registry, TSetupData& setup) {
  setup.InstallPath = GetInstallPath(registry);
  if (setup.InstallPath.empty()) return kErrorInvalidSetup;
  const std::string language_file = GetLanguageFile(registry, setup.InstallPath);
  if (language_file.empty()) return kErrorInvalidSetup;
  setup.LanguageFile = setup.InstallPath + "languages/" + language_file;

  // The protocol comes from the model database, which is looked up after this.
  setup.UpsSetup.ProtocolSetup = TUpsProtocolSetup{};

  const ServerKeyReader reader(registry);
  ReadUpsSetup(reader, setup.UpsSetup);
  ReadServerSetup(reader, setup.ServerSetup);
  ReadRecordingSetup(reader, setup.RecordingSetup);
  ReadEmailSetup(reader, setup.EmailSetup);
  return kErrorOk;
}

std::string FormatSettingDecimal(float value) {
  if (!std::isfinite(value)) return {};
  // Fixed notation never uses an exponent; a float's magnitude fits easily (at most 39 digits).
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  if (error != std::errc{}) return {};
  std::string text(buffer, end);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";  // a tiny negative value rounds to zero, which has no sign
  return text;
}

float ParseSettingDecimal(std::string_view text, float default_value) {
  text = TrimBlanks(text);
  // from_chars refuses a leading "+", which a hand-edited value may carry.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  if (text.empty()) return default_value;
  float value = 0.0f;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (error != std::errc{} || stop != end || !std::isfinite(value)) return default_value;
  return value;
}

bool SaveBatteryCapacity(platform::Registry& registry, float capacity) {
  if (!std::isfinite(capacity)) return false;
  const std::string text = FormatSettingDecimal(ClampedCapacity(capacity));
  if (text.empty()) return false;
  return WriteRegString(registry, regkeys::kServerKey, regkeys::kUpsBatteryCapacity, text);
}

bool SaveLoadPercent(platform::Registry& registry, float load_r) {
  const std::string text = FormatSettingDecimal(load_r);
  if (text.empty()) return false;
  return WriteRegString(registry, regkeys::kServerKey, regkeys::kUpsLoadPercent, text);
}

bool SaveAutonomyTime(platform::Registry& registry, int32_t seconds) {
  return WriteRegInteger(registry, regkeys::kServerKey, regkeys::kUpsAutonomyTime, seconds);
}

}  // namespace keep::server

// Where the server's configuration lives in the machine-wide registry: the two key paths (below
// HKEY_LOCAL_MACHINE, "\" between parts) and the names of their values. The configuration program
// of the suite writes these names, so they are fixed; names compare without regard to case.
#pragma once

#include <string_view>

namespace keep::server::regkeys {

// Shared by every program of the suite.
inline constexpr std::string_view kGlobalsKey = "Software\\Corvane\\Voltrena\\Globals";
inline constexpr std::string_view kInstallPath = "InstallPath";
inline constexpr std::string_view kLanguageFile = "LanguageFile";

// The server's own key.
inline constexpr std::string_view kServerKey = "Software\\Corvane\\Voltrena\\Powerkeep";

inline constexpr std::string_view kUpsModelName = "UpsModelName";
inline constexpr std::string_view kUpsOffEnabled = "UpsOffEnabled";
inline constexpr std::string_view kUpsOffDelay = "UpsOffDelay";
inline constexpr std::string_view kUpsOnEnabled = "UpsOnEnabled";
inline constexpr std::string_view kUpsOnDelay = "UpsOnDelay";
inline constexpr std::string_view kUpsSmartAutonomy = "UpsSmartAutonomy";
inline constexpr std::string_view kUpsRechargeTime = "UpsRechargeTime";
inline constexpr std::string_view kUpsAutonomyTime = "UpsAutonomyTime";
inline constexpr std::string_view kUpsLoadPercent = "UpsLoadPercent";          // decimal text
inline constexpr std::string_view kUpsBatteryCapacity = "UpsBatteryCapacity";  // decimal text
inline constexpr std::string_view kEventCounter = "EventCounter";
// Followed by the event's index in decimal: "Event0", "Event1", ...
inline constexpr std::string_view kEventPrefix = "Event";

inline constexpr std::string_view kUpsManType = "UpsManType";
inline constexpr std::string_view kUpsNetCardAddress = "UpsNetCardAddress";
inline constexpr std::string_view kSrvLocation = "SrvLocation";
inline constexpr std::string_view kSrvMainPassword = "SrvMainPassword";        // scrambled
inline constexpr std::string_view kSrvMonitorPassword = "SrvMonitorPassword";  // scrambled
inline constexpr std::string_view kUpsDevice = "UpsDevice";
inline constexpr std::string_view kSrvPollingUps = "SrvPollingUps";
inline constexpr std::string_view kSrvListenPort = "SrvListenPort";
inline constexpr std::string_view kSrvDownEnabled = "SrvDownEnabled";
inline constexpr std::string_view kSrvDownFromMonitor = "SrvDownFromMonitor";
inline constexpr std::string_view kSrvDownTime = "SrvDownTime";
inline constexpr std::string_view kUpsFixedTime = "UpsFixedTime";
inline constexpr std::string_view kSrvDownWarningTime = "SrvDownWarningTime";
inline constexpr std::string_view kSrvBroadcast = "SrvBroadcast";
inline constexpr std::string_view kSrvAsService = "SrvAsService";
inline constexpr std::string_view kRsAliveEnabled = "RsAliveEnabled";
inline constexpr std::string_view kRsAlivePort = "RsAlivePort";
inline constexpr std::string_view kRsTimeoutConnection = "RsTimeoutConnection";
inline constexpr std::string_view kSrvListenAddress = "SrvListenAddress";
inline constexpr std::string_view kSrvClientsAllowed = "SrvClientsAllowed";
inline constexpr std::string_view kSrvControlAllowed = "SrvControlAllowed";
inline constexpr std::string_view kSrvMaxClients = "SrvMaxClients";
inline constexpr std::string_view kNutListenPort = "NutListenPort";
inline constexpr std::string_view kNutListenAddress = "NutListenAddress";
inline constexpr std::string_view kNutUpsName = "NutUpsName";
inline constexpr std::string_view kNutMonitorUser = "NutMonitorUser";
inline constexpr std::string_view kNutMonitorPassword = "NutMonitorPassword";  // plain text
inline constexpr std::string_view kNutHostSyncSeconds = "NutHostSyncSeconds";

inline constexpr std::string_view kLogEnabled = "LogEnabled";
inline constexpr std::string_view kLogMaxSize = "LogMaxSize";
inline constexpr std::string_view kDataEnabled = "DataEnabled";
inline constexpr std::string_view kDataMaxSize = "DataMaxSize";
inline constexpr std::string_view kDataRate = "DataRate";
inline constexpr std::string_view kDataSeparator = "DataSeparator";  // first character used
inline constexpr std::string_view kDataReadVinPhaseR = "DataReadVinPhaseR";
inline constexpr std::string_view kDataReadVoutPhaseR = "DataReadVoutPhaseR";
inline constexpr std::string_view kDataReadPoutPhaseR = "DataReadPoutPhaseR";
inline constexpr std::string_view kDataReadVinPhaseS = "DataReadVinPhaseS";
inline constexpr std::string_view kDataReadVoutPhaseS = "DataReadVoutPhaseS";
inline constexpr std::string_view kDataReadPoutPhaseS = "DataReadPoutPhaseS";
inline constexpr std::string_view kDataReadVinPhaseT = "DataReadVinPhaseT";
inline constexpr std::string_view kDataReadVoutPhaseT = "DataReadVoutPhaseT";
inline constexpr std::string_view kDataReadPoutPhaseT = "DataReadPoutPhaseT";
inline constexpr std::string_view kDataReadVbatt = "DataReadVbatt";
inline constexpr std::string_view kDataReadBattChg = "DataReadBattChg";
inline constexpr std::string_view kDataReadAutTime = "DataReadAutTime";

inline constexpr std::string_view kEmailSender = "EmailSender";
inline constexpr std::string_view kEmailServer = "EmailServer";
inline constexpr std::string_view kEmailUseAuth = "EmailUseAuth";
inline constexpr std::string_view kEmailLogin = "EmailLogin";
inline constexpr std::string_view kEmailPassword = "EmailPassword";  // scrambled
inline constexpr std::string_view kEmailPort = "EmailPort";

}  // namespace keep::server::regkeys

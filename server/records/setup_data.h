// The server's configuration record. Filled once by LoadSettings at start and read-only afterwards,
// except the three autonomy values the battery estimate writes back (Save* in settings.h) and the
// protocol fields and USB device list that the model database lookup fills in.
//
// Every default member value is the value a missing registry entry gives, so a default-constructed
// TSetupData is exactly what an empty server key loads to (apart from the install path and language
// file, which have no default and make the load fail).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/text_lists.h"
#include "common/usb_device_id.h"

namespace keep::server {

struct TUpsProtocolSetup {
  int32_t ProtocolNumber = 0;  // chosen by the model database lookup, not stored in the registry
  std::string ProtocolParams;  // the model's parameter text, from the model database as well
};

// A battery charge in percent within 0 .. 100: a stored or reported value outside it (a damaged
// hive, a UPS's sentinel byte) would give an autonomy no battery has. Not a number reads as 0.
inline float ClampedCapacity(float percent) {
  if (!(percent > 0.0f)) return 0.0f;
  return percent > 100.0f ? 100.0f : percent;
}

struct TUpsSetup {
  std::string UpsModelName;
  TUpsProtocolSetup ProtocolSetup;
  // The devices the model's USB link accepts, in the model database's order; filled by its loader
  // after the settings are read.
  std::vector<TUsbDeviceId> UsbDevices;
  bool UpsOffEnabled = false;
  uint16_t UpsOffDelay = 180;  // seconds before the UPS switches off
  bool UpsOnEnabled = false;
  uint16_t UpsOnDelay = 60;  // seconds before it switches on again
  // One list per configured event: entry 0 the event number, then one action per entry.
  std::vector<TStringList> Events;
  bool UpsSmartAutonomy = false;
  int32_t UpsAutonomyTime = 300;      // seconds measured by the last calibration test
  float UpsLoadPercent = -1.0f;       // load during that test
  float UpsBatteryCapacity = 100.0f;  // estimated charge, kept across restarts
  int32_t UpsRechargeTime = -1;       // seconds for a full recharge; not positive = unknown
};

struct TServerSetup {
  uint8_t UpsManType = 0;  // 0 serial port, 1 USB HID, 2 TCP network adapter
  uint16_t SrvListenPort = 5769;
  std::string UpsDevice;
  std::string UpsNetCardAddress;
  uint8_t SrvPollingUps = 5;  // seconds between status polls
  bool SrvDownEnabled = true;
  bool SrvDownFromMonitor = false;
  int32_t SrvDownTime = 180;
  int32_t UpsFixedTime = 300;
  int32_t SrvDownWarningTime = 300;  // never below 60 after loading
  uint16_t SrvBroadcast = 60;
  std::string SrvLocation;
  std::string SrvMainPassword;     // plain text; the registry holds it scrambled
  std::string SrvMonitorPassword;  // plain text; the registry holds it scrambled
  bool SrvAsService = false;
  bool RsAliveEnabled = false;
  uint16_t RsAlivePort = 65000;
  int32_t RsTimeoutConnection = 5;  // seconds
  // Who may reach the client port, and from where (address_list.h gives the list form).
  std::string SrvListenAddress;   // the one local address to listen on; empty: every address
  std::string SrvClientsAllowed;  // addresses and networks that may connect; empty: everyone
  std::string SrvControlAllowed;  // those that may change the UPS, its settings, the plan or this computer
  int32_t SrvMaxClients = 256;    // clients connected at once, fewer when descriptors run short
  // The listener of the plain-text UPS network protocol, for monitoring tools of other makes: off
  // while the port is 0; the port as read, so that a value outside 1-65535 can be told from 0.
  int32_t NutListenPort = 0;
  std::string NutListenAddress = "127.0.0.1";
  std::string NutUpsName = "ups";
  // The one user that may log in there as a monitoring client; empty: nobody.
  std::string NutMonitorUser;
  std::string NutMonitorPassword;
  // How long the local shutdown waits for logged-in secondaries to log out before the script runs.
  int32_t NutHostSyncSeconds = 15;
};

// Which measurements of one phase go into the data file.
struct TPhaseColumnFlags {
  bool InputVoltage = true;
  bool OutputVoltage = true;
  bool OutputPower = true;
};

inline constexpr std::size_t kPhaseR = 0;
inline constexpr std::size_t kPhaseS = 1;
inline constexpr std::size_t kPhaseT = 2;
inline constexpr std::size_t kPhaseCount = 3;

struct TRecordingSetup {
  bool LogEnabled = true;
  int32_t LogMaxSize = 2147483647;
  bool DataEnabled = true;
  int32_t DataMaxSize = 2147483647;
  uint16_t DataRate = 300;  // seconds between two data records
  char DataSeparator = ',';
  // Indexed by kPhaseR, kPhaseS, kPhaseT: phase-major, the order the data file's columns follow.
  std::array<TPhaseColumnFlags, kPhaseCount> PhaseColumns{};
  bool BatteryVoltageColumn = true;
  bool BatteryChargeColumn = true;
  bool AutonomyTimeColumn = true;
};

struct TEmailSetup {
  std::string EmailSender;
  std::string EmailServer;
  bool EmailUseAuth = false;
  std::string EmailLogin;
  std::string EmailPassword;  // plain text; the registry holds it scrambled
  uint16_t EmailPort = 25;
};

struct TSetupData {
  std::string InstallPath;   // ends with "/"
  std::string LanguageFile;  // full path: InstallPath + "languages/" + the file name
  TUpsSetup UpsSetup;
  TServerSetup ServerSetup;
  TRecordingSetup RecordingSetup;
  TEmailSetup EmailSetup;
};

}  // namespace keep::server

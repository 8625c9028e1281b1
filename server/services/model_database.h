// The UPS model database: "bin/upsdb.ups" below the installation folder, one scrambled line per
// model (each line scrambled on its own), each line one record as common/model_record.h describes.
// The file is built by tools/mkupsdb from a plain text source, but it is read as untrusted input:
// a bad record is an error value, never an exception or a crash.
//
// FindModelLine and ApplyModelRecord are pure and callable from any thread; LoadModelRecord reads
// the registry and the file and is called once by the start sequence on the main thread.
#pragma once

#include <string_view>

#include "common/model_record.h"
#include "common/text_lists.h"
#include "platform/registry.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// Relative to the installation folder.
inline constexpr char kModelDatabaseFile[] = "bin/upsdb.ups";

// Index of the first of the unscrambled database lines whose model name (text before the first
// "|", trimmed) equals `model_name` exactly; -1 when there is none.
int FindModelLine(const TStringList& lines, std::string_view model_name);

// Copies a converted record: the model name, protocol number and parameters and the USB device
// list (replaced) into `setup`; the identification fields, model factor and initial status values
// (UpsStatus, Anomaly and their Seen copies "0", AutonomyFromUps 0, AutonomyReserveTime "&",
// AutonomyTestState "0", CalibrationState "&" when the model cannot calibrate, else "@" while the
// stored UpsLoadPercent is -1 (never calibrated) and "0" after a calibration) into `ups`; the two
// times into `server`. The nominal powers are copied only for a modular model (module count not
// "-1"); for the others the protocol driver fills them. ModuleIds is left as it is.
void ApplyModelRecord(const TModelRecord& record, TSetupData& setup, TUpsData& ups, TServerData& server);

// Looks up the model named by the registry value "UpsModelName" in setup.InstallPath +
// kModelDatabaseFile and applies it. Returns kErrorOk; kErrorModelDatabase (100003) when no model
// name is configured; kErrorLinkOrDatabase (100007) when the file cannot be read, holds no record
// of that name (the first of several wins), or the record is refused by ConvertModelRecord. On
// failure nothing is changed.
int LoadModelRecord(const platform::Registry& registry, TSetupData& setup, TUpsData& ups, TServerData& server);

}  // namespace keep::server

#include "server/services/recording.h"

#include "common/log_file.h"

namespace keep::server {

void WriteLogLine(const ServerContext& context, std::string_view text) {
  const TSetupData& setup = context.Setup;
  if (!setup.RecordingSetup.LogEnabled || setup.InstallPath.empty()) return;
  AppendLogLine(setup.InstallPath + kLogFileName, "", ' ', context.Format, false, setup.RecordingSetup.LogMaxSize, text,
                context.env.wall.Now());
}

}  // namespace keep::server

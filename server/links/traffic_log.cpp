#include "server/links/traffic_log.h"

namespace keep::server {

std::unique_ptr<TFileLogger> CreateUpsTrafficLogger(const std::string& install_path, const platform::WallClock& clock,
                                                    const TFormatSettings& formats) {
  auto logger = std::make_unique<TFileLogger>(clock, formats);
  logger->SetLogFile(install_path + "data/ups_debug.txt");
  logger->SetMaxLineLength(80);
  logger->SetLogFlags({lfInsertChannel, lfHexadecimal, lfStamp, lfAutoCR});
  logger->SetAutoOpen(true);
  return logger;
}

}  // namespace keep::server

#include "server/services/event_log.h"

#include <string>
#include <utility>

namespace keep::server {

TNTEventLog::TNTEventLog(platform::Registry& registry,
                         std::function<std::unique_ptr<platform::SystemLog>(const std::string&)> open_log)
    : registry_(registry), open_log_(std::move(open_log)), app_name_(kEventLogDefaultAppName) {
  for (int i = 0; i < kEventLogIdCount; ++i) ids_[i] = kEventLogFirstId + static_cast<uint32_t>(i);
}

void TNTEventLog::SetAppName(const std::string& name) { app_name_ = name.empty() ? kEventLogDefaultAppName : name; }

bool TNTEventLog::Register(const std::string& executable_path, std::string* error) {
  const std::string key = std::string(kEventLogSourcesKey) + app_name_;
  if (!registry_.KeyExists(key)) {
    if (!registry_.CreateKey(key)) {
      if (error != nullptr) *error = kUnableToRegisterApplication;
      return false;
    }
    // Written only with a new key: an administrator's own entry for the source is kept. A failed
    // value write is dropped like every other hive write; the key itself already exists.
    registry_.WriteString(key, "EventMessageFile", executable_path);
    registry_.WriteDword(key, "TypesSupported", kEventLogTypesSupported);
  }

  // A second registration replaces the first connection rather than holding two.
  log_.reset();
  registered_ = false;
  if (open_log_) log_ = open_log_(app_name_);
  if (log_ == nullptr) {
    if (error != nullptr) *error = kUnableToRegisterEventSource;
    return false;
  }
  registered_ = true;
  return true;
}

uint32_t TNTEventLog::MessageId(int index) const {
  if (index < 0 || index >= kEventLogIdCount) return 0;
  return ids_[static_cast<size_t>(index)];
}

void TNTEventLog::LogInformation(int index, const std::string& text) {
  Write(platform::SystemLog::Severity::kInformation, index, text);
}

void TNTEventLog::LogWarning(int index, const std::string& text) {
  Write(platform::SystemLog::Severity::kWarning, index, text);
}

void TNTEventLog::LogError(int index, const std::string& text) {
  Write(platform::SystemLog::Severity::kError, index, text);
}

void TNTEventLog::Write(platform::SystemLog::Severity severity, int index, const std::string& text) {
  // A negative event number is refused like one past the table, never used to index it.
  if (!registered_ || log_ == nullptr || MessageId(index) == 0) return;
  log_->Write(severity, text);
}

}  // namespace keep::server

#include "flow/report_attachments.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "platform/system_drive.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

// The names the runtime setups give their logs in the temporary folder.
constexpr std::string_view kRuntimeLogNames[] = {"vcredist", ".net"};

void AddRuntimeLogs(std::vector<std::string>& attachments) {
  const std::string temp = platform::Drive().KnownFolderPath(platform::KnownFolder::kTemp);
  if (temp.empty()) return;
  std::vector<std::string> found;
  for (const std::string_view name : kRuntimeLogNames) sys::FindFiles(temp, name, 1, found, false, true);
  for (std::string& path : found) {
    // A folder cannot be packed as a file, and a log that matches both names goes in once.
    if (!sys::FileExists(path) || std::find(attachments.begin(), attachments.end(), path) != attachments.end()) {
      continue;
    }
    attachments.push_back(std::move(path));
  }
}

}  // namespace

std::vector<std::string> CollectReportAttachments(bool runtime_logs, const std::string& log_path,
                                                  const std::string& msi_log_path) {
  std::vector<std::string> attachments;
  if (runtime_logs) AddRuntimeLogs(attachments);
  if (!log_path.empty()) attachments.push_back(log_path);
  if (sys::FileExists(msi_log_path)) attachments.push_back(msi_log_path);
  return attachments;
}

}  // namespace orvo::flow

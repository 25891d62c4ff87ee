// The files a problem report attaches and the archive it sends them in.
#pragma once

#include <string>
#include <vector>

namespace orvo::flow {

// In this order: with runtime_logs, the runtime setup logs directly in the system temporary folder (names
// ending in "vcredist" or ".net", or lower-cased paths containing one of them, ending in "log", "txt" or
// "html", created within the last 24 hours; files only, each once); then log_path (when non-empty); then
// msi_log_path when that file exists.
std::vector<std::string> CollectReportAttachments(bool runtime_logs, const std::string& log_path,
                                                  const std::string& msi_log_path);

}  // namespace orvo::flow

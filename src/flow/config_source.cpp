#include "flow/config_source.h"

#include <string_view>
#include <vector>

#include "platform/text.h"
#include "system/file_helpers.h"
#include "system/installer_version.h"

namespace orvo::flow {
namespace {

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// The id is a path segment: a "?", "&", "/" or space in it must not change the request's meaning.
std::string PathSegment(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    if (IsUnreserved(c)) {
      encoded.push_back(c);
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    encoded.push_back('%');
    encoded.push_back(kDigits[byte >> 4]);
    encoded.push_back(kDigits[byte & 0x0f]);
  }
  return encoded;
}

}  // namespace

std::string ConfigurationAddress(const std::string& base, const std::string& installer_id, bool windows64,
                                 const std::string& own_executable_path) {
  const std::string_view id = std::string_view(installer_id).substr(0, installer_id.find('_'));
  std::string address = base + "/api/install/" + PathSegment(id);
  address += windows64 ? "?arch=x64&instver=" : "?instver=";
  address += sys::kInstallerVersion;
  if (platform::EndsWithNoCase(own_executable_path, "-testing.exe")) address += "&test=2";
  return address;
}

std::optional<std::string> FindLocalConfiguration(const std::string& local_config_folder) {
  std::vector<std::string> found;
  if (sys::FindFiles(local_config_folder, ".ini", 1, found, false, false) != 0) return std::nullopt;
  for (const std::string& path : found) {
    if (sys::FileExists(path)) return path;
  }
  return std::nullopt;
}

}  // namespace orvo::flow

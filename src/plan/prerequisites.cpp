#include "plan/prerequisites.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/file_version.h"
#include "platform/platform.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "system/file_helpers.h"
#include "system/registry_helpers.h"

namespace orvo::plan {

namespace {

// The registry read of "Version" uses a buffer of 256 bytes: UTF-16 text with its terminating zero.
constexpr std::size_t kVersionBufferBytes = 256;

// atoi's reading: blanks, a sign, then the leading digits; anything else counts as 0. Saturates.
long long DecimalValue(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 1;
  long long value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (value < kLimit) value = value * 10 + (text[at] - '0');
  }
  return negative ? -value : value;
}

std::vector<std::string> VersionParts(std::string_view text) {
  if (text.empty()) return {};
  return platform::Split(text, '.');
}

// The "Version" text as the registry check reads it, or nothing when it cannot be read.
std::optional<std::string> ReadVersionValue(std::string_view key) {
  std::string text;
  if (sys::ReadStringValue(platform::Hive::kLocalMachine, key, "Version", text) != platform::error::kSuccess) {
    return std::nullopt;
  }
  // A longer value does not fit the buffer, and the query fails with ERROR_MORE_DATA.
  if ((platform::Utf8ToUtf16(text).size() + 1) * 2 > kVersionBufferBytes) return std::nullopt;
  return text;
}

}  // namespace

bool IsVersionAtLeast(std::string_view installed, std::string_view required) {
  const std::vector<std::string> have = VersionParts(installed);
  const std::vector<std::string> want = VersionParts(required);
  const std::size_t shared = std::min(have.size(), want.size());
  for (std::size_t i = 0; i < shared; ++i) {
    const long long x = DecimalValue(have[i]);
    const long long y = DecimalValue(want[i]);
    if (x != y) return x > y;
  }
  return have.size() >= want.size();
}

bool CheckRegistryVersion(std::string_view key, std::string_view required, bool x86) {
  bool result = false;
  if (std::optional<std::string> text = ReadVersionValue(key)) {
    if (!text->empty() && text->front() == 'v') text->erase(0, 1);
    if (platform::Split(*text, '.').size() == 3) *text += ".0";
    result = IsVersionAtLeast(*text, required);
  }
  const std::string key_text(key);
  log::Info("VC Redist Reg check: reg:%s, x86:%d, ret: %d", key_text.c_str(), x86 ? 1 : 0, result ? 1 : 0);
  return result;
}

bool CheckFileVersion(bool x86, std::string_view file_name, std::string_view required) {
  const platform::SystemDrive& drive = platform::Drive();
  const bool wow64_folder = x86 && drive.Windows64();
  const std::string folder =
      drive.KnownFolderPath(wow64_folder ? platform::KnownFolder::kSystemX86 : platform::KnownFolder::kSystem);
  bool result = false;
  if (!folder.empty()) {
    const std::string path = platform::JoinPath(folder, file_name);
    std::optional<platform::FixedFileVersion> version;
    {
      // A 32-bit process would otherwise see SysWOW64 in place of the 64-bit system folder.
      platform::ScopedFsRedirectionOff redirection_off;
      version = platform::ReadFixedFileVersion(path);
    }
    if (version) {
      result = IsVersionAtLeast(sys::VersionWordsText(version->file_version_ms, version->file_version_ls), required);
    }
  }
  const std::string name(file_name);
  log::Info("VC Redist Reg check: folder:%s, filename:%s, x86:%d, ret: %d", folder.c_str(), name.c_str(), x86 ? 1 : 0,
            result ? 1 : 0);
  return result;
}

bool CheckReleaseNumber(std::string_view key, std::string_view required) {
  const std::optional<std::uint32_t> release = platform::Reg().ReadDword(platform::Hive::kLocalMachine, key, "Release");
  return release && static_cast<long long>(*release) >= DecimalValue(required);
}

bool IsHotfixInstalled(std::string_view id) {
  if (id.empty()) return false;
  const std::vector<std::string>& hotfixes = platform::Current().profile.hotfixes;
  return std::find(hotfixes.begin(), hotfixes.end(), id) != hotfixes.end();
}

}  // namespace orvo::plan

#include "deploy/installed_products.h"

#include <cstddef>
#include <utility>

#include "platform/platform.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "system/file_helpers.h"
#include "system/registry_helpers.h"

namespace orvo::deploy {

namespace {

using platform::Hive;

// The location is read into a MAX_PATH buffer: 259 characters and the terminating zero.
constexpr std::size_t kMaxLocationChars = 259;

std::string ReadEntryText(std::string_view uninstall_id, std::string_view name) {
  const std::string key = UninstallKeyPath(uninstall_id);
  std::string text;
  if (key.empty() || sys::ReadStringValue(Hive::kLocalMachine, key, name, text) != platform::error::kSuccess) return {};
  return text;
}

std::vector<platform::RegValue> IndexValues() {
  std::vector<platform::RegValue> values;
  if (platform::Reg().ListValues(Hive::kLocalMachine, kProductIndexKey, values) != platform::error::kSuccess) {
    values.clear();
  }
  return values;
}

// Location and folder already folded; the location counts as a parent only at a backslash.
bool IsAtOrBelow(std::string_view folder, std::string location) {
  while (!location.empty() && location.back() == '\\') location.pop_back();
  if (location.empty() || !folder.starts_with(location)) return false;
  return folder.size() == location.size() || folder[location.size()] == '\\';
}

// Reads a run of decimal digits (at most five, enough for any field) at text[at].
bool ReadNumber(std::string_view text, std::size_t& at, int& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 5) {
    value = value * 10 + (text[at] - '0');
    ++at;
  }
  return at > start && (at == text.size() || text[at] < '0' || text[at] > '9');
}

bool ReadSeparator(std::string_view text, std::size_t& at, char separator) {
  if (at >= text.size() || text[at] != separator) return false;
  ++at;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValid(const RegistrationDate& date) {
  // The range of Windows file times.
  if (date.year < 1601 || date.year > 30827 || date.month < 1 || date.month > 12) return false;
  if (date.day < 1 || date.day > DaysInMonth(date.year, date.month)) return false;
  return date.hour <= 23 && date.minute <= 59 && date.second <= 59;
}

}  // namespace

std::string UninstallKeyPath(std::string_view uninstall_id) {
  if (uninstall_id.empty()) return {};
  return platform::JoinPath(kUninstallRootKey, uninstall_id);
}

std::string ApplicationFileListKey(int application_number) {
  return platform::JoinPath(kOrvopackKey, std::to_string(application_number));
}

std::string GetInstallLocation(std::string_view uninstall_id) {
  std::string location = ReadEntryText(uninstall_id, "InstallLocation");
  // A longer value does not fit the buffer; a cut path would name another folder.
  if (platform::Utf8ToUtf16(location).size() > kMaxLocationChars) return {};
  return location;
}

bool IsMultiFolderProduct(std::string_view uninstall_id) { return ReadEntryText(uninstall_id, "MultiFolder") == "1"; }

std::vector<std::string> ListInstalledProducts() {
  std::vector<std::string> ids;
  for (platform::RegValue& value : IndexValues()) {
    // An empty id names no product and would make an uninstall of everything fail.
    if (value.type == platform::RegType::kString && !value.text.empty()) ids.push_back(std::move(value.text));
  }
  return ids;
}

std::string FindProductByLocation(std::string_view folder) {
  const std::string wanted = platform::FoldCase(platform::ReplaceAll(std::string(folder), "/", "\\"));
  std::string id;
  for (const platform::RegValue& value : IndexValues()) {
    if (value.type != platform::RegType::kString) continue;
    if (IsAtOrBelow(wanted, platform::FoldCase(value.name))) id = value.text;
  }
  return id;
}

std::optional<RegistrationDate> ParseRegistrationDate(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  int first = 0, second = 0, third = 0;
  std::size_t at = 0;
  if (!ReadNumber(text, at, first) || at >= text.size()) return std::nullopt;
  const char separator = text[at];
  if (separator != '-' && separator != '/') return std::nullopt;
  if (!ReadSeparator(text, at, separator) || !ReadNumber(text, at, second) || !ReadSeparator(text, at, separator) ||
      !ReadNumber(text, at, third) || !ReadSeparator(text, at, ' ')) {
    return std::nullopt;
  }
  while (at < text.size() && text[at] == ' ') ++at;
  RegistrationDate date;
  if (separator == '-') {
    date.year = first, date.month = second, date.day = third;
  } else {
    date.month = first, date.day = second, date.year = third;
  }
  if (!ReadNumber(text, at, date.hour) || !ReadSeparator(text, at, ':') || !ReadNumber(text, at, date.minute) ||
      !ReadSeparator(text, at, ':') || !ReadNumber(text, at, date.second) || at != text.size()) {
    return std::nullopt;
  }
  if (!IsValid(date)) return std::nullopt;
  return date;
}

std::string NewestRegisteredFile(int application_number) {
  std::vector<std::pair<std::string, std::string>> values;
  if (sys::ReadValueList(ApplicationFileListKey(application_number), values) != 0) return {};
  const std::pair<std::string, std::string>* chosen = nullptr;
  std::optional<RegistrationDate> chosen_date;
  for (const auto& value : values) {
    if (!sys::FileExists(value.first)) continue;
    const std::optional<RegistrationDate> date = ParseRegistrationDate(value.second);
    bool later = chosen == nullptr;
    if (!later) later = date && chosen_date ? *date > *chosen_date : !(value.second < chosen->second);
    if (later) {
      chosen = &value;
      chosen_date = date;
    }
  }
  return chosen ? chosen->first : std::string();
}

}  // namespace orvo::deploy

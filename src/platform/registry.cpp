// The parts of the registry that hold for every implementation: the convenience readers, and the rule
// that tells where a key of a hive and view lives.
#include "platform/registry.h"

#include <array>

#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform {
namespace {

// Sub-keys of "Classes" that keep a separate 32-bit copy on Windows 7 and later; the rest of "Classes"
// is shared by both views.
constexpr std::array<std::string_view, 5> kRedirectedClasses = {"CLSID", "DirectShow", "Interface", "Media Type",
                                                                "MediaFoundation"};
constexpr std::string_view kWow = "WOW6432Node";

bool Is(const std::string& part, std::string_view name) { return EqualsNoCase(part, name); }

bool IsRedirectedClass(const std::string& part) {
  for (std::string_view name : kRedirectedClasses) {
    if (Is(part, name)) return true;
  }
  return false;
}

// Empty parts (doubled, leading or trailing backslashes) carry no name and are dropped.
std::vector<std::string> PathParts(std::string_view path) {
  std::vector<std::string> parts;
  for (std::string& part : Split(path, '\\')) {
    if (!part.empty()) parts.push_back(std::move(part));
  }
  return parts;
}

// parts[at] is "Classes": its redirected sub-keys move below "Classes\WOW6432Node".
void RedirectClasses(std::vector<std::string>& parts, std::size_t at) {
  if (parts.size() > at + 1 && IsRedirectedClass(parts[at + 1])) {
    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(at + 1), std::string(kWow));
  }
}

void RedirectLocalMachine(std::vector<std::string>& parts) {
  if (parts.empty() || !Is(parts[0], "SOFTWARE")) return;
  if (parts.size() >= 2 && Is(parts[1], kWow)) return;  // already names the 32-bit copy
  if (parts.size() >= 2 && Is(parts[1], "Classes")) {
    RedirectClasses(parts, 1);
    return;
  }
  parts.insert(parts.begin() + 1, std::string(kWow));
}

void RedirectCurrentUser(std::vector<std::string>& parts) {
  if (parts.size() >= 2 && Is(parts[0], "Software") && Is(parts[1], "Classes")) RedirectClasses(parts, 1);
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) {
    if (!path.empty()) path += '\\';
    path += part;
  }
  return path;
}

}  // namespace

RegLocation ResolveRegistryPath(Hive hive, std::string_view path, RegView view, bool windows64) {
  std::vector<std::string> parts = PathParts(path);
  // HKCR is the merged view of the classes; this store keeps a single copy, the machine's
  // HKLM "SOFTWARE\Classes", so HKCR is an alias of it and follows its redirection.
  if (hive == Hive::kClassesRoot) {
    parts.insert(parts.begin(), {"SOFTWARE", "Classes"});
    hive = Hive::kLocalMachine;
  }
  if (windows64 && view != RegView::kView64) {
    if (hive == Hive::kLocalMachine) RedirectLocalMachine(parts);
    if (hive == Hive::kCurrentUser) RedirectCurrentUser(parts);
  }
  return RegLocation{hive, JoinParts(parts)};
}

std::optional<std::string> Registry::ReadString(Hive hive, std::string_view path, std::string_view name,
                                                RegView view) {
  RegValue value;
  if (QueryValue(hive, path, name, value, view) != error::kSuccess || value.type != RegType::kString) {
    return std::nullopt;
  }
  return std::move(value.text);
}

std::optional<std::uint32_t> Registry::ReadDword(Hive hive, std::string_view path, std::string_view name,
                                                 RegView view) {
  RegValue value;
  if (QueryValue(hive, path, name, value, view) != error::kSuccess || value.type != RegType::kDword) {
    return std::nullopt;
  }
  return value.number;
}

}  // namespace orvo::platform

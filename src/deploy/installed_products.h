// The registry records of installed products and their readers: the uninstall entry of each product,
// the product index (install location -> uninstall id) and the application file lists that packages
// register under "orvopack". All keys are under HKEY_LOCAL_MACHINE in this 32-bit program's default view.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::deploy {

inline constexpr std::string_view kUninstallRootKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::string_view kOrvopackKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack";
inline constexpr std::string_view kProductIndexKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\orvopack\\0";

// "SOFTWARE\...\Uninstall\<id>"; empty for an empty id (which names no product, never the root key).
std::string UninstallKeyPath(std::string_view uninstall_id);
// "SOFTWARE\...\orvopack\<number>".
std::string ApplicationFileListKey(int application_number);

// The entry's "InstallLocation"; empty when absent or longer than a Windows path (259 characters).
std::string GetInstallLocation(std::string_view uninstall_id);
// The entry's "MultiFolder" is exactly "1".
bool IsMultiFolderProduct(std::string_view uninstall_id);
// The uninstall ids of the product index in enumeration order (values without a text id are left out).
std::vector<std::string> ListInstalledProducts();
// The id of the product whose registered location is the folder or one of its parents ("/" read as "\",
// without regard to case); the last matching index value wins; empty when none. A location only matches
// at a folder boundary: "C:\Orvo\App" is not a parent of "C:\Orvo\App2".
std::string FindProductByLocation(std::string_view folder);

// A registration date of an application file list, local time.
struct RegistrationDate {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto operator<=>(const RegistrationDate&) const = default;
};
// "Y-M-D h:m:s" or "M/D/Y h:m:s" (numbers without padding, as "%d" writes them). Nothing for any other
// text or a date that does not exist (month 13, February 30...).
std::optional<RegistrationDate> ParseRegistrationDate(std::string_view text);

// The existing file of the application's file list registered last: values in enumeration order, files
// that do not exist passed over; a later value wins when its date is later (an equal date keeps the earlier
// value) or, when either date cannot be read, when its date text is not smaller (ordinal). Empty when no
// value names an existing file.
std::string NewestRegisteredFile(int application_number);

}  // namespace orvo::deploy

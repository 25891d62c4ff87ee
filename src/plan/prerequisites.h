// Whether a runtime prerequisite is already present in a sufficient version: the two checks of a VC
// runtime (a registry "Version" value and a system file's version), the .NET "Release" number, and whether
// a Windows hotfix is installed. True always means present in at least the required version; whatever
// cannot be read answers "not present", so the plan installs the runtime.
#pragma once

#include <string_view>

namespace orvo::plan {

// Dotted decimal versions, each part read as a decimal integer (text that is not a number counts as 0).
// The first differing part of those both have decides; when all shared parts are equal, the installed
// version must have at least as many parts as the required one. An empty text has no parts.
bool IsVersionAtLeast(std::string_view installed, std::string_view required);

// HKLM key (32-bit view on 64-bit Windows) with a string value "Version" such as "v14.36.32532.00": a
// leading "v" is dropped and a three-part version gets ".0" appended. x86 only appears in the log line.
bool CheckRegistryVersion(std::string_view key, std::string_view required, bool x86);

// The fixed file version of a file in the system folder: for a 32-bit runtime on 64-bit Windows the
// folder of 32-bit system files, otherwise the real (not redirected) system folder.
bool CheckFileVersion(bool x86, std::string_view file_name, std::string_view required);

// HKLM key with a REG_DWORD "Release" at least the required number (decimal text).
bool CheckReleaseNumber(std::string_view key, std::string_view required);

// The hotfix id (e.g. "KB2919355") is among the installed updates of the system, compared exactly.
bool IsHotfixInstalled(std::string_view id);

}  // namespace orvo::plan

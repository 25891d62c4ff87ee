// Drive C: of our own. The core works with Windows paths ("C:\Program Files (x86)\Orvo"); this class maps
// them onto the Linux file system: C: is the system root folder, Z: is the Linux root, and every other
// drive letter does not exist. Names are looked up without regard to case, as Windows does, so
// "C:\WINDOWS\system32" finds "<root>/Windows/System32".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvo::platform {

enum class KnownFolder {
  kProgramFiles,             // as a 32-bit program sees it: "C:\Program Files (x86)" on 64-bit Windows
  kProgramFilesNative,       // "C:\Program Files"
  kCommonFiles,              // common files of 32-bit programs: "C:\Program Files (x86)\Common Files"
  kCommonFilesNative,        // "C:\Program Files\Common Files"
  kProgramData,              // "C:\ProgramData"
  kRoamingAppData,           // "C:\Users\<user>\AppData\Roaming"
  kLocalAppData,             // "C:\Users\<user>\AppData\Local"
  kTemp,                     // "C:\Users\<user>\AppData\Local\Temp"
  kUserProfile,              // "C:\Users\<user>"
  kPublic,                   // "C:\Users\Public"
  kCommonDesktop,            // "C:\Users\Public\Desktop"
  kUserDesktop,              // "C:\Users\<user>\Desktop"
  kCommonStartMenuPrograms,  // "C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
  kUserStartMenuPrograms,    // "C:\Users\<user>\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
  kWindows,                  // "C:\Windows"
  kSystem,                   // "C:\Windows\System32" (a 32-bit process is redirected to SysWOW64 on access)
  kSystemX86,                // "C:\Windows\SysWOW64" on 64-bit Windows, else "C:\Windows\System32"
};

class SystemDrive {
 public:
  // root: the Linux folder that is drive C:. windows64: whether the emulated Windows is 64-bit (then this
  // program is a 32-bit process under WOW64, with file-system redirection).
  SystemDrive(std::filesystem::path root, std::string userName, bool windows64);

  const std::filesystem::path& Root() const { return root_; }
  const std::string& UserName() const { return user_name_; }
  bool Windows64() const { return windows64_; }

  // Windows form, without a trailing backslash.
  std::string KnownFolderPath(KnownFolder folder) const;

  // Windows path -> Linux path. Applies the file-system redirection of a 32-bit process when it is on for
  // the calling thread. A path on an unknown drive, a UNC path or an empty path gives an empty result.
  // Relative paths stay relative (backslashes become slashes). Existing components are matched without
  // regard to case; missing ones keep the case given.
  std::filesystem::path ToLinux(std::string_view windows_path) const;

  // Linux path -> Windows path: below the root it is on C:, anything else on Z:.
  std::string ToWindows(const std::filesystem::path& linux_path) const;

  // Creates the folders of a fresh Windows system drive (idempotent).
  bool CreateLayout() const;

 private:
  std::filesystem::path root_;
  std::string user_name_;
  bool windows64_;
};

// The per-thread switch that a 32-bit process uses to see the real System32
// (Wow64DisableWow64FsRedirection). Redirection is on by default.
bool FsRedirectionEnabled();
class ScopedFsRedirectionOff {
 public:
  ScopedFsRedirectionOff();
  ~ScopedFsRedirectionOff();
  ScopedFsRedirectionOff(const ScopedFsRedirectionOff&) = delete;
  ScopedFsRedirectionOff& operator=(const ScopedFsRedirectionOff&) = delete;

 private:
  bool previous_;
};

// Windows path helpers (pure text).
std::string JoinPath(std::string_view folder, std::string_view name);  // one backslash between
std::string WithoutTrailingBackslash(std::string_view path);
std::string WithTrailingBackslash(std::string_view path);

}  // namespace orvo::platform

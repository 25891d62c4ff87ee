#include "platform/system_drive.h"

#include <system_error>
#include <vector>

#include "platform/text.h"

namespace orvo::platform {

namespace stdfs = std::filesystem;

namespace {

thread_local bool t_fs_redirection = true;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

// GetFullPathName's lexical rules: "." vanishes, ".." removes the previous name and never climbs above
// the drive's root.
std::vector<std::string> Normalize(std::vector<std::string> parts) {
  std::vector<std::string> out;
  for (auto& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(std::move(part));
  }
  return out;
}

// A 32-bit process on 64-bit Windows sees "C:\Windows\SysWOW64" where it names System32, except for the
// few folders Windows exempts; "Sysnative" names the real System32.
void Redirect(std::vector<std::string>& parts) {
  if (parts.size() < 2 || !EqualsNoCase(parts[0], "Windows")) return;
  if (EqualsNoCase(parts[1], "Sysnative")) {
    parts[1] = "System32";
    return;
  }
  if (!EqualsNoCase(parts[1], "System32")) return;
  if (parts.size() >= 3) {
    for (const char* exempt : {"catroot", "catroot2", "logfiles", "spool"}) {
      if (EqualsNoCase(parts[2], exempt)) return;
    }
    if (parts.size() >= 4 && EqualsNoCase(parts[2], "drivers") && EqualsNoCase(parts[3], "etc")) return;
  }
  parts[1] = "SysWOW64";
}

// Finds each existing component without regard to case, as a case-insensitive file system would.
stdfs::path Resolve(stdfs::path base, const std::vector<std::string>& parts) {
  bool resolving = true;
  for (const auto& part : parts) {
    if (resolving) {
      std::error_code error;
      if (!stdfs::exists(stdfs::symlink_status(base / part, error))) {
        std::string match;
        for (stdfs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
          const std::string name = it->path().filename().string();
          if (EqualsNoCase(name, part)) {
            match = name;
            break;
          }
        }
        if (!match.empty()) {
          base /= match;
          continue;
        }
        resolving = false;
      }
    }
    base /= part;
  }
  return base;
}

}  // namespace

SystemDrive::SystemDrive(stdfs::path root, std::string userName, bool windows64)
    : root_(stdfs::absolute(std::move(root)).lexically_normal()), user_name_(std::move(userName)),
      windows64_(windows64) {
  // A trailing separator would make the root and its children compare differently.
  if (root_.has_relative_path() && root_.filename().empty()) root_ = root_.parent_path();
}

std::string SystemDrive::KnownFolderPath(KnownFolder folder) const {
  const std::string program_files_x86 = windows64_ ? "C:\\Program Files (x86)" : "C:\\Program Files";
  const std::string user = "C:\\Users\\" + user_name_;
  switch (folder) {
    case KnownFolder::kProgramFiles: return program_files_x86;
    case KnownFolder::kProgramFilesNative: return "C:\\Program Files";
    case KnownFolder::kCommonFiles: return program_files_x86 + "\\Common Files";
    case KnownFolder::kCommonFilesNative: return "C:\\Program Files\\Common Files";
    case KnownFolder::kProgramData: return "C:\\ProgramData";
    case KnownFolder::kRoamingAppData: return user + "\\AppData\\Roaming";
    case KnownFolder::kLocalAppData: return user + "\\AppData\\Local";
    case KnownFolder::kTemp: return user + "\\AppData\\Local\\Temp";
    case KnownFolder::kUserProfile: return user;
    case KnownFolder::kPublic: return "C:\\Users\\Public";
    case KnownFolder::kCommonDesktop: return "C:\\Users\\Public\\Desktop";
    case KnownFolder::kUserDesktop: return user + "\\Desktop";
    case KnownFolder::kCommonStartMenuPrograms: return "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    case KnownFolder::kUserStartMenuPrograms:
      return user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    case KnownFolder::kWindows: return "C:\\Windows";
    case KnownFolder::kSystem: return "C:\\Windows\\System32";
    case KnownFolder::kSystemX86: return windows64_ ? "C:\\Windows\\SysWOW64" : "C:\\Windows\\System32";
  }
  return {};
}

stdfs::path SystemDrive::ToLinux(std::string_view windows_path) const {
  std::string_view path = windows_path;
  if (path.substr(0, 4) == "\\\\?\\" || path.substr(0, 4) == "\\??\\") path.remove_prefix(4);
  if (path.empty()) return {};
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return {};  // UNC
  const bool has_drive = path.size() >= 2 && path[1] == ':' &&
                         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (!has_drive) {
    // A relative path (or one rooted on the current drive) stays relative to the current folder.
    if (IsSeparator(path[0])) return ToLinux("C:" + std::string(path));
    stdfs::path relative;
    for (const auto& part : SplitComponents(path)) relative /= part;
    return relative;
  }
  const char letter = static_cast<char>(path[0] & ~0x20);
  std::vector<std::string> parts = Normalize(SplitComponents(path.substr(2)));
  if (letter == 'C') {
    if (windows64_ && FsRedirectionEnabled()) Redirect(parts);
    return Resolve(root_, parts);
  }
  if (letter == 'Z') return Resolve("/", parts);
  return {};
}

std::string SystemDrive::ToWindows(const stdfs::path& linux_path) const {
  const stdfs::path absolute = stdfs::absolute(linux_path).lexically_normal();
  const stdfs::path relative = absolute.lexically_relative(root_);
  std::string out;
  stdfs::path rest;
  if (!relative.empty() && *relative.begin() != "..") {
    out = "C:";
    rest = relative == "." ? stdfs::path() : relative;
  } else {
    out = "Z:";
    rest = absolute.relative_path();
  }
  for (const auto& part : rest) {
    if (part.empty()) continue;
    out += '\\';
    out += part.string();
  }
  if (out.size() == 2) out += '\\';
  return out;
}

bool SystemDrive::CreateLayout() const {
  std::vector<KnownFolder> folders = {
      KnownFolder::kProgramFiles,    KnownFolder::kProgramFilesNative, KnownFolder::kCommonFiles,
      KnownFolder::kCommonFilesNative, KnownFolder::kProgramData,      KnownFolder::kRoamingAppData,
      KnownFolder::kTemp,            KnownFolder::kCommonDesktop,      KnownFolder::kUserDesktop,
      KnownFolder::kCommonStartMenuPrograms, KnownFolder::kUserStartMenuPrograms, KnownFolder::kSystemX86};
  std::error_code error;
  stdfs::create_directories(root_ / "Windows" / "System32" / "config", error);
  if (error) return false;
  ScopedFsRedirectionOff real_paths;
  for (KnownFolder folder : folders) {
    stdfs::create_directories(ToLinux(KnownFolderPath(folder)), error);
    if (error) return false;
  }
  return true;
}

bool FsRedirectionEnabled() { return t_fs_redirection; }

ScopedFsRedirectionOff::ScopedFsRedirectionOff() : previous_(t_fs_redirection) { t_fs_redirection = false; }
ScopedFsRedirectionOff::~ScopedFsRedirectionOff() { t_fs_redirection = previous_; }

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string out = WithoutTrailingBackslash(folder);
  if (!IsSeparator(out.back())) out += '\\';
  while (!name.empty() && IsSeparator(name.front())) name.remove_prefix(1);
  out += name;
  return out;
}

std::string WithoutTrailingBackslash(std::string_view path) {
  std::string out(path);
  while (out.size() > 1 && IsSeparator(out.back())) {
    if (out.size() == 3 && out[1] == ':') break;  // "C:\" keeps its root separator
    out.pop_back();
  }
  return out;
}

std::string WithTrailingBackslash(std::string_view path) {
  std::string out(path);
  if (out.empty() || !IsSeparator(out.back())) out += '\\';
  return out;
}

}  // namespace orvo::platform

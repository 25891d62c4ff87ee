#include "platform/environment.h"

#include "platform/system_drive.h"
#include "platform/text.h"

namespace orvo::platform {

namespace {

bool LooksLikeWindowsPath(std::string_view value) {
  return value.size() >= 2 && value[1] == ':' &&
         ((value[0] >= 'A' && value[0] <= 'Z') || (value[0] >= 'a' && value[0] <= 'z'));
}

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

WindowsEnvironment WindowsEnvironment::ForDrive(const SystemDrive& drive) {
  WindowsEnvironment env;
  const auto folder = [&](KnownFolder f) { return drive.KnownFolderPath(f); };
  const std::string windows = folder(KnownFolder::kWindows);
  env.Set("SystemDrive", "C:");
  env.Set("SystemRoot", windows);
  env.Set("windir", windows);
  env.Set("ComSpec", windows + "\\system32\\cmd.exe");
  env.Set("PATH", windows + "\\system32;" + windows + ";" + windows + "\\System32\\Wbem");
  env.Set("PATHEXT", ".COM;.EXE;.BAT;.CMD");
  env.Set("OS", "Windows_NT");
  env.Set("ProgramData", folder(KnownFolder::kProgramData));
  env.Set("ALLUSERSPROFILE", folder(KnownFolder::kProgramData));
  env.Set("PUBLIC", folder(KnownFolder::kPublic));
  env.Set("USERNAME", drive.UserName());
  env.Set("USERPROFILE", folder(KnownFolder::kUserProfile));
  env.Set("HOMEDRIVE", "C:");
  env.Set("HOMEPATH", folder(KnownFolder::kUserProfile).substr(2));
  env.Set("APPDATA", folder(KnownFolder::kRoamingAppData));
  env.Set("LOCALAPPDATA", folder(KnownFolder::kLocalAppData));
  env.Set("TEMP", folder(KnownFolder::kTemp));
  env.Set("TMP", folder(KnownFolder::kTemp));
  // What a 32-bit process sees: its program files are the "(x86)" ones.
  env.Set("ProgramFiles", folder(KnownFolder::kProgramFiles));
  env.Set("CommonProgramFiles", folder(KnownFolder::kCommonFiles));
  if (drive.Windows64()) {
    env.Set("ProgramFiles(x86)", folder(KnownFolder::kProgramFiles));
    env.Set("CommonProgramFiles(x86)", folder(KnownFolder::kCommonFiles));
    env.Set("ProgramW6432", folder(KnownFolder::kProgramFilesNative));
    env.Set("CommonProgramW6432", folder(KnownFolder::kCommonFilesNative));
    env.Set("PROCESSOR_ARCHITECTURE", "x86");
    env.Set("PROCESSOR_ARCHITEW6432", "AMD64");
  } else {
    env.Set("PROCESSOR_ARCHITECTURE", "x86");
  }
  return env;
}

std::optional<std::string> WindowsEnvironment::Get(std::string_view name) const {
  const auto it = entries_.find(FoldCase(name));
  if (it == entries_.end()) return std::nullopt;
  return it->second.value;
}

void WindowsEnvironment::Set(std::string_view name, std::string_view value) {
  auto& entry = entries_[FoldCase(name)];
  if (entry.name.empty()) entry.name = std::string(name);
  entry.value = std::string(value);
}

void WindowsEnvironment::Remove(std::string_view name) { entries_.erase(FoldCase(name)); }

std::string WindowsEnvironment::Expand(std::string_view text) const {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    const auto value = Get(text.substr(open + 1, close - open - 1));
    if (value && close > open + 1) {
      out += *value;
    } else {
      out.append(text.substr(open, close - open + 1));  // unknown names stay as written
    }
    i = close + 1;
  }
  out.append(text.substr(i));
  return out;
}

std::vector<std::string> WindowsEnvironment::Block() const {
  std::vector<std::string> block;
  for (const auto& [key, entry] : entries_) block.push_back(entry.name + "=" + entry.value);
  return block;
}

std::vector<std::string> WindowsEnvironment::ForLinuxChild(const SystemDrive& drive,
                                                           const std::vector<std::string>& linux_environment) const {
  std::vector<std::string> out;
  std::string linux_path;
  for (const auto& entry : linux_environment) {
    const std::string name = NameOf(entry);
    if (name == "PATH") {
      linux_path = entry.substr(5);
      continue;
    }
    if (entries_.count(FoldCase(name)) != 0) continue;  // ours wins
    if (name == "ORVO_EXIT_CODE_FILE") continue;         // names where this process reports, not its children
    out.push_back(entry);
  }
  for (const auto& [key, entry] : entries_) {
    if (key == "PATH") continue;
    const std::string value = LooksLikeWindowsPath(entry.value) ? drive.ToLinux(entry.value).string() : entry.value;
    out.push_back(entry.name + "=" + value);
  }
  std::string path;
  if (const auto windows_path = Get("PATH")) {
    for (const auto& piece : Split(*windows_path, ';')) {
      if (piece.empty()) continue;
      const std::string mapped = LooksLikeWindowsPath(piece) ? drive.ToLinux(piece).string() : piece;
      if (mapped.empty()) continue;
      if (!path.empty()) path += ':';
      path += mapped;
    }
  }
  if (!linux_path.empty()) path += (path.empty() ? "" : ":") + linux_path;
  out.push_back("PATH=" + path);
  return out;
}

}  // namespace orvo::platform

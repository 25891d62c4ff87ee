// The process's platform services: the system drive, the system profile, the Windows environment, the
// registry store, the process launcher, the user interface and the clipboard. The entry initialises them
// once from the environment (ORVO_SYSTEM_ROOT); tests build their own around a temporary system root and
// install them with ScopedPlatform.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/clipboard.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system_drive.h"
#include "platform/system_profile.h"

namespace orvo::platform {

struct Platform {
  SystemProfile profile;
  SystemDrive drive;
  WindowsEnvironment environment;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<ProcessLauncher> launcher;
  std::unique_ptr<UserInterface> ui;
  std::unique_ptr<Clipboard> clipboard;
};

// The system root: ORVO_SYSTEM_ROOT, else "$XDG_DATA_HOME/orvo/system-root" (~/.local/share/...).
std::filesystem::path DefaultSystemRoot();

// Builds the services for a system root: lays out drive C:, reads the profile, opens the registry store.
// Null with *problem set when the root cannot be prepared or the store cannot be opened.
std::unique_ptr<Platform> CreatePlatform(const std::filesystem::path& system_root, std::string* problem);

// The process-wide services. Current() must not be called before Install().
Platform& Current();
bool Installed();
void Install(std::unique_ptr<Platform> platform);

// Installs a platform for the life of the object and restores the previous one afterwards (tests).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(std::unique_ptr<Platform> platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;
  Platform& Get();

 private:
  std::unique_ptr<Platform> previous_;
};

// Shorthands for the core.
inline Registry& Reg() { return *Current().registry; }
inline const SystemDrive& Drive() { return Current().drive; }

}  // namespace orvo::platform

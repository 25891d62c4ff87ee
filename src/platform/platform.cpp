#include "platform/platform.h"

#include <cstdlib>
#include <system_error>

namespace orvo::platform {

namespace stdfs = std::filesystem;

namespace {

std::unique_ptr<Platform>& Slot() {
  static std::unique_ptr<Platform> current;
  return current;
}

}  // namespace

stdfs::path DefaultSystemRoot() {
  if (const char* root = std::getenv("ORVO_SYSTEM_ROOT"); root != nullptr && root[0] != '\0') return root;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] != '\0') {
    return stdfs::path(data) / "orvo" / "system-root";
  }
  const char* home = std::getenv("HOME");
  return stdfs::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / ".local" / "share" / "orvo" / "system-root";
}

std::unique_ptr<Platform> CreatePlatform(const stdfs::path& system_root, std::string* problem) {
  const auto fail = [&](std::string text) -> std::unique_ptr<Platform> {
    if (problem != nullptr) *problem = std::move(text);
    return nullptr;
  };
  std::error_code error;
  stdfs::create_directories(system_root, error);
  if (error) return fail("cannot create the system root " + system_root.string() + ": " + error.message());

  std::string profile_problem;
  SystemProfile profile = LoadSystemProfile((system_root / "system-profile.json").string(), &profile_problem);
  if (!profile_problem.empty()) return fail("system-profile.json: " + profile_problem);
  SystemDrive drive(system_root, profile.user_name, profile.windows64);
  if (!drive.CreateLayout()) return fail("cannot lay out drive C: in " + drive.Root().string());

  std::uint32_t store_error = 0;
  const stdfs::path store = drive.Root() / "Windows" / "System32" / "config" / "registry.sqlite3";
  auto registry = OpenRegistryStore(store.string(), profile.windows64, &store_error);
  if (!registry) return fail("cannot open the registry store " + store.string() + " (" + std::to_string(store_error) + ")");

  WindowsEnvironment environment = WindowsEnvironment::ForDrive(drive);
  return std::unique_ptr<Platform>(new Platform{std::move(profile), std::move(drive), std::move(environment),
                                                std::move(registry), MakeLinuxProcessLauncher(),
                                                MakeConsoleUserInterface(), MakeNoClipboard()});
}

Platform& Current() { return *Slot(); }
bool Installed() { return Slot() != nullptr; }
void Install(std::unique_ptr<Platform> platform) { Slot() = std::move(platform); }

ScopedPlatform::ScopedPlatform(std::unique_ptr<Platform> platform) : previous_(std::move(Slot())) {
  Slot() = std::move(platform);
}
ScopedPlatform::~ScopedPlatform() { Slot() = std::move(previous_); }
Platform& ScopedPlatform::Get() { return *Slot(); }

}  // namespace orvo::platform

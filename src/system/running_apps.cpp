#include "system/running_apps.h"

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/file_version.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvo::sys {

namespace {

// ---- the processes of the machine -------------------------------------------------------------------

class SystemProcessAccess : public ProcessAccess {
 public:
  std::vector<std::uint32_t> ProcessIds() override {
    std::vector<std::uint32_t> ids;
    std::map<std::uint32_t, std::string> names;
    for (platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
      if (entry.id == 0) continue;
      if (ids.size() == kMaxProcessIds) break;
      ids.push_back(entry.id);
      names[entry.id] = std::move(entry.image_name);
    }
    std::lock_guard lock(mutex_);
    names_ = std::move(names);
    return ids;
  }

  std::string BaseName(std::uint32_t id) override {
    {
      std::lock_guard lock(mutex_);
      if (auto found = names_.find(id); found != names_.end()) return found->second;
    }
    for (const platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
      if (entry.id == id) return entry.image_name;
    }
    return {};
  }

  std::string ImagePath(std::uint32_t id) override {
    for (const platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
      if (entry.id == id) return entry.image_path;
    }
    return {};
  }

  bool Terminate(std::uint32_t id, std::uint32_t exit_code, std::uint32_t wait_ms) override {
    if (!platform::TerminateProcessById(id, exit_code)) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (Running(id) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  static bool Running(std::uint32_t id) {
    for (const platform::ProcessEntry& entry : platform::SnapshotProcesses()) {
      if (entry.id == id) return true;
    }
    return false;
  }

  std::mutex mutex_;
  std::map<std::uint32_t, std::string> names_;  // of the last snapshot
};

// ---- the version resource ---------------------------------------------------------------------------

std::optional<std::uint16_t> U16(std::string_view bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return std::nullopt;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                    static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

// UTF-16 units from offset, at most count of them, up to the first NUL.
std::string Utf16Text(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::u16string text;
  for (std::size_t i = 0; i < count; ++i) {
    const auto unit = U16(bytes, offset + 2 * i);
    if (!unit || *unit == 0) break;
    text.push_back(static_cast<char16_t>(*unit));
  }
  return platform::Utf16ToUtf8(text);
}

bool NamesOrvo(const std::string& company) { return platform::FoldCase(company).find("ORVO") != std::string::npos; }

// ---- the applications ------------------------------------------------------------------------------

struct FileVersion {
  std::uint32_t major, minor, build, revision;
};

FileVersion Parts(const platform::FixedFileVersion& fixed) {
  return {fixed.file_version_ms >> 16, fixed.file_version_ms & 0xFFFFu, fixed.file_version_ls >> 16,
          fixed.file_version_ls & 0xFFFFu};
}

// The thresholds compare build and revision each on its own at the last level, as the applications'
// quit switches were introduced.
bool MediaServerQuits(const FileVersion& v) {
  return v.major >= 4 || (v.major == 3 && v.minor > 8) || (v.major == 3 && v.minor == 8 && (v.build > 1 || v.revision > 14));
}
bool BackupQuits(const FileVersion& v) {
  return v.major >= 20 || (v.major == 19 && v.minor > 2) || (v.major == 19 && v.minor == 2 && (v.build > 3 || v.revision > 8));
}
bool AnyVersionQuits(const FileVersion&) { return true; }

struct GracefulStop {
  const char* file_name;
  const char* switch_text;  // after the full image path
  bool (*quits)(const FileVersion&);
};
constexpr std::array<GracefulStop, 4> kGracefulStops{{
    {"Showcase.exe", " /stopMediaServer", MediaServerQuits},
    {"Viewfinder.exe", " /stop", MediaServerQuits},
    {"Savebox.exe", " /stop", BackupQuits},
    {"Diskline.exe", " /stop", AnyVersionQuits},
}};
// The transfer application is recognised by its path and takes its switch at any version.
constexpr std::string_view kTransferApplication = "Shuttle.exe";

// The path is the program itself, given as the application too: unquoted, a path with blanks would
// otherwise let CreateProcess try "C:\Program.exe" first.
void StartStopCommand(const std::string& path, const char* switch_text) {
  platform::SpawnRequest request;
  request.command_line = path + switch_text;
  request.application = path;
  std::uint32_t error = 0;
  platform::Current().launcher->Spawn(request, &error);  // not waited for; a failure is ignored
  log::Debug("Exit Orvo Application = %s", request.command_line.c_str());
}

const GracefulStop* GracefulStopFor(std::string_view base_name) {
  for (const GracefulStop& stop : kGracefulStops) {
    if (platform::EqualsNoCase(base_name, stop.file_name)) return &stop;
  }
  return nullptr;
}

}  // namespace

ProcessAccess& SystemProcesses() {
  static SystemProcessAccess access;
  return access;
}

const std::vector<std::string>& KnownExecutables() {
  static const std::vector<std::string> kNames = {
      // Applications.
      "Showcase.exe", "Viewfinder.exe", "Savebox.exe", "Diskline.exe", "Shuttle.exe", "Clipcraft.exe",
      "Wavedesk.exe", "Burnline.exe", "Imagecrate.exe", "Slidemaker.exe", "Coverdesign.exe", "Labelprint.exe",
      "Castline.exe",
      // Their companions: tray programs, importers, renderers.
      "ShowcaseTray.exe", "ViewfinderImport.exe", "SaveboxTray.exe", "SaveboxAgent.exe", "ShuttleHelper.exe",
      "ClipcraftRender.exe", "BurnlineEngine.exe",
      // Background servers and services.
      "ShowcaseService.exe", "SaveboxService.exe", "DisklineService.exe", "BurnlineService.exe",
      "OrvoMediaIndexer.exe", "OrvoDeviceService.exe", "OrvoDeviceMonitor.exe", "OrvoLicenseService.exe",
      "OrvoSyncService.exe", "OrvoUpdateService.exe",
      // Launcher and hub.
      "OrvoLauncher.exe", "OrvoStart.exe",
      // Helper programs.
      "OrvoUpdater.exe", "OrvoInfo.exe", "infoagent.exe", "OrvoCrashReporter.exe", "OrvoFeedback.exe",
      "OrvoNotifier.exe", "OrvoCodecHelper.exe", "OrvoWebHelper.exe",
  };
  return kNames;
}

// Linux opens every process of our own user without a privilege, and has none to adjust for others.
bool EnableDebugPrivilege() { return true; }

std::string_view FindVersionResource(std::string_view image) {
  return platform::FindVersionResource(image).value_or(std::string_view());
}

std::string RawCompanyText(std::string_view resource) {
  // "CompanyName", its NUL and one alignment unit: the value starts 26 bytes after the match.
  const std::size_t at = resource.find(platform::Utf16LeBytes(u"Compan"));
  if (at == std::string_view::npos) return {};
  return Utf16Text(resource, at + 26, 7);
}

std::string QueryCompanyName(std::string_view resource) {
  static constexpr std::array<const char*, 5> kBlocks = {"000004b0", "040704b0", "040904b0", "040904e4", "040C04b0"};
  for (const char* language : kBlocks) {
    const std::optional<std::string> company = platform::QueryVersionString(resource, language, "CompanyName");
    if (company && !company->empty()) return *company;
  }
  return {};
}

RunningAppList::RunningAppList(ProcessAccess& access, std::vector<std::string> known)
    : access_(access), known_(std::move(known)) {}

bool RunningAppList::IsKnown(std::string_view base_name) const {
  for (const std::string& name : known_) {
    if (platform::EqualsNoCase(name, base_name)) return true;
  }
  return false;
}

bool RunningAppList::IsSuiteApplication(std::uint32_t id, std::string_view base_name) const {
  if (!IsKnown(base_name)) return false;
  const std::string path = access_.ImagePath(id);
  if (!path.empty()) {
    const std::optional<std::string> image = platform::fs::ReadFile(path);
    const std::string_view resource = image ? FindVersionResource(*image) : std::string_view();
    if (!resource.empty() && (NamesOrvo(RawCompanyText(resource)) || NamesOrvo(QueryCompanyName(resource)))) {
      return true;
    }
  }
  log::Debug("Check is Orvo application failed: %s", std::string(base_name).c_str());
  return false;
}

void RunningAppList::FindRunningApplications() {
  found_.clear();
  for (std::uint32_t id : access_.ProcessIds()) {
    std::string name = access_.BaseName(id);
    if (!name.empty() && IsSuiteApplication(id, name)) found_.push_back(std::move(name));
  }
}

void RunningAppList::SendStopCommands() const {
  for (std::uint32_t id : access_.ProcessIds()) {
    const std::string path = access_.ImagePath(id);
    if (path.empty()) continue;
    if (path.size() > kTransferApplication.size() && platform::EndsWithNoCase(path, kTransferApplication)) {
      log::Debug("Found the transfer application: %s", path.c_str());
      StartStopCommand(path, " /stop");
      continue;
    }
    const GracefulStop* stop = GracefulStopFor(access_.BaseName(id));
    if (stop == nullptr) continue;
    const std::optional<platform::FixedFileVersion> version = platform::ReadFixedFileVersion(path);
    if (version && stop->quits(Parts(*version))) StartStopCommand(path, stop->switch_text);
  }
}

void RunningAppList::TerminateSuiteApplications() const {
  const std::uint32_t self = platform::CurrentProcessId();
  for (std::uint32_t id : access_.ProcessIds()) {
    if (id == self) continue;  // never the installer itself
    const std::string name = access_.BaseName(id);
    if (name.empty() || !IsSuiteApplication(id, name)) continue;
    log::Debug("Terminal Orvo Application = %s", name.c_str());
    access_.Terminate(id, 0, kTerminateWaitMs);
  }
}

std::string RunningAppList::Name(std::size_t index) const {
  return index < found_.size() ? found_[index] : std::string();
}

ClosePromptResult RunCloseApplicationsPrompt(RunningAppList& list, CloseApplicationsPrompt& prompt) {
  EnableDebugPrivilege();  // a failure only means that some processes are passed over
  list.FindRunningApplications();
  if (list.Count() == 0) return {kPromptGoOn, false};
  ClosePromptResult outcome;
  for (;;) {
    const CloseChoice choice = prompt.Ask(list.Found());
    if (choice == CloseChoice::kCancel) {
      outcome = {kPromptCancelled, false};
      break;
    }
    if (choice == CloseChoice::kCloseAutomatically) {
      outcome = {kPromptGoOn, true};
      break;
    }
    EnableDebugPrivilege();
    list.FindRunningApplications();
    if (list.Count() == 0) {
      outcome = {kPromptGoOn, false};
      break;
    }
  }
  prompt.Close();
  return outcome;
}

bool CheckRunningApplications(CloseApplicationsPrompt& prompt, ProcessAccess& access) {
  RunningAppList list(access);
  const ClosePromptResult outcome = RunCloseApplicationsPrompt(list, prompt);
  if (outcome.result != kPromptGoOn) return false;
  if (outcome.automatic) {
    list.SendStopCommands();
    list.TerminateSuiteApplications();  // at once: the stop commands are not waited for
  }
  return true;
}

}  // namespace orvo::sys

// The steps of a zip package: whether it applies to this machine, its download, and its install step with
// the shortcuts it asks for.
#include "app/log.h"
#include "plan/plan_builder.h"
#include "plan/section_values.h"
#include "platform/text.h"

namespace orvo::plan {

namespace {

constexpr std::int32_t kZipInterval = 160;

// "name-and-path,target" or a bare name-and-path whose target is the main file.
void AddShortcut(const std::string& value, const std::string& main_file, InstallData& data) {
  const std::size_t comma = value.find(',');
  const std::string name = comma == std::string::npos ? value : value.substr(0, comma);
  const std::string target = comma == std::string::npos ? main_file : value.substr(comma + 1);
  // A shortcut without a name has no file to be made as; it counts as not given.
  if (name.empty()) return;
  data.Shortcuts[name] = target;
}

}  // namespace

std::string PlanBuilder::WindowsGeneration() const {
  const std::uint32_t major = inputs_.windowsMajor;
  const std::uint32_t minor = inputs_.windowsMinor;
  if (major >= 10) return "10";
  if (major == 6 && minor >= 2) return "8";
  if (major == 6 && minor == 1) return "7";
  return "6";
}

bool PlanBuilder::SkippedByMachine(const Section& section) const {
  const std::string arch = section.Get("arch");
  if (!inputs_.windows64 && (section.IsYes("is64BitOnly") || arch == "x64")) return true;
  if (inputs_.windows64 && arch == "x86") return true;
  const std::string unsupported = section.Get("unsupportedos");
  if (unsupported.empty()) return false;
  const std::string generation = WindowsGeneration();
  for (const std::string& entry : platform::Split(unsupported, ',')) {
    if (entry == generation) return true;
  }
  return false;
}

void PlanBuilder::AddShortcuts(const Section& section, InstallData& data) const {
  if (data.NoShortcut || !(inputs_.createDesktopShortcuts || data.CreateShortcut || data.StartMenu)) return;
  const std::string main_file = section.Get("mainfile");
  for (const std::string& value : section.Chain("shortcutnameandpath")) AddShortcut(value, main_file, data);
  if (!data.Shortcuts.empty()) return;
  std::string name = section.Get("displayname");
  if (name.empty()) name = section.Get("uninstallid");
  if (!name.empty()) data.Shortcuts[name] = main_file;
}

std::vector<PlanStep> PlanBuilder::GetUnzipAction(const Section& section) const {
  std::vector<PlanStep> steps;
  if (SkippedByMachine(section)) return steps;
  const std::string url = section.Get("url");
  log::Debug("Pending unzip action file path :%s ", url.c_str());
  const Location location = LocateFile(section, true);
  const bool top_level = !section.IsYes("subaction");
  if (location.download) {
    PlanStep download = PackageDownloadStep(section);
    download.download_data.SystemComponents = section.IsYes("systemcomponents");
    download.download_data.OrvoComponents = section.IsYes("orvocomponents");
    if (const std::string* md5 = section.Find("md5")) {
      log::Debug("GetUnzipAction download_data fileName:%s md5:%s \r\n", section.Get("filename").c_str(),
                 md5->c_str());
    }
    if (!Filtered(section, top_level)) {
      steps.push_back(std::move(download));
      log::Debug("Add download action :%s ", url.c_str());
    }
  }
  PlanStep step(StepType::PackageInstall);
  step.id = section.Get("id");
  InstallData& i = step.install_data;
  i.ProgressInterval = kZipInterval;
  i.UpdateType = "setup";
  i.Name = section.Get("filename");
  i.Md5 = section.Get("md5");
  i.FilePath = location.filePath;
  i.DisplayName = section.Get("displayname");
  i.uninstallId = section.Get("uninstallid");
  i.InstallType = InstallKind::ZipPackage;
  i.InstallFolder = BackslashPath(section.Get("installfolder"));
  i.CheckVersion = section.IsYes("checkversion");
  i.TopLevel = top_level;
  i.IsPrerequisite = section.IsYes("isPrerequisite");
  i.checkVersionFile = section.Get("mainfile");
  i.version = section.Get("version");
  i.CommandLineParameter = section.Get("parameter");
  i.preexecfile = section.Get("preexecfile");
  i.RegisterUninstall = !section.IsYes("notuninstall");
  const std::string shortcut = section.Get("shortcut");
  i.CreateShortcut = shortcut.find("yes") != std::string::npos;
  if (shortcut.find(',') != std::string::npos) i.ShortcutOptions = platform::Split(shortcut, ',');
  i.HasUrlShortcuts = section.Has("urlshortcutnameandpath");
  i.SystemComponents = section.IsYes("systemcomponents");
  i.OrvoComponents = section.IsYes("orvocomponents");
  i.NoShortcut = section.IsYes("noshortcut");
  i.StartMenu = section.IsYes("startmenu");
  if (i.StartMenu) {
    i.StartMenuFolder = section.Get("startmenufolder");
    i.AppUserModelId = section.Get("appusermid");
    i.ActivatorId = section.Get("activatorid");
  }
  i.DownloadFirst = location.download;
  AddShortcuts(section, i);
  if (i.HasUrlShortcuts) {
    for (const std::string& value : section.Chain("urlshortcutnameandpath")) {
      if (!value.empty()) i.UrlShortcuts.push_back(value);
    }
  }
  if (!Filtered(section, top_level)) steps.push_back(std::move(step));
  return steps;
}

}  // namespace orvo::plan

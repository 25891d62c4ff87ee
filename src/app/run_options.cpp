#include "app/run_options.h"

#include <cctype>
#include <climits>

#include <nlohmann/json.hpp>

#include "plan/install_selection.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvo::app {

namespace {

enum class Option {
  kDaemon, kUninstall, kInstall, kAcceptEula, kAutoUpdate, kAppTracking, kSilent, kInstallPath, kNoExt,
  kNoDesktopShortcut, kNoSelfUpdate, kNoMutexCheck, kInstallId, kExcludeApp, kNone,
};

struct OptionName {
  const char* name;
  Option option;
  bool takes_value;
};

// In the order they are tested; the first match wins.
constexpr OptionName kOptions[] = {
    {"daemon", Option::kDaemon, true},
    {"uninstall", Option::kUninstall, true},
    {"install", Option::kInstall, true},
    {"accepteula", Option::kAcceptEula, false},
    {"autoupdate", Option::kAutoUpdate, false},
    {"apptracking", Option::kAppTracking, false},
    {"silent", Option::kSilent, false},
    {"installpath", Option::kInstallPath, true},
    {"noext", Option::kNoExt, false},
    {"nodesktopshortcut", Option::kNoDesktopShortcut, false},
    {"noselfupdate", Option::kNoSelfUpdate, false},
    {"nomutexcheck", Option::kNoMutexCheck, false},
    {"installid", Option::kInstallId, true},
    {"excludeapp", Option::kExcludeApp, true},
};

// "/silent", "silent" and, on Linux, "-silent" and "--silent" name the same option.
std::string_view WithoutPrefix(std::string_view argument) {
  if (argument.substr(0, 2) == "--") return argument.substr(2);
  if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) return argument.substr(1);
  return argument;
}

const OptionName* Match(std::string_view argument) {
  const std::string_view name = WithoutPrefix(argument);
  for (const auto& option : kOptions) {
    if (platform::EqualsNoCase(name, option.name)) return &option;
  }
  return nullptr;
}

// _wtoi: leading blanks, a sign and the leading digits; anything else gives 0.
platform::WindowHandle ParseHandle(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > (std::uint64_t{1} << 62)) return platform::kNoWindow;  // no window has such a handle
  }
  return negative ? platform::kNoWindow : value;
}

void AddExcludedApps(std::string_view value, std::vector<std::string>& excluded_apps) {
  for (const auto& piece : platform::Split(value, ',')) {
    if (piece.empty()) continue;
    std::string name = platform::LowerCase(piece);
    if (name.rfind("orvo", 0) != 0) name = "orvo" + name;
    excluded_apps.push_back(std::move(name));
  }
}

}  // namespace

RunOptions& Options() {
  static RunOptions options;
  return options;
}

void ParseArguments(const std::vector<std::string>& arguments, RunOptions& options,
                    std::vector<std::string>& excluded_apps) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const OptionName* match = Match(arguments[i]);
    if (match == nullptr) continue;
    const bool has_value = i + 1 < arguments.size();
    if (match->takes_value && !has_value) {
      if (match->option == Option::kDaemon) {
        options.silent = true;
        options.daemon = true;
        options.selfUpdate = false;
        options.acceptEula = true;
      }
      break;  // a missing value ends the scan
    }
    const std::string value = match->takes_value ? arguments[++i] : std::string();
    switch (match->option) {
      case Option::kDaemon:
        options.silent = true;
        options.daemon = true;
        options.acceptEula = true;
        options.hostWindow = ParseHandle(value);
        break;
      case Option::kUninstall:
        options.selfUpdate = false;
        options.uninstall = true;
        options.product = value;
        break;
      case Option::kInstall:
        options.uninstall = false;
        options.product = value;
        break;
      case Option::kAcceptEula: options.acceptEula = true; break;
      case Option::kAutoUpdate: options.autoUpdate = true; break;
      case Option::kAppTracking: options.appTracking = true; break;
      case Option::kSilent: options.silent = true; break;
      case Option::kInstallPath: options.installPath = value; break;
      case Option::kNoExt: options.useExtension = false; break;
      case Option::kNoDesktopShortcut: options.noDesktopShortcut = true; break;
      case Option::kNoSelfUpdate: options.selfUpdate = false; break;
      case Option::kNoMutexCheck: options.mutexCheck = false; break;
      case Option::kInstallId: options.installId = value; break;
      case Option::kExcludeApp: AddExcludedApps(value, excluded_apps); break;
      case Option::kNone: break;
    }
  }
  if (options.silent) {
    options.selfUpdate = false;
    options.acceptEula = true;
  }
  if (options.uninstall) options.selfUpdate = false;
}

void ReadStartInfo(platform::Clipboard& clipboard, RunOptions& options) {
  const auto text = clipboard.ReadText();
  if (!text) return;
  nlohmann::json doc = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return;
  const auto tag = doc.find("howtoTag");
  if (tag == doc.end() || !tag->is_string() || tag->get<std::string>() != "5F2EC3F8-5366-38E5-ECF4-74CD82746943") {
    return;
  }
  const auto take = [&](const char* name, std::string& out) {
    const auto it = doc.find(name);
    if (it != doc.end() && it->is_string()) out = it->get<std::string>();
  };
  take("appName", options.howToAppName);
  take("usecaseId", options.howToUseCaseId);
  take("startApp", options.howToStartApp);
  clipboard.Empty();
}

void ParseCommandLine() {
  RunOptions& options = Options();
  ParseArguments(platform::SplitCommandLine(platform::OwnCommandLine()), options, plan::Selection().ExcludedApps);
  if (!options.silent && !options.uninstall && platform::Installed()) {
    ReadStartInfo(*platform::Current().clipboard, options);
  }
}

InstallerIdTraits::InstallerIdTraits(std::string_view install_id) {
  const std::string id = platform::LowerCase(install_id);
  const auto has = [&](const char* part) { return id.find(part) != std::string::npos; };
  installationSettingsOffered = has("orvo365") || has("orvo20");
  hubOnly = has("didireza");
  benchmark = has("vurivirav");
  managedDeployment = has("vl");
}

std::string ConfigurationId(std::string_view install_id) {
  return std::string(install_id.substr(0, install_id.find('_')));
}

bool OffersDesktopShortcutBox(const RunOptions& options) {
  return !InstallerIdTraits(options.installId).hubOnly && !options.silent && !options.daemon && !options.uninstall;
}

std::string ConsoleAnswer(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--version") return std::string(kInstallerVersion) + "\n";
    if (arguments[i] == "--help") {
      return "Usage: OrvoInstaller.exe [options]\n"
             "Options (written with \"/\", \"-\", \"--\" or without a prefix; any letter case):\n"
             "  /install <product>        install a product, a product list or \"all\"\n"
             "  /uninstall <product>      remove a product, a product list or \"all\"\n"
             "  /silent                   no window; every question takes its default answer\n"
             "  /daemon <window>          host mode: report progress to the host window\n"
             "  /accepteula               start installing without waiting for the user\n"
             "  /installpath <folder>     install folder\n"
             "  /installid <id>           installer id (default uqe9137)\n"
             "  /excludeapp <a,b,...>     applications not to install\n"
             "  /noext                    no file associations\n"
             "  /nodesktopshortcut        no desktop shortcuts\n"
             "  /noselfupdate             no self-update check\n"
             "  /nomutexcheck             no single-instance check\n"
             "  /autoupdate, /apptracking recorded for the reports\n"
             "  --help, --version         this text; the installer's version\n"
             "Environment: ORVO_SYSTEM_ROOT names the folder that is drive C:.\n";
    }
  }
  return {};
}

}  // namespace orvo::app

#include "flow/completion.h"

#include <cstddef>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "deploy/installed_products.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_drive.h"
#include "platform/win_types.h"
#include "system/deployment.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

using Json = nlohmann::ordered_json;  // keeps the hub's member order when the file is written back

// The launch file is looked for in the base folder and five levels of sub-folders below it.
constexpr int kLaunchSearchDepth = 6;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kHubLauncherName = "OrvoLauncher.exe";

// Never throws: text that is not valid UTF-8 is written with replacement characters.
std::string DumpCompact(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ShellOpen(const std::string& file, const std::string& parameters) {
  platform::ShellRequest request;
  request.verb = "open";
  request.file = file;
  request.parameters = parameters;
  request.hidden = false;
  return platform::ShellExecute(request).Succeeded();
}

}  // namespace

std::string HubSettingsPath() {
  return platform::JoinPath(platform::Drive().KnownFolderPath(platform::KnownFolder::kProgramData),
                            "Orvo\\Orvo Start\\Settings.json");
}

bool UpdateHubSettings(std::string_view install_folder) {
  if (install_folder.empty()) return false;  // an empty path would leave the hub pointing nowhere
  const std::string path = HubSettingsPath();
  const std::optional<std::string> text = platform::fs::ReadFile(path);
  if (!text) return false;
  Json document = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded() || !document.is_object()) return false;
  const auto member = document.find("installPath");
  if (member == document.end() || !member->is_string()) return false;
  *member = std::string(install_folder);
  const std::string_view bom = std::string_view(*text).starts_with(kUtf8Bom) ? kUtf8Bom : std::string_view();
  const std::string bytes = std::string(bom) + DumpCompact(document);
  // Through a temporary file beside it and a rename: the hub never reads half a document.
  return platform::fs::WriteFileAtomic(path, bytes) == platform::error::kSuccess;
}

std::string FindLaunchFile(std::string_view base_folder, std::string_view launch_file) {
  if (base_folder.empty() || launch_file.empty()) return {};  // an empty name would match every file
  std::vector<std::string> found;
  sys::FindFiles(base_folder, launch_file, kLaunchSearchDepth, found, false, false);
  return sys::NewestFile(found);
}

std::string LaunchSearchFolder(std::string_view install_folder, std::string* location_read) {
  const std::string location = deploy::GetInstallLocation("Orvo Common");
  if (location_read != nullptr) *location_read = location;
  return sys::FolderExists(location) ? location : std::string(install_folder);
}

std::string LauncherArguments(const HowToStart& how_to) {
  // Built as JSON so that quotes or backslashes in the values stay inside their strings.
  Json arguments = Json::object();
  arguments["type"] = "open";
  arguments["page"] = "open";
  arguments["appid"] = "";
  arguments["appName"] = how_to.appName;
  arguments["usecaseId"] = how_to.useCaseId;
  arguments["startApp"] = how_to.startApp;
  // The JSON's quotes make the argument one that is always quoted, by the command-line rules.
  return platform::QuoteArgument("--ns-arguments=" + DumpCompact(arguments));
}

bool LaunchApplication(const std::string& path, const HowToStart& how_to) {
  if (path.empty() || !sys::FileExists(path)) return false;
  if (!how_to.appName.empty() && path.find(kHubLauncherName) != std::string::npos) {
    return ShellOpen(path, LauncherArguments(how_to));
  }
  return ShellOpen(path, {});
}

std::string ProductPageUrl(ProductPage page) {
  const char* query = "/link.php?to=153998414";
  switch (page) {
    case ProductPage::kGeneral:
      query = "/link.php?to=153998414";
      break;
    case ProductPage::kInstall:
      query = "/link.php?to=153998094";
      break;
    case ProductPage::kContent:
      query = "/link.php?to=153998413";
      break;
  }
  return sys::RedirectServiceBase() + query;
}

std::optional<ProductPage> CompletedRunPage(bool uninstall, const std::string& product) {
  if (!uninstall) return ProductPage::kInstall;
  for (const char* content : {"Orvo Content", "Themes", "Orvo Common"}) {
    if (product.find(content) != std::string::npos) return ProductPage::kContent;
  }
  return std::nullopt;
}

void OpenProductPage(ProductPage page) { ShellOpen(ProductPageUrl(page), {}); }

}  // namespace orvo::flow

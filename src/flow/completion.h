// What the completion button needs: the product to start (by application number or by launch file), how
// it is started, the hub's settings file and the product pages of the redirect service.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvo::flow {

// The hub's settings: ProgramData\Orvo\Orvo Start\Settings.json.
std::string HubSettingsPath();
// When the file holds a JSON object whose "installPath" is a string, that member becomes install_folder
// and the document is written back (through a temporary file and a rename; other members and their order
// kept); anything else, or an empty install_folder, leaves it untouched. True when the file was rewritten.
bool UpdateHubSettings(std::string_view install_folder);

// The six-level search for the launch file: below base_folder (its own entries are level 1, six levels in
// all), files whose names end in launch_file without regard to case; the one created last. Empty when
// none, also for an empty launch_file. Logs nothing.
std::string FindLaunchFile(std::string_view base_folder, std::string_view launch_file);
// The base folder of that search: "InstallLocation" of the "Orvo Common" uninstall entry when it names an
// existing folder, else install_folder. location_read gets the value read (possibly empty).
std::string LaunchSearchFolder(std::string_view install_folder, std::string* location_read = nullptr);

// The start information of a how-to page, handed to the hub's launcher.
struct HowToStart {
  std::string appName;
  std::string useCaseId;
  std::string startApp;
};
// The launcher's one argument: "--ns-arguments=" with the JSON object, quotes escaped, the whole quoted.
// The values are escaped as JSON strings first, so a quote or backslash in them cannot end the argument.
std::string LauncherArguments(const HowToStart& how_to);
// LaunchApplication: nothing for an empty path or a file that does not exist; the launcher with the
// how-to arguments when how_to.appName is set and the path contains "OrvoLauncher.exe" (case matters);
// else the program without arguments, shown normally. True when something was started.
bool LaunchApplication(const std::string& path, const HowToStart& how_to);

enum class ProductPage { kGeneral, kInstall, kContent };
// The page after a completed run: the install page after an install; after a removal the content page when
// the product list names content ("Orvo Content", "Themes" or "Orvo Common"), else none.
std::optional<ProductPage> CompletedRunPage(bool uninstall, const std::string& product);
// The redirect service's address of the page ("/link.php?to=...").
std::string ProductPageUrl(ProductPage page);
// Opens the page in the default browser; a failure is not reported.
void OpenProductPage(ProductPage page);

}  // namespace orvo::flow

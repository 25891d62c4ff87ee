// Host mode: the reports the installer sends to the host's window and the commands it takes from there,
// both as copy data (kind, UTF-8 text) between the two windows.
#pragma once

#include <optional>
#include <string>

#include "plan/plan_model.h"
#include "platform/copy_data.h"
#include "platform/win_types.h"

namespace orvo::app {

// Report status codes (the copy-data kind of a report).
namespace host_status {
inline constexpr int kWaitingForCommands = 1;
inline constexpr int kRunEnding = 2;
inline constexpr int kNothingToDo = 3;
inline constexpr int kDownloadStarted = 4;
inline constexpr int kDownloadProgress = 5;
inline constexpr int kDownloadDone = 6;
inline constexpr int kProductDropped = 7;
inline constexpr int kInstallStarted = 8;
inline constexpr int kInstallSucceeded = 10;
inline constexpr int kInstallFailed = 11;
inline constexpr int kUninstallStarted = 12;
inline constexpr int kUninstallSucceeded = 14;
inline constexpr int kUninstallFailed = 15;
}  // namespace host_status

// Command codes (the copy-data kind of a command).
namespace host_command {
inline constexpr std::uint64_t kSettings = 1;
inline constexpr std::uint64_t kFinish = 2;
inline constexpr std::uint64_t kInstallProducts = 3;
inline constexpr std::uint64_t kUninstallProducts = 4;
}  // namespace host_command

// The report's text: compact JSON with the members in alphabetical order ("id", "installError",
// "progress"); empty when the step has no id. installError appears when error is non-zero.
std::string HostReportText(const std::string& id, std::optional<int> progress, int error);

// ReportToHost. Sends synchronously from the main window's thread: a host that blocks blocks the caller.
class HostReporter {
 public:
  HostReporter(platform::WindowHandle main_window, bool host_mode, platform::WindowHandle host_window);

  // Nothing unless host mode is on and the host window still exists. progress is used with status 5 only;
  // the text is sent only for a step with a non-empty id.
  void ReportToHost(int status, const plan::PlanStep* step, int progress = 0, int error = 0);

  bool HostMode() const { return host_mode_; }

 private:
  platform::WindowHandle main_window_;
  bool host_mode_;
  platform::WindowHandle host_window_;
};

// What the host's commands do to the run; the install controller implements it.
class HostCommandSink {
 public:
  virtual ~HostCommandSink() = default;
  virtual void SetInstallFolder(const std::string& folder) = 0;
  virtual void SetLaunchFile(const std::string& file) = 0;
  // Appends a Finish step to the plan.
  virtual void AppendFinishStep() = 0;
  // The plan builder's install-by-product (uninstall) form on the list; appends its steps and returns how
  // many there were.
  virtual int AppendInstallProducts(const std::string& list) = 0;
  virtual int AppendUninstallProducts(const std::string& list) = 0;
  // Dispatches the next step unless one is in flight.
  virtual void DispatchIfIdle() = 0;
};

// The main window's WM_COPYDATA handling: nothing outside host mode; otherwise runs the command, then lets
// the controller dispatch. Unknown commands do nothing at all.
void HandleHostCommand(bool host_mode, const platform::CopyData& data, HostCommandSink& sink,
                       HostReporter& reporter);

}  // namespace orvo::app

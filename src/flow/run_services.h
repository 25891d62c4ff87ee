// The install controller's collaborators outside the flow itself: usage events, the install statistic,
// the environment snapshot, the problem report's ticket, the self-update check, the deploy workers and
// the computer restart. Each is an interface with a default that the later subsystems replace; the
// defaults do nothing beyond what they say, so the flow runs end to end before those subsystems exist.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "deploy/installer_runner.h"
#include "flow/controller_ids.h"
#include "net/http_types.h"
#include "plan/plan_model.h"
#include "platform/message_loop.h"

namespace orvo::flow {

class AnalyticsTracker {
 public:
  virtual ~AnalyticsTracker() = default;
  virtual void Event(std::string_view /*name*/) {}
  virtual void ScreenView(std::string_view /*name*/) {}
  virtual void ApplicationClosing() {}
};

// What the install statistic is told during the run.
enum class StatisticNote {
  kConfigurationFromWeb,
  kDownloadSucceeded,
  kDownloadFailed,
  kStepFinished,
  kStepFailed,
  kCancelled,
};

class InstallStatistic {
 public:
  virtual ~InstallStatistic() = default;
  // The run's kind (install unless uninstall), installer id and product; the statistic itself keeps
  // silent runs and managed-deployment ids out.
  virtual void Begin(bool /*install*/, const std::string& /*install_id*/, const std::string& /*product*/) {}
  virtual void Note(StatisticNote /*note*/) {}
  virtual void Send() {}
};

// The user's choices the snapshot remembers for the suite's other programs.
struct UserChoices {
  std::string installFolder;
  bool usageStatistics = true;
  bool fileAssociations = true;
  bool desktopShortcuts = false;
  bool interactive = false;
};

class EnvironmentSnapshot {
 public:
  virtual ~EnvironmentSnapshot() = default;
  virtual void WriteToLog() {}
  virtual void RememberChoices(const UserChoices& /*choices*/) {}
};

class ProblemReport {
 public:
  virtual ~ProblemReport() = default;
  // The ticket request for the report's texts and archive (job type 4 is set by the caller); nothing when
  // no ticket can be made, which the controller reports like a failed ticket.
  virtual std::optional<net::FCHttpRequestInfo> TicketRequest(const plan::ReportData& /*report*/,
                                                              const std::string& /*archive*/) {
    return std::nullopt;
  }
};

// The check for a newer installer. It answers by posting the self-update messages to the window; without
// an update service it answers "not needed" at once.
class SelfUpdate {
 public:
  virtual ~SelfUpdate() = default;
  virtual void StartCheck(platform::MessageLoop& loop, platform::WindowHandle window, bool /*switch_pages*/) {
    loop.Post(window, msg::kSelfUpdateNotNeeded);
  }
};

// The deploy workers: each starts its thread and posts exactly one WM_INSTALL_RESULT through post.
class StepWorkers {
 public:
  virtual ~StepWorkers() = default;
  // A zip package, or any other install kind (the installer runner).
  virtual std::thread StartInstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post);
  virtual std::thread StartUninstall(const deploy::InstallerRunInputs& inputs, deploy::PostResult post);
};

class ComputerRestart {
 public:
  virtual ~ComputerRestart() = default;
  // A planned restart for an application installation, with the shutdown privilege enabled first.
  virtual void Restart();
};

// The set the controller is built with; every member is set (the defaults above unless replaced).
struct RunServices {
  std::shared_ptr<AnalyticsTracker> analytics = std::make_shared<AnalyticsTracker>();
  std::shared_ptr<InstallStatistic> statistic = std::make_shared<InstallStatistic>();
  std::shared_ptr<EnvironmentSnapshot> snapshot = std::make_shared<EnvironmentSnapshot>();
  std::shared_ptr<ProblemReport> report = std::make_shared<ProblemReport>();
  std::shared_ptr<SelfUpdate> selfUpdate = std::make_shared<SelfUpdate>();
  std::shared_ptr<StepWorkers> workers = std::make_shared<StepWorkers>();
  std::shared_ptr<ComputerRestart> restart = std::make_shared<ComputerRestart>();
};

}  // namespace orvo::flow

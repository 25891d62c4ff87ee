// The worker that runs one installer program (an MSI package, a setup program or a runtime
// redistributable), waits for it without a time limit and forwards its exit code to the controller. Judging
// the code (success, restart, error texts) is the install step's business, not this worker's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "plan/plan_model.h"

namespace orvo::deploy {

// The one MSI package that is told its target folder on the command line.
inline constexpr std::string_view kTargetDirUpgradeCode = "{55CC0C0C-3340-46ED-9A4E-CE746FB2A0FB}";
// A runtime redistributable answers 1638 when a newer runtime is already there: that is success.
inline constexpr std::int32_t kRuntimeAlreadyInstalled = 1638;
// The controller's `phase` while it works through the plan.
inline constexpr int kPhaseWorking = 1;

// What the worker reads from the controller when it starts: a copy of the current step, the suite's folder
// and the controller's phase.
struct InstallerRunInputs {
  plan::PlanStep step;
  std::string install_folder;
  int phase = 0;
};

// Posts WM_INSTALL_RESULT to the main window (the controller binds it to its message loop).
using PostResult = std::function<void(std::uintptr_t wparam, std::intptr_t lparam)>;

// Thread entry; returns 0 and posts exactly once. lParam: 0 for a step marked `AlreadyInstalled` (nothing
// runs), -1 when `FilePath` is not an existing file, the system error when the shell cannot start it, else
// the exit code of the last run (1638 of a VC runtime redistributable counted as 0). A non-empty
// `RepairParameter` makes a second run after the first, whatever the first returned.
int InstallThreadProc(const InstallerRunInputs& inputs, const PostResult& post);

}  // namespace orvo::deploy

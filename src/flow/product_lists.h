// The housekeeping of the two application file lists the install start tidies (keys "61" and "157" under
// the "orvopack" key): entries of removed programs go, and old copies of one program get their task
// created again.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orvo::flow {

// Versions up to this one of the programs listed under "157" need their task created by the installer.
inline constexpr std::string_view kTaskProgramMaxVersion = "24.5.1.8";

// Runs a command hidden and waits for it (RunHiddenCommand with wait).
using HiddenCommandRunner = std::function<void(const std::string& command)>;
HiddenCommandRunner WaitingHiddenCommand();

// "61": only when it holds more than one value, each value whose file is gone, or whose file's folder
// holds fewer than 5 entries, is deleted.
void CleanApplicationList61();
// "157": values whose file is gone are deleted; for every remaining file whose version is not newer than
// kTaskProgramMaxVersion, Info "create orvo info task, run : %s" and the quoted path + " -createtask" run.
void CleanApplicationList157(const HiddenCommandRunner& run = WaitingHiddenCommand());

}  // namespace orvo::flow

// Parts of the phase actions that tests drive with their own process table or processor: "taskkill" and
// the processor-dependent file replacement "checkfrsdk" (RunPhase uses the machine's).
#pragma once

#include <string>
#include <vector>

#include "platform/system_profile.h"
#include "system/running_apps.h"

namespace orvo::script {

// "taskkill": terminates every process whose first module's base name equals one of the names exactly
// (letter case included), waiting up to a second for each. The installer's own process is never ended.
void KillProcesses(const std::vector<std::string>& names, sys::ProcessAccess& processes);

// SSE4.1 or SSE4.2, or SSE4a on a processor whose vendor text is "AuthenticAMD".
bool HasSse4Support(const platform::CpuInfo& cpu);

// Without SSE4 support: copies each existing data[i] over todata[i]; logs "invalid checkfrsdk item" and
// copies nothing when the lists differ in length. With SSE4 support: nothing.
void RunCheckFrSdk(const std::vector<std::string>& data, const std::vector<std::string>& todata,
                   const platform::CpuInfo& cpu);

}  // namespace orvo::script

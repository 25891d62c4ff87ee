// The actions of the phase lists ("beforeinstall", "afterinstall", "beforeuninstall", "afteruninstall").
// They do not depend on the direction: "regsvr32" in an uninstall phase registers as well.
#include "script/phase_actions.h"

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "script/hidden_command.h"
#include "script/script_context.h"
#include "system/file_helpers.h"
#include "system/registry_helpers.h"

namespace orvo::script {

namespace {

constexpr std::string_view kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

void RemovePaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (sys::FolderExists(path)) {
      sys::RemoveFolder(path);
    } else if (sys::FileExists(path)) {
      sys::DeletePath(path);  // resets the attributes first, so a read-only file goes too
    }
  }
}

void RegisterServers(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (sys::FileExists(path) && !RegisterComServer(path, false)) log::Info("failed to regsvr32 %s", path.c_str());
  }
}

void RunCommands(const std::vector<std::string>& commands) {
  for (const std::string& command : commands) RunHiddenCommand(command, true);
}

// The removal command of an uninstall entry whose display name is `name`: the first such entry with an
// uninstall string decides. Nothing when no entry matches or the deciding one is not an MSI product.
std::optional<std::string> UninstallCommandForName(const std::string& name) {
  for (const std::string& key : sys::ListSubKeys(platform::Hive::kLocalMachine, kUninstallKey)) {
    const std::string entry = std::string(kUninstallKey) + "\\" + key;
    std::string display_name;
    sys::ReadStringValue(platform::Hive::kLocalMachine, entry, "DisplayName", display_name);
    if (display_name.empty() || display_name != name) continue;
    std::string text;
    sys::ReadStringValue(platform::Hive::kLocalMachine, entry, "QuietUninstallString", text);
    if (text.empty()) sys::ReadStringValue(platform::Hive::kLocalMachine, entry, "UninstallString", text);
    if (text.empty()) continue;
    if (text.find("MsiExec.exe") != std::string::npos) {
      return text.find("/quiet") != std::string::npos ? text : text + " /quiet";
    }
    log::Info("Cannot find uninstall string including MsiExec.exe, ");
    return std::nullopt;
  }
  return std::nullopt;
}

// The command line is not cut to a fixed buffer: a cut line would run a different command.
void UninstallMsi(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    const std::optional<std::string> command =
        !entry.empty() && entry.front() == '{' ? std::optional<std::string>("MsiExec.exe /X" + entry + " /quiet")
                             : UninstallCommandForName(entry);
    if (!command) continue;
    platform::SpawnRequest request;
    request.command_line = *command;
    std::uint32_t error = platform::error::kSuccess;
    std::unique_ptr<platform::Process> process = platform::Current().launcher->Spawn(request, &error);
    std::uint32_t code = error;
    if (process) {
      process->Wait(platform::kInfinite);
      code = process->ExitCode();
    }
    log::Info("uninstallMSI %s, exit code: %d", entry.c_str(), static_cast<int>(code));
  }
}

void RunAction(const nlohmann::json& action, const ScriptContext& context) {
  const std::string name = platform::LowerCase(StringField(action, "name", context, true).value_or(std::string()));
  const std::vector<std::string> data = StringList(action, "data", context);
  if (data.empty()) return;
  if (name == "taskkill") {
    KillProcesses(data, sys::SystemProcesses());
  } else if (name == "fileremove") {
    RemovePaths(data);
  } else if (name == "regsvr32") {
    RegisterServers(data);
  } else if (name == "uninstallmsi") {
    UninstallMsi(data);
  } else if (name == "cmd") {
    RunCommands(data);
  } else if (name == "checkfrsdk") {
    RunCheckFrSdk(data, StringList(action, "todata", context), platform::ReadCpuInfo());
  }
}

}  // namespace

// A script that names the installer's own program would otherwise end the run that executes it.
void KillProcesses(const std::vector<std::string>& names, sys::ProcessAccess& processes) {
  const std::uint32_t self = platform::CurrentProcessId();
  for (std::uint32_t id : processes.ProcessIds()) {
    if (id == self) continue;
    const std::string base_name = processes.BaseName(id);
    if (base_name.empty()) continue;
    for (const std::string& name : names) {
      if (base_name != name) continue;
      log::Debug("Terminal Orvo Application = %s", base_name.c_str());
      processes.Terminate(id, 0, sys::kTerminateWaitMs);
      break;
    }
  }
}

bool HasSse4Support(const platform::CpuInfo& cpu) {
  return cpu.sse41 || cpu.sse42 || (cpu.vendor == "AuthenticAMD" && cpu.sse4a);
}

void RunCheckFrSdk(const std::vector<std::string>& data, const std::vector<std::string>& todata,
                   const platform::CpuInfo& cpu) {
  if (HasSse4Support(cpu)) return;
  if (data.size() != todata.size()) {
    log::Info("invalid checkfrsdk item");
    return;
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (sys::FileExists(data[i])) platform::fs::CopyFile(data[i], todata[i], true);  // failures not reported
  }
}

void RunPhase(const nlohmann::json& actions, const ScriptContext& context) {
  if (!actions.is_array()) return;
  for (const nlohmann::json& action : actions) {
    if (action.is_object()) RunAction(action, context);
  }
}

}  // namespace orvo::script

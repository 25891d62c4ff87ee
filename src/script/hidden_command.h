// The system commands that package script actions hand to Windows: a command line run hidden through the
// command interpreter, COM server registration through "regsvr32", and the restart of the Windows shell.
// The tools themselves are the system's; these functions build their command lines and start them.
#pragma once

#include <string>
#include <string_view>

namespace orvo::script {

// How long a waited-for command may run before the next one starts (it is left running).
inline constexpr unsigned kHiddenCommandWaitMs = 30000;

// The parameters handed to "cmd.exe": "/c " and the command in double quotes.
std::string HiddenCommandParameters(std::string_view command);

// Starts "cmd.exe" through the shell (verb "open", hidden) with HiddenCommandParameters(command).
// With wait: waits up to 30 s and returns the exit code (259 when the command has not ended); logs "run
// cmd: %s, ret: %d". Without wait: returns 1 at once. -1 when the interpreter cannot be started (logged).
int RunHiddenCommand(std::string_view command, bool wait);

// Asks the shell to run "regsvr32" (verb "runas", shown normally, not waited for) with "/s " or "/u /s "
// and the path in double quotes. False for an empty path, and for a shell failure (logged).
bool RegisterComServer(std::string_view path, bool unregister);

// Ends the Windows shell ("taskkill /f /im explorer.exe") and starts it again through the native command
// interpreter, with one more try after a second when the start fails.
void RelaunchShell();

}  // namespace orvo::script

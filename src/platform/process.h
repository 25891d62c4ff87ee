// Processes with Windows command lines. A command line is one string, split by the Windows rules
// (CommandLineToArgvW); its program is a Windows path that the layer maps to Linux. A program named
// "*.exe" is started whatever its mode bits: an ELF program directly, a "#!" script through its
// interpreter. "cmd.exe /c ..." runs through /bin/sh (a ".bat"/".cmd" script named first is run as a shell
// script with its arguments).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

// CommandLineToArgvW rules: blanks separate, double quotes group, 2n backslashes before a quote give n
// backslashes, 2n+1 give n and a literal quote, "" inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view command_line);
// The quoting that SplitCommandLine reverses (an argument is quoted only when it needs it).
std::string QuoteArgument(std::string_view argument);
std::string JoinCommandLine(const std::vector<std::string>& arguments);

struct SpawnRequest {
  std::string command_line;      // Windows command line; its first argument names the program
  std::string application;       // optional: the program (lpApplicationName), else taken from the line
  std::string working_folder;    // Windows path; empty: the current folder
  bool hidden = false;           // SW_HIDE / CREATE_NO_WINDOW: standard streams of the child go nowhere
};

// A started process (the process handle). Destroying it does not end the process.
class Process {
 public:
  virtual ~Process() = default;
  virtual std::uint32_t Id() const = 0;
  // WaitForSingleObject: kWaitObject0 when it ended, kWaitTimeout when the time ran out.
  virtual std::uint32_t Wait(std::uint32_t milliseconds) = 0;
  // GetExitCodeProcess: kStillActive (259) while it runs.
  virtual std::uint32_t ExitCode() = 0;
  virtual bool Terminate(std::uint32_t exit_code) = 0;
};

// Starts processes. The Linux one spawns; tests put a recording one in its place (platform.h).
class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // CreateProcess: the process, or null with a Windows error code (kFileNotFound when the program does not
  // exist).
  virtual std::unique_ptr<Process> Spawn(const SpawnRequest& request, std::uint32_t* error) = 0;
};
std::unique_ptr<ProcessLauncher> MakeLinuxProcessLauncher();

struct ProcessEntry {
  std::uint32_t id = 0;
  std::string image_name;  // "OrvoInstaller.exe", "setup.exe" for a script started under that name
  std::uint32_t threads = 0;
  std::uint32_t parent_id = 0;
  // QueryFullProcessImageName in Windows form: the script a "#!" interpreter runs, else the executable;
  // empty when it cannot be read (another user's process, a kernel thread).
  std::string image_path;
};
// CreateToolhelp32Snapshot over all processes of the machine, ordered by id.
std::vector<ProcessEntry> SnapshotProcesses();
// OpenProcess + TerminateProcess.
bool TerminateProcessById(std::uint32_t id, std::uint32_t exit_code);
std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

// The own executable in Windows form ("Z:\work\build\OrvoInstaller.exe"), empty when it cannot be read.
std::string OwnExecutablePath();
// The process's command line in Windows form: the arguments as given, joined with QuoteArgument.
std::string OwnCommandLine();
// Keeps the real arguments (called from main before anything else).
void SetProcessArguments(int argc, char** argv);

// Linux keeps only the low 8 bits of an exit status (3010 is seen as 194, -1 as 255). The whole Windows
// exit code is written, in decimal, to the file named by ORVO_EXIT_CODE_FILE when that is set, for hosts
// and tests that need it. Every child the launcher starts gets a file of its own there, and its exit code
// is read back from it when its low 8 bits agree with the exit status.
void ReportExitCode(int exit_code);

}  // namespace orvo::platform

// The suite's running applications: the check before an installation, which finds processes of the suite
// (a known executable name and the maker's company text in its version resource), asks the user whether
// to close them automatically or by hand, and stops them: a quit switch for the few applications that
// take one, then termination of every suite process still found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::sys {

// At most this many process ids of one snapshot are handled; the rest are ignored.
inline constexpr std::size_t kMaxProcessIds = 2048;
// How long a terminated process is waited for.
inline constexpr std::uint32_t kTerminateWaitMs = 1000;

// What the scans need of the machine's processes (toolhelp snapshot, OpenProcess, the module name and the
// image path, TerminateProcess). Tests put a fake in place of the system's.
class ProcessAccess {
 public:
  virtual ~ProcessAccess() = default;
  // A fresh snapshot: the non-zero process ids, at most kMaxProcessIds, in snapshot order.
  virtual std::vector<std::uint32_t> ProcessIds() = 0;
  // The base name of the process's first module; empty when it cannot be opened or its modules read.
  virtual std::string BaseName(std::uint32_t id) = 0;
  // The full path of the process's main module (Windows form); empty when it cannot be read.
  virtual std::string ImagePath(std::uint32_t id) = 0;
  // TerminateProcess with the exit code, then a wait of up to wait_ms for the process to end. False when
  // the process could not be terminated.
  virtual bool Terminate(std::uint32_t id, std::uint32_t exit_code, std::uint32_t wait_ms) = 0;
};

// The machine's processes through the platform layer.
ProcessAccess& SystemProcesses();

// The built-in table of the suite's 40 executable names (compared without regard to case). The installer
// itself is not in it: the check must never stop the process that makes it.
const std::vector<std::string>& KnownExecutables();

// SeDebugPrivilege for the current process, so that processes of other users and services can be opened.
// True when the adjustment succeeded.
bool EnableDebugPrivilege();

// The known executables and the suite applications found running (base names, in the order the processes
// were found; a program running twice is listed twice).
class RunningAppList {
 public:
  explicit RunningAppList(ProcessAccess& access = SystemProcesses(),
                          std::vector<std::string> known = KnownExecutables());

  // Empties the found list and fills it from a fresh snapshot.
  void FindRunningApplications();
  // The test of one process: its base name is a known executable and the company text of its main
  // module's version resource contains "ORVO" (in any letter case). Logs "Check is Orvo application
  // failed: %s" when a known name fails the company test.
  bool IsSuiteApplication(std::uint32_t id, std::string_view base_name) const;
  // Asks the applications that take a quit switch to quit (not waited for).
  void SendStopCommands() const;
  // Terminates every suite process (exit code 0), waiting up to a second for each.
  void TerminateSuiteApplications() const;

  std::size_t Count() const { return found_.size(); }
  // The name at index; empty outside the list.
  std::string Name(std::size_t index) const;
  const std::vector<std::string>& Found() const { return found_; }

 private:
  bool IsKnown(std::string_view base_name) const;

  ProcessAccess& access_;
  std::vector<std::string> known_;
  std::vector<std::string> found_;
};

// The company text of a version resource (the bytes GetFileVersionInfo returns, VS_VERSIONINFO first),
// read both ways the check uses: the 7 characters of the first "Compan..." value in the raw bytes, and the
// "CompanyName" of the first of the language blocks 000004b0, 040704b0, 040904b0, 040904e4, 040C04b0
// that has a non-empty one. Exposed for tests of damaged resources.
std::string RawCompanyText(std::string_view resource);
std::string QueryCompanyName(std::string_view resource);
// The version resource inside a PE image's bytes; empty when there is none.
std::string_view FindVersionResource(std::string_view image);

// The answer of the close-applications prompt.
enum class CloseChoice {
  kCloseAutomatically,  // OK with "Automatically close applications." selected
  kClosedManually,      // OK with "I already closed these applications manually." selected
  kCancel,              // Cancel, or the window closed
};

// The prompt (CProcessCheckDlg); the user interface provides it, the decision logic is below.
class CloseApplicationsPrompt {
 public:
  virtual ~CloseApplicationsPrompt() = default;
  // Shows the prompt modally with these names, automatic closing selected at first, or, when it is open
  // already, fills its list box again with them and keeps waiting; returns at OK or Cancel.
  virtual CloseChoice Ask(const std::vector<std::string>& applications) = 0;
  // The prompt has ended: its window goes.
  virtual void Close() {}
};

inline constexpr int kPromptGoOn = 1;      // IDOK
inline constexpr int kPromptCancelled = 2;  // IDCANCEL

struct ClosePromptResult {
  int result = kPromptCancelled;
  bool automatic = false;  // with kPromptGoOn: the applications are to be closed automatically
};

// Scans (EnableDebugPrivilege, FindRunningApplications) and asks while suite applications run: none
// found goes on at once; "closed manually" scans again and asks again while some are still found.
ClosePromptResult RunCloseApplicationsPrompt(RunningAppList& list, CloseApplicationsPrompt& prompt);

// The controller's check before an installation: true when the installation may start. With automatic
// closing chosen the applications are asked to quit and then, at once, terminated.
bool CheckRunningApplications(CloseApplicationsPrompt& prompt, ProcessAccess& access = SystemProcesses());

}  // namespace orvo::sys

// ShellExecute(Ex) with a verb, and the system's small services that have no better home: named mutex,
// message boxes, debugger output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace orvo::platform {

struct ShellRequest {
  std::string verb;        // "open", "runas", or empty
  std::string file;        // program, document, MSI package or URL
  std::string parameters;  // Windows command-line text
  std::string directory;   // Windows path, may be empty
  bool hidden = false;
  bool want_process = false;  // SEE_MASK_NOCLOSEPROCESS
};

struct ShellResult {
  // The HINSTANCE-style result: above 32 on success; 2 file not found, 31 no association, ...
  std::uintptr_t code = 0;
  std::uint32_t last_error = 0;       // GetLastError after a failure
  std::unique_ptr<Process> process;   // when asked for and a process was started
  bool Succeeded() const { return code > 32; }
};

// Programs ("*.exe", "*.bat", "*.cmd") go to the ProcessLauncher; a URL or another document goes to
// xdg-open when present; an MSI package goes to the command named by ORVO_MSI_HANDLER, else fails with
// "no association" (31 / kNoAssociation).
ShellResult ShellExecute(const ShellRequest& request);

// A named, process-wide mutex: an advisory lock file in the system root held until the object goes.
// CreateMutex semantics: the object always exists afterwards; Error() is kAlreadyExists when another
// process holds the name.
class NamedMutex {
 public:
  explicit NamedMutex(std::string_view name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  std::uint32_t Error() const { return error_; }

 private:
  int fd_ = -1;
  std::uint32_t error_ = 0;
};

// Message boxes and the debugger channel. Without a display a message box is written to standard error
// and answers with its default button; the user interface puts a windowed one in its place.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual int MessageBox(std::string_view text, std::string_view caption, std::uint32_t flags) = 0;
};
std::unique_ptr<UserInterface> MakeConsoleUserInterface();

// OutputDebugString: to standard error only while a debug viewer is attached (ORVO_DEBUG_OUTPUT set), so
// the log does not flood a terminal by default.
void DebugOutput(std::string_view text);
bool DebuggerAttached();

}  // namespace orvo::platform

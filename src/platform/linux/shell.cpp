// Shell execution, the named mutex, console message boxes and the debugger channel on Linux.
//
// We run with the rights we were given, so "runas" means the same as "open". Every process start goes
// through Current().launcher, so a recording launcher sees all of them.
#include "platform/shell.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::uintptr_t kShellStarted = 42;     // any value above 32 means success
constexpr std::uintptr_t kShellNoAssociation = 31;  // SE_ERR_NOASSOC

ShellResult Failure(std::uint32_t error, std::uintptr_t code) {
  ShellResult result;
  result.code = code;
  result.last_error = error;
  return result;
}

// The SE_ERR_* value of a start failure: the error itself where the two tables agree (2 not found,
// 3 path not found, 5 access denied, 8 out of memory, 11 bad format), else 0 (a failure of its own).
ShellResult StartFailure(std::uint32_t error) { return Failure(error, error > 0 && error <= 32 ? error : 0); }

ShellResult Start(const SpawnRequest& spawn, bool want_process) {
  std::uint32_t error = error::kSuccess;
  std::unique_ptr<Process> process = Current().launcher->Spawn(spawn, &error);
  if (!process) return StartFailure(error == error::kSuccess ? error::kFileNotFound : error);
  ShellResult result;
  result.code = kShellStarted;
  if (want_process) result.process = std::move(process);
  return result;
}

bool IsUrl(std::string_view file) {
  return StartsWithNoCase(file, "http://") || StartsWithNoCase(file, "https://") ||
         StartsWithNoCase(file, "mailto:");
}

std::string WindowsBaseName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string Extension(std::string_view file) {
  std::string name = WindowsBaseName(file);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : ToLowerAscii(name.substr(dot));
}

bool IsRelative(std::string_view path) {
  bool drive = path.size() >= 2 && path[1] == ':';
  return !drive && !path.empty() && path[0] != '\\' && path[0] != '/';
}

// The file as the shell sees it: a relative name is taken in the given directory when it is there.
std::string InDirectory(const std::string& file, const std::string& directory) {
  if (directory.empty() || !IsRelative(file)) return file;
  std::string joined = JoinPath(directory, file);
  std::error_code ec;
  return fs::exists(Current().drive.ToLinux(joined), ec) ? joined : file;
}

fs::path FindOnLinuxPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  for (const std::string& folder : Split(path, ':')) {
    fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Hands a URL or a document (a Linux path) to the desktop's opener, without waiting for it.
ShellResult OpenWithDesktop(const std::string& target, bool hidden) {
  fs::path opener = FindOnLinuxPath("xdg-open");
  if (opener.empty()) return Failure(error::kNoAssociation, kShellNoAssociation);
  SpawnRequest spawn;
  spawn.command_line = QuoteArgument(Current().drive.ToWindows(opener)) + " " + QuoteArgument(target);
  spawn.hidden = hidden;
  return Start(spawn, false);  // the opener ends at once; there is no process of the document to give
}

std::string ShellQuote(const std::string& text) { return "'" + ReplaceAll(text, "'", "'\\''") + "'"; }

// An MSI package goes to the handler command (a Linux command line) with the package's Linux path and the
// parameters after it, run by the shell: "/s" and the outer quotes make cmd pass the text on unchanged.
ShellResult OpenPackage(const ShellRequest& request, const std::string& file) {
  const char* handler = std::getenv("ORVO_MSI_HANDLER");
  if (handler == nullptr || *handler == '\0') return Failure(error::kNoAssociation, kShellNoAssociation);
  fs::path package = Current().drive.ToLinux(file);
  std::error_code ec;
  if (package.empty() || !fs::is_regular_file(package, ec)) {
    return Failure(error::kFileNotFound, error::kFileNotFound);
  }
  std::string text = std::string(handler) + " " + ShellQuote(package.string());
  if (!request.parameters.empty()) text += " " + request.parameters;
  SpawnRequest spawn;
  spawn.command_line = "cmd.exe /s /c \"" + text + "\"";
  spawn.working_folder = request.directory;
  spawn.hidden = request.hidden;
  return Start(spawn, request.want_process);
}

ShellResult StartProgram(const ShellRequest& request, const std::string& file) {
  SpawnRequest spawn;
  spawn.command_line = QuoteArgument(file);
  if (!request.parameters.empty()) spawn.command_line += " " + request.parameters;
  spawn.working_folder = request.directory;
  spawn.hidden = request.hidden;
  return Start(spawn, request.want_process);
}

// Percent-escapes what a file name cannot hold, so "Global\X" and "Global_X" stay apart.
std::string SafeFileName(std::string_view name) {
  std::string safe;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || c == '%' || byte < 0x20) {
      safe += Format("%%%02X", static_cast<unsigned>(byte));
    } else {
      safe.push_back(c);
    }
  }
  return safe;
}

bool MakePrivateFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  return false;
}

void WriteToStandardError(std::string_view text) {
  while (!text.empty()) {
    ssize_t wrote = ::write(STDERR_FILENO, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
}

// The answer of a box nobody can see: its default button (MB_DEFBUTTONn picks it, else the first).
int DefaultAnswer(std::uint32_t flags) {
  static const std::vector<int> kButtons[] = {
      {kIdOk},                 // MB_OK
      {kIdOk, kIdCancel},      // MB_OKCANCEL
      {3, 4, 5},               // MB_ABORTRETRYIGNORE
      {kIdYes, kIdNo, kIdCancel},  // MB_YESNOCANCEL
      {kIdYes, kIdNo},         // MB_YESNO
      {4, kIdCancel},          // MB_RETRYCANCEL
      {kIdCancel, 10, 11},     // MB_CANCELTRYCONTINUE
  };
  std::uint32_t type = flags & 0xFu;
  if (type >= std::size(kButtons)) return kIdOk;
  const std::vector<int>& buttons = kButtons[type];
  std::size_t index = (flags >> 8) & 0xFu;
  return index < buttons.size() ? buttons[index] : buttons[0];
}

class ConsoleUserInterface : public UserInterface {
 public:
  int MessageBox(std::string_view text, std::string_view caption, std::uint32_t flags) override {
    WriteToStandardError(std::string(caption) + ": " + std::string(text) + "\n");
    return DefaultAnswer(flags);
  }
};

bool DebugChannelOn() {
  static const bool on = [] {
    const char* value = std::getenv("ORVO_DEBUG_OUTPUT");
    return value != nullptr && *value != '\0';
  }();
  return on;
}

}  // namespace

ShellResult ShellExecute(const ShellRequest& request) {
  if (!request.verb.empty() && !EqualsNoCase(request.verb, "open") && !EqualsNoCase(request.verb, "runas")) {
    return Failure(error::kNoAssociation, kShellNoAssociation);
  }
  if (request.file.empty()) return Failure(error::kFileNotFound, error::kFileNotFound);
  if (IsUrl(request.file)) return OpenWithDesktop(request.file, request.hidden);

  std::string file = InDirectory(request.file, request.directory);
  std::string extension = Extension(file);
  fs::path linux_path = Current().drive.ToLinux(file);
  std::error_code ec;
  bool is_folder = !linux_path.empty() && fs::is_directory(linux_path, ec);
  if (extension == ".msi") return OpenPackage(request, file);
  // A name without extension is a program to find the way CreateProcess finds it ("regsvr32").
  if (!is_folder && (extension.empty() || extension == ".exe" || extension == ".bat" || extension == ".cmd" ||
                     extension == ".com")) {
    return StartProgram(request, file);
  }
  if (linux_path.empty() || !fs::exists(linux_path, ec)) return Failure(error::kFileNotFound, error::kFileNotFound);
  return OpenWithDesktop(linux_path.string(), request.hidden);
}

NamedMutex::NamedMutex(std::string_view name) {
  if (name.empty()) return;  // an unnamed mutex is private to this object
  fs::path root = Installed() ? Current().drive.Root() : DefaultSystemRoot();
  fs::path folder = root / ".orvo" / "locks";
  if (!MakePrivateFolder(root / ".orvo") || !MakePrivateFolder(folder)) {
    error_ = errno == ENOENT ? error::kPathNotFound : error::kAccessDenied;
    return;
  }
  fs::path file = folder / (SafeFileName(name) + ".lock");
  // Close-on-exec: a child must not carry the lock on after we end.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = error::kAccessDenied;
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error_ = errno == EWOULDBLOCK ? error::kAlreadyExists : error::kAccessDenied;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<UserInterface> MakeConsoleUserInterface() { return std::make_unique<ConsoleUserInterface>(); }

// The variable is read once: the log calls this for every line.
void DebugOutput(std::string_view text) {
  if (DebugChannelOn()) WriteToStandardError(text);
}

bool DebuggerAttached() { return DebugChannelOn(); }

}  // namespace orvo::platform

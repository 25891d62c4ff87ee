// Processes on Linux: Windows command lines started through posix_spawn, waited on through a pidfd.
//
// Windows exit codes are 32-bit, a Linux child can only return 0..255; a child ended by a signal reports
// the code given to Terminate when that was us, else 0xC0000000 | signal (an NTSTATUS-like failure).
//
// Reaping: a Process destroyed while its child still runs hands the child to one reaper thread of the
// process (started on first need), which waits on all such pidfds with poll and reaps each child as it
// ends. The layer installs no SIGCHLD handler, so it never takes exit statuses from other code's children.
#include "platform/process.h"

#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/platform.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSignalExitBase = 0xC0000000u;
constexpr std::uint32_t kErrorDirectory = 267;  // ERROR_DIRECTORY: the working folder is not a folder
constexpr const char* kShell = "/bin/sh";
constexpr const char* kDefaultLoader = "/lib64/ld-linux-x86-64.so.2";

// ---- small system helpers --------------------------------------------------------------------------

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));  // close-on-exec by definition
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

bool SendKill(pid_t pid, int pidfd) {
#ifdef SYS_pidfd_send_signal
  if (pidfd >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
#endif
  return ::kill(pid, SIGKILL) == 0;
}

// Reads a whole (small, /proc-style) file.
bool ReadWholeFile(const std::string& path, std::string* content, std::size_t limit = 1 << 20) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  content->clear();
  char buffer[4096];
  while (content->size() < limit) {
    ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    content->append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

std::uint32_t ErrnoToWindows(int code) {
  switch (code) {
    case ENOENT:
    case ELOOP:
    case ENAMETOOLONG:
      return error::kFileNotFound;
    case ENOTDIR:
      return error::kPathNotFound;
    case ENOEXEC:
    case ELIBBAD:
      return error::kBadFormat;
    case ENOMEM:
    case EAGAIN:
      return error::kNotEnoughMemory;
    case E2BIG:
    case EINVAL:
      return error::kInvalidParameter;
    case ETXTBSY:
      return error::kSharingViolation;
    default:
      return error::kAccessDenied;  // EACCES, EPERM, EISDIR and the rest
  }
}

// ---- the reaper of abandoned children --------------------------------------------------------------

class Reaper {
 public:
  // Never destroyed: the thread may still run while static objects go at exit.
  static Reaper& Get() {
    static Reaper* reaper = new Reaper;
    return *reaper;
  }

  // Takes the child (and its pidfd, which may be -1 when the kernel has none).
  void Adopt(pid_t pid, int pidfd) {
    std::lock_guard lock(mutex_);
    if (!started_) {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds[0] = fds[1] = -1;
      }
      wake_read_ = fds[0];
      wake_write_ = fds[1];
      std::thread([this] { Run(); }).detach();
      started_ = true;
    }
    children_.push_back({pid, pidfd});
    if (wake_write_ >= 0) {
      char byte = 1;
      [[maybe_unused]] ssize_t ignored = ::write(wake_write_, &byte, 1);
    }
  }

 private:
  struct Child {
    pid_t pid;
    int pidfd;
  };

  void Run() {
    while (true) {
      std::vector<pollfd> fds;
      bool need_ticks = wake_read_ < 0;
      {
        std::lock_guard lock(mutex_);
        if (wake_read_ >= 0) fds.push_back({wake_read_, POLLIN, 0});
        for (const Child& child : children_) {
          if (child.pidfd >= 0) fds.push_back({child.pidfd, POLLIN, 0});
          else need_ticks = true;
        }
      }
      ::poll(fds.data(), fds.size(), need_ticks ? 100 : -1);
      if (wake_read_ >= 0) {
        char drain[64];
        while (::read(wake_read_, drain, sizeof drain) > 0) {
        }
      }
      ReapEnded();
    }
  }

  void ReapEnded() {
    std::lock_guard lock(mutex_);
    auto ended = [](const Child& child) {
      int status = 0;
      pid_t got = ::waitpid(child.pid, &status, WNOHANG);
      if (got == 0) return false;
      if (got < 0 && errno == EINTR) return false;
      if (child.pidfd >= 0) ::close(child.pidfd);
      return true;  // reaped, or no longer ours (ECHILD)
    };
    children_.erase(std::remove_if(children_.begin(), children_.end(), ended), children_.end());
  }

  std::mutex mutex_;
  std::vector<Child> children_;
  bool started_ = false;
  int wake_read_ = -1;
  int wake_write_ = -1;
};

// ---- the process object ----------------------------------------------------------------------------

class LinuxProcess : public Process {
 public:
  LinuxProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}

  ~LinuxProcess() override {
    std::lock_guard lock(mutex_);
    if (!ended_ && !ReapLocked()) {
      Reaper::Get().Adopt(pid_, pidfd_.Release());
    }
  }

  std::uint32_t Id() const override { return static_cast<std::uint32_t>(pid_); }

  std::uint32_t Wait(std::uint32_t milliseconds) override {
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    while (true) {
      if (Ended()) return kWaitObject0;
      long long left = forever ? -1
                               : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                                     .count();
      if (!forever && left <= 0) return kWaitTimeout;
      if (pidfd_.Get() >= 0) {
        pollfd entry{pidfd_.Get(), POLLIN, 0};
        int timeout = forever ? -1 : static_cast<int>(std::min<long long>(left, INT_MAX));
        ::poll(&entry, 1, timeout);  // EINTR and readiness both lead back to the check above
      } else {
        // No pidfd (old kernel): look again every few milliseconds.
        long long pause = forever ? 5 : std::min<long long>(left, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
      }
    }
  }

  std::uint32_t ExitCode() override {
    std::lock_guard lock(mutex_);
    if (!ended_ && !ReapLocked()) return kStillActive;
    return exit_code_;
  }

  bool Terminate(std::uint32_t exit_code) override {
    std::lock_guard lock(mutex_);
    if (ended_) return false;  // as TerminateProcess on a process that has gone
    // Not reaped yet, so the id cannot have passed to another process.
    if (!SendKill(pid_, pidfd_.Get())) return false;
    if (!terminated_) {
      terminated_ = true;
      terminate_code_ = exit_code;
    }
    return true;
  }

 private:
  bool Ended() {
    std::lock_guard lock(mutex_);
    return ended_ || ReapLocked();
  }

  // Reaps the child when it has ended; true when it has.
  bool ReapLocked() {
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid_, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return false;
    ended_ = true;  // the pidfd stays open until the object goes: Wait polls it without the lock
    if (got < 0) {
      // Someone else took the status (SIGCHLD ignored by other code): report a failure, never success.
      exit_code_ = 1;
    } else if (WIFEXITED(status)) {
      exit_code_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      int signal_number = WTERMSIG(status);
      exit_code_ = terminated_ && signal_number == SIGKILL
                       ? terminate_code_
                       : kSignalExitBase | static_cast<std::uint32_t>(signal_number);
    } else {
      exit_code_ = 1;
    }
    return true;
  }

  const pid_t pid_;
  UniqueFd pidfd_;  // set at construction, released only by the destructor
  std::mutex mutex_;
  bool ended_ = false;
  std::uint32_t exit_code_ = kStillActive;
  bool terminated_ = false;
  std::uint32_t terminate_code_ = 0;
};

// ---- finding the program ---------------------------------------------------------------------------

struct LaunchPlan {
  std::string path;               // what posix_spawn executes
  std::vector<std::string> argv;  // its arguments, argv[0] included
};

std::string WindowsBaseName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool HasExtension(std::string_view name) { return WindowsBaseName(name).find('.') != std::string::npos; }

bool IsWindowsForm(std::string_view program) {
  bool drive = program.size() >= 2 && program[1] == ':' && std::isalpha(static_cast<unsigned char>(program[0]));
  return drive || program.find('\\') != std::string_view::npos;
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

bool IsExecutableFile(const fs::path& path) { return IsFile(path) && ::access(path.c_str(), X_OK) == 0; }

// Tries the name as given, then with ".exe" added when it has no extension (as CreateProcess does).
fs::path FirstExistingWindows(const std::string& windows_path) {
  const SystemDrive& drive = Current().drive;
  fs::path exact = drive.ToLinux(windows_path);
  if (IsFile(exact)) return exact;
  if (!HasExtension(windows_path)) {
    fs::path with_exe = drive.ToLinux(windows_path + ".exe");
    if (IsFile(with_exe)) return with_exe;
  }
  return {};
}

fs::path SearchLinuxPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  for (const std::string& folder : Split(path, ':')) {
    fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (IsExecutableFile(candidate) || (IsFile(candidate) && EndsWithNoCase(name, ".exe"))) return candidate;
  }
  return {};
}

// A bare name: the real System32 of the system root, then its Windows folder, then the Linux PATH.
fs::path SearchBareName(const std::string& name) {
  fs::path found;
  {
    ScopedFsRedirectionOff real_system32;
    found = FirstExistingWindows(JoinPath("C:\\Windows\\System32", name));
  }
  if (found.empty()) found = FirstExistingWindows(JoinPath("C:\\Windows", name));
  if (found.empty()) found = SearchLinuxPath(name);
  return found;
}

// The Linux path of a program named on a command line; an error code when there is none.
std::uint32_t ResolveProgram(const std::string& program, fs::path* path) {
  if (program.empty()) return error::kFileNotFound;
  if (IsWindowsForm(program)) {
    *path = FirstExistingWindows(program);
  } else if (program.find('/') != std::string::npos) {
    *path = IsFile(program) ? fs::path(program) : fs::path();
  } else {
    *path = SearchBareName(program);
  }
  if (!path->empty()) return error::kSuccess;
  // Something is there but not a file (a folder): CreateProcess refuses it with "access denied".
  std::error_code ec;
  fs::path named = IsWindowsForm(program) ? Current().drive.ToLinux(program) : fs::path(program);
  return !named.empty() && fs::exists(named, ec) ? error::kAccessDenied : error::kFileNotFound;
}

// ---- how to run a file -----------------------------------------------------------------------------

std::vector<std::string> Tail(const std::vector<std::string>& arguments) {
  if (arguments.size() <= 1) return {};
  return {arguments.begin() + 1, arguments.end()};
}

LaunchPlan Through(std::string interpreter, std::vector<std::string> leading,
                   const std::vector<std::string>& arguments) {
  LaunchPlan plan;
  plan.argv.push_back(interpreter);
  plan.argv.insert(plan.argv.end(), leading.begin(), leading.end());
  std::vector<std::string> rest = Tail(arguments);
  plan.argv.insert(plan.argv.end(), rest.begin(), rest.end());
  plan.path = std::move(interpreter);
  return plan;
}

// "#!interpreter [one argument]" as the kernel reads it (a Windows line end tolerated).
bool ParseShebang(std::string_view head, std::string* interpreter, std::string* argument) {
  std::string_view line = head.substr(2);
  line = line.substr(0, line.find('\n'));
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  std::size_t end = 0;
  while (end < line.size() && !blank(line[end])) ++end;
  *interpreter = std::string(line.substr(0, end));
  line.remove_prefix(end);
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  *argument = std::string(line);
  return !interpreter->empty();
}

// The dynamic loader an ELF program asks for (PT_INTERP), read from its program headers.
template <typename Ehdr, typename Phdr>
std::string ElfInterpreter(const std::string& image) {
  Ehdr header;
  if (image.size() < sizeof header) return {};
  std::memcpy(&header, image.data(), sizeof header);
  for (std::size_t i = 0; i < header.e_phnum; ++i) {
    std::size_t at = static_cast<std::size_t>(header.e_phoff) + i * header.e_phentsize;
    Phdr program;
    if (header.e_phentsize < sizeof program || at + sizeof program > image.size()) return {};
    std::memcpy(&program, image.data() + at, sizeof program);
    if (program.p_type != PT_INTERP) continue;
    std::size_t offset = static_cast<std::size_t>(program.p_offset);
    std::size_t size = static_cast<std::size_t>(program.p_filesz);
    if (offset >= image.size() || size > image.size() - offset || size == 0 || size > PATH_MAX) return {};
    return std::string(image.data() + offset, strnlen(image.data() + offset, size));
  }
  return {};
}

std::string LoaderFor(const fs::path& path) {
  std::string image;
  if (ReadWholeFile(path, &image, 64 * 1024) && image.size() > EI_CLASS) {
    std::string loader = image[EI_CLASS] == ELFCLASS64 ? ElfInterpreter<Elf64_Ehdr, Elf64_Phdr>(image)
                                                       : ElfInterpreter<Elf32_Ehdr, Elf32_Phdr>(image);
    if (!loader.empty()) return loader;
  }
  return kDefaultLoader;
}

// "*.exe" runs whatever its mode bits: a script through its interpreter, an ELF program directly or
// through its loader; anything else (a Windows PE image among them) is not a program here.
std::uint32_t PlanExe(const fs::path& path, const std::vector<std::string>& arguments, LaunchPlan* plan) {
  std::string head;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return ErrnoToWindows(errno);
  head.resize(256);
  ssize_t got;
  do {
    got = ::read(fd.Get(), head.data(), head.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) return ErrnoToWindows(errno);
  head.resize(static_cast<std::size_t>(got));
  if (head.rfind("#!", 0) == 0) {
    std::string interpreter, argument;
    if (!ParseShebang(head, &interpreter, &argument)) return error::kBadFormat;
    std::vector<std::string> leading;
    if (!argument.empty()) leading.push_back(argument);
    leading.push_back(path.string());
    *plan = Through(interpreter, leading, arguments);
    return error::kSuccess;
  }
  if (head.rfind("\x7f" "ELF", 0) != 0) return error::kBadFormat;
  if (::access(path.c_str(), X_OK) == 0) {
    *plan = LaunchPlan{path.string(), arguments};
  } else {
    *plan = Through(LoaderFor(path), {path.string()}, arguments);
  }
  return error::kSuccess;
}

std::uint32_t PlanProgram(const std::string& program, const std::vector<std::string>& arguments,
                          LaunchPlan* plan) {
  fs::path path;
  if (std::uint32_t failure = ResolveProgram(program, &path)) return failure;
  std::string name = path.filename().string();
  if (EndsWithNoCase(name, ".bat") || EndsWithNoCase(name, ".cmd")) {
    *plan = Through(kShell, {path.string()}, arguments);
    return error::kSuccess;
  }
  if (EndsWithNoCase(name, ".exe") || EndsWithNoCase(name, ".com")) return PlanExe(path, arguments, plan);
  *plan = LaunchPlan{path.string(), arguments};
  return error::kSuccess;
}

// ---- cmd.exe /c ------------------------------------------------------------------------------------

bool IsCommandInterpreter(std::string_view program) {
  std::string name = WindowsBaseName(program);
  return EqualsNoCase(name, "cmd.exe") || EqualsNoCase(name, "cmd");
}

std::size_t SkipBlanks(std::string_view text, std::size_t i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i;
}

// Where the arguments start: after the program name (read by its own rule).
std::size_t AfterProgramName(std::string_view line) {
  if (!line.empty() && line[0] == '"') {
    std::size_t close = line.find('"', 1);
    return close == std::string_view::npos ? line.size() : close + 1;
  }
  std::size_t i = 0;
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  return i;
}

// The text after "/c" (or "/k") and whether "/s" came before it; false when there is no such switch.
bool CommandText(std::string_view line, std::string* text, bool* strip_quotes) {
  std::size_t i = SkipBlanks(line, 0);
  if (i >= line.size() || line[i] != '/') i = AfterProgramName(line);  // the line names its program first
  *strip_quotes = false;
  while (true) {
    i = SkipBlanks(line, i);
    std::size_t end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '"') ++end;
    std::string_view token = line.substr(i, end - i);
    if (token.empty() || token[0] != '/') return false;
    if (EqualsNoCase(token, "/c") || EqualsNoCase(token, "/k")) {
      *text = std::string(line.substr(SkipBlanks(line, end)));
      return true;
    }
    if (EqualsNoCase(token, "/s")) *strip_quotes = true;
    i = end;
  }
}

fs::path ScriptPath(const std::string& name, const fs::path& working_folder) {
  if (!EndsWithNoCase(name, ".bat") && !EndsWithNoCase(name, ".cmd")) return {};
  if (!IsWindowsForm(name) && name.find('/') == std::string::npos) {
    fs::path local = (working_folder.empty() ? fs::path(".") : working_folder) / name;
    if (IsFile(local)) return local;
  }
  fs::path path;
  return ResolveProgram(name, &path) == error::kSuccess ? path : fs::path();
}

// cmd keeps the quotes of `"program with blanks" args` only when there are exactly two, with a blank and
// no special character between them, around an existing file; else, when the text starts with a quote,
// it drops that quote and the last one.
std::string ApplyCmdQuoteRule(std::string text, bool strip_quotes, const fs::path& working_folder) {
  if (text.empty() || text[0] != '"') return text;
  std::size_t second = text.find('"', 1);
  if (!strip_quotes && second != std::string::npos && std::count(text.begin(), text.end(), '"') == 2) {
    std::string inner = text.substr(1, second - 1);
    bool plain = inner.find_first_of("&<>()@^|") == std::string::npos;
    bool blank = inner.find_first_of(" \t") != std::string::npos;
    fs::path found;
    bool exists = ResolveProgram(inner, &found) == error::kSuccess || !ScriptPath(inner, working_folder).empty();
    if (plain && blank && exists) return text;
  }
  std::size_t last = text.rfind('"');
  text.erase(last, 1);
  text.erase(0, 1);
  return text;
}

bool PlanCommandInterpreter(const std::string& command_line, const fs::path& working_folder, LaunchPlan* plan) {
  std::string text;
  bool strip_quotes = false;
  if (!CommandText(command_line, &text, &strip_quotes)) return false;
  text = ApplyCmdQuoteRule(std::move(text), strip_quotes, working_folder);
  std::vector<std::string> words = SplitCommandLine(text);
  fs::path script = words.empty() ? fs::path() : ScriptPath(words[0], working_folder);
  if (!script.empty()) {
    *plan = Through(kShell, {script.string()}, words);
  } else {
    *plan = LaunchPlan{kShell, {kShell, "-c", text}};
  }
  return true;
}

// ---- spawning --------------------------------------------------------------------------------------

std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> linux_environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) linux_environment.emplace_back(*entry);
  const Platform& services = Current();
  std::vector<std::string> result = services.environment.ForLinuxChild(services.drive, linux_environment);
  result.erase(std::remove_if(result.begin(), result.end(),
                              [](const std::string& entry) { return entry.rfind("ORVO_SYSTEM_ROOT=", 0) == 0; }),
               result.end());
  result.push_back("ORVO_SYSTEM_ROOT=" + services.drive.Root().string());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

class SpawnSettings {
 public:
  SpawnSettings(const fs::path& working_folder, bool hidden) {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
    if (hidden) {
      ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
      ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
      ::posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    }
    if (!working_folder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions_, working_folder.c_str());
    // Nothing but the standard streams passes to the child, whatever another thread has open.
    ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSettings() {
    ::posix_spawnattr_destroy(&attributes_);
    ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  const posix_spawn_file_actions_t* Actions() const { return &actions_; }
  const posix_spawnattr_t* Attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

std::unique_ptr<Process> Launch(LaunchPlan plan, const fs::path& working_folder, bool hidden,
                                std::uint32_t* error) {
  std::vector<std::string> environment = ChildEnvironment();
  std::vector<char*> argv = Pointers(plan.argv);
  std::vector<char*> envp = Pointers(environment);
  SpawnSettings settings(working_folder, hidden);
  pid_t pid = 0;
  int failure = ::posix_spawn(&pid, plan.path.c_str(), settings.Actions(), settings.Attributes(), argv.data(),
                              envp.data());
  if (failure != 0) {
    *error = ErrnoToWindows(failure);
    return nullptr;
  }
  return std::make_unique<LinuxProcess>(pid, OpenPidFd(pid));
}

class LinuxProcessLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<Process> Spawn(const SpawnRequest& request, std::uint32_t* error) override {
    std::uint32_t ignored = 0;
    if (error == nullptr) error = &ignored;
    *error = error::kSuccess;
    std::vector<std::string> arguments = SplitCommandLine(request.command_line);
    std::string program = !request.application.empty() ? request.application
                          : arguments.empty()          ? std::string()
                                                       : arguments[0];
    if (program.empty()) {
      *error = error::kInvalidParameter;
      return nullptr;
    }
    if (arguments.empty()) arguments.push_back(program);
    fs::path folder;
    if (!request.working_folder.empty()) {
      folder = Current().drive.ToLinux(request.working_folder);
      std::error_code ec;
      if (folder.empty() || !fs::is_directory(folder, ec)) {
        *error = kErrorDirectory;
        return nullptr;
      }
    }
    LaunchPlan plan;
    if (!IsCommandInterpreter(program) || !PlanCommandInterpreter(request.command_line, folder, &plan)) {
      if (std::uint32_t failure = PlanProgram(program, arguments, &plan)) {
        *error = failure;
        return nullptr;
      }
    }
    return Launch(std::move(plan), folder, request.hidden, error);
  }
};

// ---- the process list ------------------------------------------------------------------------------

std::vector<std::string> SplitNulls(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsInterpreter(const std::string& name) {
  static const char* const kNames[] = {"sh", "bash", "dash", "ash", "zsh", "ksh", "mksh", "perl", "ruby", "node"};
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  return name.rfind("python", 0) == 0 || name.rfind("ld-linux", 0) == 0;
}

// The Windows-style file name of a process (see process.h): the script an interpreter runs, else the
// name it was started as, else the kernel's (15-character) name.
std::string ImageName(const std::string& pid, const std::string& comm, const std::vector<std::string>& argv) {
  if (argv.empty()) return comm;
  if (IsInterpreter(fs::path(argv[0]).filename().string())) {
    auto script = std::find_if(argv.begin() + 1, argv.end(),
                               [](const std::string& word) { return !word.empty() && word[0] != '-'; });
    if (script != argv.end()) {
      fs::path file = (*script)[0] == '/' ? fs::path(*script) : fs::path("/proc/" + pid + "/cwd") / *script;
      if (IsFile(file)) return fs::path(*script).filename().string();
    }
  }
  std::string base = WindowsBaseName(argv[0]);
  if (!comm.empty() && base.rfind(comm, 0) == 0) return base;
  return comm;
}

std::uint32_t StatusField(const std::string& status, const char* field) {
  std::size_t at = status.find(std::string("\n") + field);
  if (at == std::string::npos) return 0;
  return static_cast<std::uint32_t>(std::strtoul(status.c_str() + at + 1 + std::strlen(field), nullptr, 10));
}

bool ReadProcess(const std::string& pid, ProcessEntry* entry) {
  std::string base = "/proc/" + pid + "/";
  std::string status, comm, cmdline;
  if (!ReadWholeFile(base + "status", &status) || !ReadWholeFile(base + "comm", &comm)) return false;
  ReadWholeFile(base + "cmdline", &cmdline);  // empty for kernel threads and zombies
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  entry->id = static_cast<std::uint32_t>(std::strtoul(pid.c_str(), nullptr, 10));
  entry->parent_id = StatusField(status, "PPid:");
  entry->threads = StatusField(status, "Threads:");
  entry->image_name = ImageName(pid, comm, SplitNulls(cmdline));
  return true;
}

// The process's own arguments, kept by SetProcessArguments.
std::mutex& ArgumentsMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::string>& StoredArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

std::unique_ptr<ProcessLauncher> MakeLinuxProcessLauncher() { return std::make_unique<LinuxProcessLauncher>(); }

std::vector<ProcessEntry> SnapshotProcesses() {
  std::vector<ProcessEntry> entries;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    ProcessEntry entry;
    if (ReadProcess(name, &entry)) entries.push_back(std::move(entry));  // gone meanwhile: skipped
  }
  std::sort(entries.begin(), entries.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.id < b.id; });
  return entries;
}

bool TerminateProcessById(std::uint32_t id, std::uint32_t exit_code) {
  // kill() reads 0 and negative ids as process groups: never let such an id through. The exit code cannot
  // travel with SIGKILL; the killed process reports the signal to its parent.
  (void)exit_code;
  if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX)) return false;
  return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::gettid()); }

std::string OwnExecutablePath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec || self.empty()) return {};
  if (Installed()) return Current().drive.ToWindows(self);
  return "Z:" + ReplaceAll(self.string(), "/", "\\");
}

std::string OwnCommandLine() {
  {
    std::lock_guard lock(ArgumentsMutex());
    if (!StoredArguments().empty()) return JoinCommandLine(StoredArguments());
  }
  std::string cmdline;
  if (!ReadWholeFile("/proc/self/cmdline", &cmdline)) return {};
  return JoinCommandLine(SplitNulls(cmdline));
}

void SetProcessArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  std::lock_guard lock(ArgumentsMutex());
  StoredArguments() = std::move(arguments);
}

}  // namespace orvo::platform

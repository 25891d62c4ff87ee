// Processes on Linux: Windows command lines started through posix_spawn, waited on through a pidfd.
//
// Windows exit codes are 32-bit, a Linux child can only return 0..255; a child ended by a signal reports
// the code given to Terminate when that was us, else 0xC0000000 | signal (an NTSTATUS-like failure).
//
// Reaping: a Process destroyed while its child still runs hands the child to one reaper thread of the
// process (started on first need), which waits on all such pidfds with poll and reaps each child as it
// ends. The layer installs no SIGCHLD handler, so it never takes exit statuses from other code's children.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/errno_map.h"
#include "platform/linux/launch_plan.h"
#include "platform/linux/process_helpers.h"
#include "platform/platform.h"
#include "platform/win_types.h"

namespace orvo::platform {

namespace fs = std::filesystem;

namespace {

using linux_detail::IsCommandInterpreter;
using linux_detail::LaunchPlan;
using linux_detail::PlanCommandInterpreter;
using linux_detail::PlanProgram;
using linux_detail::UniqueFd;

constexpr std::uint32_t kSignalExitBase = 0xC0000000u;
constexpr std::uint32_t kErrorDirectory = 267;  // ERROR_DIRECTORY: the working folder is not a folder

// ---- small system helpers --------------------------------------------------------------------------

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
  LinuxProcess(pid_t pid, int pidfd, fs::path exit_file)
      : pid_(pid), pidfd_(pidfd), exit_file_(std::move(exit_file)) {}

  ~LinuxProcess() override {
    std::lock_guard lock(mutex_);
    if (!ended_ && !ReapLocked()) {
      Reaper::Get().Adopt(pid_, pidfd_.Release());
    }
    std::error_code ignored;
    fs::remove(exit_file_, ignored);
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
      exit_code_ = WholeExitCode(static_cast<std::uint32_t>(WEXITSTATUS(status)));
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

  // Linux keeps 8 bits of an exit status; a child that wrote its whole Windows code to its exit-code file
  // (the one our own programs and the test programs write) is taken at its word when the low bits agree.
  std::uint32_t WholeExitCode(std::uint32_t low_bits) const {
    std::ifstream in(exit_file_);
    long long reported = 0;
    if (!(in >> reported)) return low_bits;
    const auto whole = static_cast<std::uint32_t>(reported);
    return (whole & 0xFFu) == low_bits ? whole : low_bits;
  }

  const pid_t pid_;
  UniqueFd pidfd_;  // set at construction, released only by the destructor
  const fs::path exit_file_;
  std::mutex mutex_;
  bool ended_ = false;
  std::uint32_t exit_code_ = kStillActive;
  bool terminated_ = false;
  std::uint32_t terminate_code_ = 0;
};

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

// Where a child may write its whole exit code: a file of its own in the system root's private folder.
fs::path NewExitCodeFile() {
  static std::atomic<unsigned> counter{0};
  const fs::path folder = Current().drive.Root() / ".orvo" / "exit-codes";
  std::error_code ignored;
  fs::create_directories(folder, ignored);
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
  return folder / (std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
}

std::unique_ptr<Process> Launch(LaunchPlan plan, const fs::path& working_folder, bool hidden,
                                std::uint32_t* error) {
  std::vector<std::string> environment = ChildEnvironment();
  const fs::path exit_file = NewExitCodeFile();
  std::error_code ignored;
  fs::remove(exit_file, ignored);  // left by an earlier process with the same id
  environment.push_back("ORVO_EXIT_CODE_FILE=" + exit_file.string());
  std::vector<char*> argv = Pointers(plan.argv);
  std::vector<char*> envp = Pointers(environment);
  SpawnSettings settings(working_folder, hidden);
  pid_t pid = 0;
  int failure = ::posix_spawn(&pid, plan.path.c_str(), settings.Actions(), settings.Attributes(), argv.data(),
                              envp.data());
  if (failure != 0) {
    *error = WindowsErrorFromErrno(failure);
    return nullptr;
  }
  return std::make_unique<LinuxProcess>(pid, OpenPidFd(pid), exit_file);
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

}  // namespace

std::unique_ptr<ProcessLauncher> MakeLinuxProcessLauncher() { return std::make_unique<LinuxProcessLauncher>(); }

}  // namespace orvo::platform

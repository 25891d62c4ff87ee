// The process list and the process's own identity, read from /proc.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/linux/process_helpers.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"

namespace orvo::platform {

namespace fs = std::filesystem;

namespace {

using linux_detail::IsFile;
using linux_detail::ReadWholeFile;
using linux_detail::WindowsBaseName;

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
// The script an interpreter runs, when its arguments name one.
fs::path InterpretedScript(const std::string& pid, const std::vector<std::string>& argv) {
  if (argv.empty() || !IsInterpreter(fs::path(argv[0]).filename().string())) return {};
  auto script = std::find_if(argv.begin() + 1, argv.end(),
                             [](const std::string& word) { return !word.empty() && word[0] != '-'; });
  if (script == argv.end()) return {};
  fs::path file = (*script)[0] == '/' ? fs::path(*script) : fs::path("/proc/" + pid + "/cwd") / *script;
  return IsFile(file) ? file : fs::path();
}

std::string ImageName(const std::string& comm, const std::vector<std::string>& argv, const fs::path& script) {
  if (argv.empty()) return comm;
  if (!script.empty()) return script.filename().string();
  std::string base = WindowsBaseName(argv[0]);
  if (!comm.empty() && base.rfind(comm, 0) == 0) return base;
  return comm;
}

std::string ImagePath(const std::string& pid, const fs::path& script) {
  std::error_code error;
  fs::path image = script.empty() ? fs::read_symlink("/proc/" + pid + "/exe", error)
                                  : fs::canonical(script, error);
  if (error || image.empty()) return {};
  return Installed() ? Drive().ToWindows(image) : std::string();
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
  const std::vector<std::string> argv = SplitNulls(cmdline);
  const fs::path script = InterpretedScript(pid, argv);
  entry->image_name = ImageName(comm, argv, script);
  entry->image_path = ImagePath(pid, script);
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

// From a Windows command line to what posix_spawn runs. The program is looked up as CreateProcess would
// (".exe" added to a name without extension, a bare name in System32, the Windows folder, then PATH); a
// "*.exe" file runs whatever its mode bits; "cmd.exe /c" text goes to /bin/sh.
#include "platform/linux/launch_plan.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/linux/errno_map.h"
#include "platform/linux/process_helpers.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/win_types.h"

namespace orvo::platform::linux_detail {

namespace fs = std::filesystem;

namespace {

constexpr const char* kShell = "/bin/sh";
constexpr const char* kDefaultLoader = "/lib64/ld-linux-x86-64.so.2";

// ---- finding the program ---------------------------------------------------------------------------

bool HasExtension(std::string_view name) { return WindowsBaseName(name).find('.') != std::string::npos; }

bool IsWindowsForm(std::string_view program) {
  bool drive = program.size() >= 2 && program[1] == ':' && std::isalpha(static_cast<unsigned char>(program[0]));
  return drive || program.find('\\') != std::string_view::npos;
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
  if (fd.Get() < 0) return WindowsErrorFromErrno(errno);
  head.resize(256);
  ssize_t got;
  do {
    got = ::read(fd.Get(), head.data(), head.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) return WindowsErrorFromErrno(errno);
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

}  // namespace

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

namespace {

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
std::string ApplyCmdQuoteRule(const std::string& quoted, bool strip_quotes, const fs::path& working_folder) {
  std::string text = quoted;
  if (text.empty() || text[0] != '"') return text;
  std::size_t second = text.find('"', 1);
  if (!strip_quotes && second != std::string::npos && std::count(text.begin(), text.end(), '"') == 2) {
    const std::string inner(text, 1, second - 1);
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

}  // namespace

bool PlanCommandInterpreter(const std::string& command_line, const fs::path& working_folder, LaunchPlan* plan) {
  std::string text;
  bool strip_quotes = false;
  if (!CommandText(command_line, &text, &strip_quotes)) return false;
  text = ApplyCmdQuoteRule(text, strip_quotes, working_folder);
  std::vector<std::string> words = SplitCommandLine(text);
  fs::path script = words.empty() ? fs::path() : ScriptPath(words[0], working_folder);
  if (!script.empty()) {
    *plan = Through(kShell, {script.string()}, words);
  } else {
    *plan = LaunchPlan{kShell, {kShell, "-c", text}};
  }
  return true;
}

}  // namespace orvo::platform::linux_detail

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/win_types.h"
#include "support/test_root.h"

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ProcessTest : public ::testing::Test {
 protected:
  // A "#!" script written as the tests' setup programs are: no exec bit.
  void WriteScript(const std::string& windows_path, const std::string& body) const {
    root_.WriteFile(windows_path, "#!/bin/sh\n" + body + "\n");
  }

  std::unique_ptr<Process> Start(const std::string& command_line, bool hidden = false,
                                 const std::string& working_folder = "", std::uint32_t* error = nullptr) {
    SpawnRequest request;
    request.command_line = command_line;
    request.working_folder = working_folder;
    request.hidden = hidden;
    std::uint32_t ignored = 0;
    return root_.Platform().launcher->Spawn(request, error != nullptr ? error : &ignored);
  }

  // Runs to the end; the exit code, or kStillActive when it did not end in time.
  std::uint32_t Run(const std::string& command_line, const std::string& working_folder = "") {
    std::uint32_t error = 0;
    auto process = Start(command_line, false, working_folder, &error);
    if (!process) {
      ADD_FAILURE() << "cannot start [" << command_line << "]: " << error;
      return kStillActive;
    }
    EXPECT_EQ(process->Wait(20000), kWaitObject0) << command_line;
    return process->ExitCode();
  }

  fs::path Out(const std::string& name) const { return root_.Root() / name; }

  test::TestRoot root_;
};

TEST_F(ProcessTest, ScriptNamedExeRunsWithoutExecBitAndReturnsItsExitCode) {
  const std::string setup = R"(C:\Program Files (x86)\Orvo\setup.exe)";
  WriteScript(setup, R"(exit "$1")");
  const fs::perms perms = fs::status(root_.Linux(setup)).permissions();
  ASSERT_EQ(perms & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec), fs::perms::none);
  for (std::uint32_t code : {0u, 3u, 255u}) {
    EXPECT_EQ(Run(QuoteArgument(setup) + " " + std::to_string(code)), code);
  }
}

// The whole Windows code travels through the child's own exit-code file, when its low 8 bits agree.
TEST_F(ProcessTest, WholeExitCodeComesFromTheChildsExitCodeFile) {
  const std::string setup = R"(C:\setup.exe)";
  WriteScript(setup, R"(echo "$1" > "$ORVO_EXIT_CODE_FILE"; exit "$2")");
  struct Case {
    const char* written;
    int status;
    std::uint32_t expected;
  };
  for (const Case& c : {Case{"3010", 194, 3010u}, Case{"-1", 255, 0xFFFFFFFFu}, Case{"3010", 5, 5u},
                        Case{"not a number", 7, 7u}}) {
    EXPECT_EQ(Run(QuoteArgument(setup) + " \"" + c.written + "\" " + std::to_string(c.status)), c.expected)
        << c.written << " / " << c.status;
  }
  // Each child has a file of its own, and it goes with the process object.
  std::error_code error;
  EXPECT_TRUE(fs::is_empty(root_.Root() / ".orvo" / "exit-codes", error)) << error.message();
}

TEST_F(ProcessTest, WaitTimesOutWhileRunningAndTerminateEndsWithTheGivenCode) {
  auto process = Start("sleep 30");
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->Wait(50), kWaitTimeout);
  EXPECT_EQ(process->ExitCode(), kStillActive);
  EXPECT_TRUE(process->Terminate(1234));
  EXPECT_EQ(process->Wait(kInfinite), kWaitObject0);
  EXPECT_EQ(process->ExitCode(), 1234u);
  EXPECT_EQ(process->Wait(0), kWaitObject0);
  EXPECT_FALSE(process->Terminate(1)) << "a process that has gone cannot be terminated";
  EXPECT_EQ(process->ExitCode(), 1234u);
}

TEST_F(ProcessTest, ProcessEndedByAnotherSignalReportsTheSignal) {
  WriteScript(R"(C:\selfkill.exe)", "kill -TERM $$");
  EXPECT_EQ(Run(R"(C:\selfkill.exe)"), 0xC0000000u | 15u);

  auto sleeper = Start("sleep 30");
  ASSERT_NE(sleeper, nullptr);
  EXPECT_TRUE(TerminateProcessById(sleeper->Id(), 7));
  EXPECT_EQ(sleeper->Wait(20000), kWaitObject0);
  EXPECT_EQ(sleeper->ExitCode(), 0xC0000000u | 9u) << "the code cannot travel with a kill by id";
}

TEST_F(ProcessTest, ProgramsThatCannotStartGiveTheWindowsError) {
  root_.WriteFile(R"(C:\Tools\windows.exe)", std::string("MZ\x90\0\3\0\0\0", 8) + std::string(200, '\0'));
  root_.WriteFile(R"(C:\Tools\empty.exe)", "");
  const std::pair<const char*, std::uint32_t> cases[] = {
      {R"(C:\nowhere\setup.exe /S)", error::kFileNotFound},
      {R"("C:\Program Files\missing.exe")", error::kFileNotFound},
      {"no-such-program-anywhere --flag", error::kFileNotFound},
      {R"(Q:\other\drive.exe)", error::kFileNotFound},
      {R"(C:\Tools\windows.exe)", error::kBadFormat},
      {R"(C:\Tools\empty.exe)", error::kBadFormat},
      {R"(C:\Windows)", error::kAccessDenied},
      {"", error::kInvalidParameter},
  };
  for (const auto& [line, expected] : cases) {
    std::uint32_t error = 0;
    EXPECT_EQ(Start(line, false, "", &error), nullptr) << line;
    EXPECT_EQ(error, expected) << line;
  }
  std::uint32_t error = 0;
  EXPECT_EQ(Start("sleep 1", false, R"(C:\no\such\folder)", &error), nullptr);
  EXPECT_EQ(error, 267u) << "ERROR_DIRECTORY for a working folder that is not there";
}

TEST_F(ProcessTest, ElfProgramNamedExeRunsWithoutExecBit) {
  const std::string tool = R"(C:\Tools\probe.exe)";
  fs::create_directories(root_.Linux(R"(C:\Tools)"));
  fs::copy_file(ORVO_PLATFORM_PROBE, root_.Linux(R"(C:\Tools)") / "probe.exe");
  fs::permissions(root_.Linux(tool), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Run(tool + " exit 42"), 42u);
  // The same program found by a bare name in the (real) system folder, with ".exe" added as CreateProcess
  // does, and its name matched without regard to case.
  {
    ScopedFsRedirectionOff real_system32;
    fs::copy_file(root_.Linux(tool), root_.Linux(R"(C:\Windows\System32)") / "probe.exe");
  }
  EXPECT_EQ(Run("PROBE exit 43"), 43u);
}

TEST_F(ProcessTest, ChildSeesTheMappedEnvironmentWorkingFolderAndUnmappedArguments) {
  WriteScript(R"(C:\env.exe)",
              R"sh(printf '%s\n' "$ProgramData" "$ORVO_SYSTEM_ROOT" "$(pwd)" "$1" "$2" "$#" > "$3")sh");
  const fs::path out = Out("env.txt");
  ASSERT_EQ(Run(R"(C:\env.exe "C:\Program Files" "say \"hi\"" )" + out.string(), R"(C:\ProgramData)"), 0u);
  const std::vector<std::string> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], root_.Linux(R"(C:\ProgramData)").string());
  EXPECT_EQ(lines[1], root_.Root().string());
  EXPECT_TRUE(fs::equivalent(lines[2], root_.Linux(R"(C:\ProgramData)"))) << lines[2];
  EXPECT_EQ(lines[3], R"(C:\Program Files)");
  EXPECT_EQ(lines[4], R"(say "hi")");
  EXPECT_EQ(lines[5], "3");
}

TEST_F(ProcessTest, HiddenChildWritesNothingToOurStandardError) {
  WriteScript(R"(C:\noisy.exe)", "echo noise >&2; echo more noise");
  for (bool hidden : {true, false}) {
    // The probe starts the script with its standard streams in files, so ours stay out of it.
    const fs::path out = Out(hidden ? "hidden-out.txt" : "shown-out.txt");
    const fs::path err = Out(hidden ? "hidden-err.txt" : "shown-err.txt");
    const std::string line = std::string(R"(cmd.exe /c "")") + ORVO_PLATFORM_PROBE + R"(" spawn )" +
                             (hidden ? "1" : "0") + R"( "C:\noisy.exe" >")" + out.string() + R"(" 2>")" +
                             err.string() + R"("")";
    EXPECT_EQ(Run(line), 0u) << line;
    EXPECT_EQ(ReadText(err), hidden ? "" : "noise\n") << "hidden=" << hidden;
    EXPECT_EQ(ReadText(out), hidden ? "" : "more noise\n") << "hidden=" << hidden;
  }
}

TEST_F(ProcessTest, CommandInterpreterRunsThroughTheShell) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"cmd.exe /c exit 7", 7},
      {R"(C:\WINDOWS\system32\CMD.EXE /C exit 9)", 9},
      {"cmd /d /s /c \"exit 4\"", 4},
      {"cmd.exe /c \"exit 5\"", 5},
      {"cmd.exe /c true && exit 6", 6},
  };
  for (const auto& [line, code] : cases) EXPECT_EQ(Run(line), code) << line;

  SpawnRequest request;
  request.application = R"(C:\Windows\System32\cmd.exe)";
  request.command_line = "/c exit 3";
  std::uint32_t error = 0;
  auto process = root_.Platform().launcher->Spawn(request, &error);
  ASSERT_NE(process, nullptr) << error;
  EXPECT_EQ(process->Wait(20000), kWaitObject0);
  EXPECT_EQ(process->ExitCode(), 3u);
}

TEST_F(ProcessTest, BatchScriptRunsAsShellScriptWithItsArguments) {
  const std::string body = R"(printf '%s|%s|%s' "$1" "$2" "$#" > "$3"; exit 2)";
  root_.WriteFile(R"(C:\Temp\run.bat)", body);
  root_.WriteFile(R"(C:\Temp\my dir\Run.CMD)", body);
  const std::string out = Out("bat.txt").string();
  const std::string cases[] = {
      R"(cmd.exe /c C:\Temp\run.bat "a b" c )" + out,
      R"(cmd.exe /c ""C:\Temp\my dir\run.cmd" "a b" c )" + out + "\"",
      R"(cmd.exe /c run.bat "a b" c )" + out,  // found in the working folder
      R"(C:\Temp\run.bat "a b" c )" + out,      // a script started directly
  };
  for (const std::string& line : cases) {
    fs::remove(out);
    EXPECT_EQ(Run(line, R"(C:\Temp)"), 2u) << line;
    EXPECT_EQ(ReadText(out), "a b|c|3") << line;
  }
}

TEST_F(ProcessTest, SnapshotShowsAChildByItsWindowsName) {
  WriteScript(R"(C:\Program Files (x86)\Orvo\setup.exe)", "while :; do sleep 0.05; done");
  auto child = Start(R"("C:\Program Files (x86)\Orvo\setup.exe")", true);
  ASSERT_NE(child, nullptr);
  // Right after the start the child may still be inside exec, with no arguments to read yet.
  std::vector<ProcessEntry> entries;
  const ProcessEntry* found = nullptr;
  const ProcessEntry* self = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    entries = SnapshotProcesses();
    found = self = nullptr;
    for (const ProcessEntry& entry : entries) {
      if (entry.id == child->Id()) found = &entry;
      if (entry.id == CurrentProcessId()) self = &entry;
    }
    if (found != nullptr && found->image_name == "setup.exe") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_FALSE(entries.empty());
  for (std::size_t i = 1; i < entries.size(); ++i) EXPECT_LT(entries[i - 1].id, entries[i].id);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->image_name, "setup.exe");
  EXPECT_EQ(found->image_path, "C:\\Program Files (x86)\\Orvo\\setup.exe");
  EXPECT_EQ(found->parent_id, CurrentProcessId());
  EXPECT_GE(found->threads, 1u);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->image_name, "process_tests");
  EXPECT_TRUE(child->Terminate(0));
  EXPECT_EQ(child->Wait(20000), kWaitObject0);
}

TEST_F(ProcessTest, DestroyedProcessKeepsRunningAndIsReapedWhenItEnds) {
  auto child = Start("sleep 0.5", true);
  ASSERT_NE(child, nullptr);
  const fs::path entry = "/proc/" + std::to_string(child->Id());
  child.reset();
  EXPECT_TRUE(fs::exists(entry)) << "destroying the object must not end the process";
  // A zombie keeps its /proc entry: the entry goes only when the child has been reaped.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fs::exists(entry) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(fs::exists(entry));
}

TEST_F(ProcessTest, OwnPathAndCommandLine) {
  const std::string own = OwnExecutablePath();
  EXPECT_TRUE(fs::equivalent(root_.Linux(own), "/proc/self/exe")) << own;
  EXPECT_EQ(own.rfind("Z:\\", 0), 0u) << "the build folder lies outside the system root: " << own;
  EXPECT_EQ(CurrentThreadId(), CurrentProcessId()) << "the tests run on the main thread";

  const std::vector<std::string> before = SplitCommandLine(OwnCommandLine());
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(fs::path(before[0]).filename(), "process_tests");

  const char* given[] = {R"(C:\My Apps\OrvoInstaller.exe)", "/installid", R"(a "b")", "", R"(C:\dir\)"};
  std::vector<char*> argv;
  for (const char* word : given) argv.push_back(const_cast<char*>(word));
  SetProcessArguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(OwnCommandLine(), R"("C:\My Apps\OrvoInstaller.exe" /installid "a \"b\"" "" C:\dir\)");
  EXPECT_EQ(SplitCommandLine(OwnCommandLine()), std::vector<std::string>(std::begin(given), std::end(given)));

  std::vector<std::string> restore = before;
  argv.clear();
  for (std::string& word : restore) argv.push_back(word.data());
  SetProcessArguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(SplitCommandLine(OwnCommandLine()), before);
}

}  // namespace
}  // namespace orvo::platform

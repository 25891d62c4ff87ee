#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

// Sets (or with nullopt removes) a variable of this process for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedVariable() {
    if (previous_) ::setenv(name_, previous_->c_str(), 1);
    else ::unsetenv(name_);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

class FinishedProcess : public Process {
 public:
  std::uint32_t Id() const override { return 4242; }
  std::uint32_t Wait(std::uint32_t) override { return kWaitObject0; }
  std::uint32_t ExitCode() override { return 0; }
  bool Terminate(std::uint32_t) override { return false; }
};

class RecordingLauncher : public ProcessLauncher {
 public:
  explicit RecordingLauncher(std::vector<SpawnRequest>* requests) : requests_(requests) {}
  std::unique_ptr<Process> Spawn(const SpawnRequest& request, std::uint32_t* error) override {
    requests_->push_back(request);
    *error = 0;
    return std::make_unique<FinishedProcess>();
  }

 private:
  std::vector<SpawnRequest>* requests_;
};

class ShellTest : public ::testing::Test {
 protected:
  void Record() { root_.Platform().launcher = std::make_unique<RecordingLauncher>(&requests_); }

  ShellResult Execute(const std::string& file, const std::string& parameters = "", bool want_process = false,
                      const std::string& verb = "open", const std::string& directory = "") {
    ShellRequest request;
    request.verb = verb;
    request.file = file;
    request.parameters = parameters;
    request.directory = directory;
    request.want_process = want_process;
    return ShellExecute(request);
  }

  // Runs the probe through "cmd.exe /c" with its standard error in a file; returns its exit code.
  std::uint32_t RunProbe(const std::string& arguments, const fs::path& err) {
    SpawnRequest request;
    request.command_line = std::string(R"(cmd.exe /c "")") + ORVO_PLATFORM_PROBE + "\" " + arguments + " 2>\"" +
                           err.string() + "\"\"";
    std::uint32_t error = 0;
    auto process = root_.Platform().launcher->Spawn(request, &error);
    if (!process) {
      ADD_FAILURE() << "cannot start the probe: " << error;
      return kStillActive;
    }
    EXPECT_EQ(process->Wait(20000), kWaitObject0);
    return process->ExitCode();
  }

  std::unique_ptr<Process> StartProbe(const std::string& arguments) {
    SpawnRequest request;
    request.command_line = std::string("\"") + ORVO_PLATFORM_PROBE + "\" " + arguments;
    request.hidden = true;
    std::uint32_t error = 0;
    auto process = root_.Platform().launcher->Spawn(request, &error);
    EXPECT_NE(process, nullptr) << error;
    return process;
  }

  test::TestRoot root_;
  std::vector<SpawnRequest> requests_;
};

TEST_F(ShellTest, ProgramRunsWithParametersInItsDirectoryAndGivesItsProcess) {
  root_.WriteFile(R"(C:\Apps\My Tool\tool.exe)", "#!/bin/sh\npwd > \"$2\"\nexit \"$1\"\n");
  const fs::path out = root_.Root() / "pwd.txt";
  for (const char* verb : {"", "open", "runas"}) {
    fs::remove(out);
    ShellResult result = Execute(R"(C:\Apps\My Tool\tool.exe)", "5 " + out.string(), true, verb, R"(C:\Apps)");
    ASSERT_TRUE(result.Succeeded()) << verb << ": " << result.code << "/" << result.last_error;
    ASSERT_NE(result.process, nullptr);
    EXPECT_EQ(result.process->Wait(20000), kWaitObject0);
    EXPECT_EQ(result.process->ExitCode(), 5u) << verb;
    EXPECT_TRUE(fs::equivalent(ReadText(out).substr(0, ReadText(out).size() - 1), root_.Linux(R"(C:\Apps)")));
  }
  ShellResult without = Execute(R"(C:\Apps\My Tool\tool.exe)", "0 " + out.string());
  EXPECT_TRUE(without.Succeeded());
  EXPECT_EQ(without.process, nullptr) << "the process only when asked for";
}

TEST_F(ShellTest, FailuresGiveTheShellCodeAndTheSystemError) {
  root_.WriteFile(R"(C:\Apps\windows.exe)", "MZ not for this system");
  struct Case {
    const char* file;
    const char* verb;
    std::uintptr_t code;
    std::uint32_t error;
  };
  const Case cases[] = {
      {R"(C:\Apps\missing.exe)", "open", 2, error::kFileNotFound},
      {R"(C:\Apps\windows.exe)", "open", 11, error::kBadFormat},
      {R"(C:\Apps\missing.txt)", "open", 2, error::kFileNotFound},
      {R"(C:\Apps\windows.exe)", "edit", 31, error::kNoAssociation},
      {"", "open", 2, error::kFileNotFound},
  };
  for (const Case& c : cases) {
    ShellResult result = Execute(c.file, "", true, c.verb);
    EXPECT_FALSE(result.Succeeded()) << c.file;
    EXPECT_EQ(result.code, c.code) << c.file;
    EXPECT_EQ(result.last_error, c.error) << c.file;
    EXPECT_EQ(result.process, nullptr) << c.file;
  }
}

TEST_F(ShellTest, ProgramsGoThroughTheLauncherWithTheirCommandLine) {
  root_.WriteFile(R"(C:\My Scripts\fix.bat)", "exit 0");
  Record();
  ShellRequest request;
  request.file = R"(C:\My Scripts\fix.bat)";
  request.parameters = R"(/a "b c")";
  request.directory = R"(C:\My Scripts)";
  request.hidden = true;
  EXPECT_TRUE(ShellExecute(request).Succeeded());
  EXPECT_TRUE(Execute("regsvr32", R"(/s "C:\Program Files\x.dll")", false, "runas").Succeeded());
  EXPECT_TRUE(Execute("fix.bat", "", false, "open", R"(C:\My Scripts)").Succeeded());
  ASSERT_EQ(requests_.size(), 3u);
  EXPECT_EQ(requests_[0].command_line, R"("C:\My Scripts\fix.bat" /a "b c")");
  EXPECT_EQ(requests_[0].working_folder, R"(C:\My Scripts)");
  EXPECT_TRUE(requests_[0].hidden);
  EXPECT_EQ(requests_[1].command_line, R"(regsvr32 /s "C:\Program Files\x.dll")");
  EXPECT_FALSE(requests_[1].hidden);
  EXPECT_EQ(requests_[2].command_line, R"("C:\My Scripts\fix.bat")") << "a relative name is taken in the directory";
}

TEST_F(ShellTest, MsiPackageNeedsAHandler) {
  const std::string package = R"(C:\Downloads\Orvo's Setup.msi)";
  root_.WriteFile(package, "package");
  {
    ScopedVariable none("ORVO_MSI_HANDLER", std::nullopt);
    ShellResult result = Execute(package, "/qn", true);
    EXPECT_EQ(result.code, 31u);
    EXPECT_EQ(result.last_error, error::kNoAssociation);
    EXPECT_EQ(result.process, nullptr);
  }
  const fs::path handler = root_.Root() / "handler.sh";
  const fs::path out = root_.Root() / "handler.txt";
  std::ofstream(handler) << "printf '%s\\n' \"$@\" > '" << out.string() << "'\nexit 3\n";
  ScopedVariable set("ORVO_MSI_HANDLER", "/bin/sh " + handler.string());
  ShellResult result = Execute(package, "/qn REBOOT=ReallySuppress", true);
  ASSERT_TRUE(result.Succeeded()) << result.code << "/" << result.last_error;
  ASSERT_NE(result.process, nullptr);
  EXPECT_EQ(result.process->Wait(20000), kWaitObject0);
  EXPECT_EQ(result.process->ExitCode(), 3u);
  EXPECT_EQ(ReadText(out), root_.Linux(package).string() + "\n/qn\nREBOOT=ReallySuppress\n");
  EXPECT_EQ(Execute(R"(C:\Downloads\missing.msi)").code, 2u);
}

TEST_F(ShellTest, UrlsAndDocumentsGoToXdgOpenWhenThereIsOne) {
  root_.WriteFile(R"(C:\Docs\read me.txt)", "text");
  Record();
  {
    const fs::path empty = root_.Root() / "empty-bin";
    fs::create_directories(empty);
    ScopedVariable path("PATH", empty.string());
    for (const char* file : {"https://example.com/a?b=c", R"(C:\Docs\read me.txt)"}) {
      ShellResult result = Execute(file);
      EXPECT_EQ(result.code, 31u) << file;
      EXPECT_EQ(result.last_error, error::kNoAssociation) << file;
    }
    EXPECT_TRUE(requests_.empty());
  }
  const fs::path bin = root_.Root() / "bin";
  fs::create_directories(bin);
  std::ofstream(bin / "xdg-open") << "#!/bin/sh\n";
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  ScopedVariable path("PATH", bin.string());
  const std::string opener = root_.Platform().drive.ToWindows(bin / "xdg-open");
  ShellResult url = Execute("HTTPS://example.com/a b?c=\"d\"", "", true);
  EXPECT_TRUE(url.Succeeded());
  EXPECT_EQ(url.process, nullptr) << "the opener's process is not the document's";
  EXPECT_TRUE(Execute("mailto:someone@example.com", "", false, "runas").Succeeded());
  EXPECT_TRUE(Execute(R"(C:\Docs\read me.txt)").Succeeded());
  ASSERT_EQ(requests_.size(), 3u);
  using Words = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine(requests_[0].command_line), (Words{opener, "HTTPS://example.com/a b?c=\"d\""}));
  EXPECT_EQ(SplitCommandLine(requests_[1].command_line), (Words{opener, "mailto:someone@example.com"}));
  EXPECT_EQ(SplitCommandLine(requests_[2].command_line),
            (Words{opener, root_.Linux(R"(C:\Docs\read me.txt)").string()}));
}

TEST_F(ShellTest, NamedMutexIsHeldOncePerName) {
  auto first = std::make_unique<NamedMutex>(R"(Global\OrvoInstaller_Mutex)");
  EXPECT_EQ(first->Error(), 0u);
  EXPECT_EQ(NamedMutex(R"(Global\OrvoInstaller_Mutex)").Error(), error::kAlreadyExists);
  EXPECT_EQ(NamedMutex("Global_OrvoInstaller_Mutex").Error(), 0u) << "names stay apart";
  EXPECT_EQ(NamedMutex("a/../b").Error(), 0u);
  const fs::path locks = root_.Root() / ".orvo" / "locks";
  EXPECT_EQ(fs::status(locks).permissions() & fs::perms::all, fs::perms::owner_all);
  for (const auto& entry : fs::directory_iterator(locks)) EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  first.reset();
  EXPECT_EQ(NamedMutex(R"(Global\OrvoInstaller_Mutex)").Error(), 0u);
}

TEST_F(ShellTest, NamedMutexAcrossProcesses) {
  const fs::path marker = root_.Root() / "held.txt";
  auto holder = StartProbe(R"(hold Global\OrvoTest )" + marker.string());
  ASSERT_NE(holder, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline && holder->Wait(20) == kWaitTimeout) {
  }
  ASSERT_TRUE(fs::exists(marker)) << "the holder did not take the mutex: " << holder->ExitCode();
  EXPECT_EQ(RunProbe(R"(mutex 'Global\OrvoTest')", root_.Root() / "err1.txt"), error::kAlreadyExists);
  EXPECT_TRUE(holder->Terminate(0));
  EXPECT_EQ(holder->Wait(20000), kWaitObject0);
  EXPECT_EQ(RunProbe(R"(mutex 'Global\OrvoTest')", root_.Root() / "err2.txt"), 0u);

  // A child started while we hold the mutex does not keep it after we let go.
  auto ours = std::make_unique<NamedMutex>("Inherit");
  ASSERT_EQ(ours->Error(), 0u);
  SpawnRequest request;
  request.command_line = "sleep 30";
  std::uint32_t error = 0;
  auto sleeper = root_.Platform().launcher->Spawn(request, &error);
  ASSERT_NE(sleeper, nullptr) << error;
  EXPECT_EQ(RunProbe("mutex Inherit", root_.Root() / "err3.txt"), error::kAlreadyExists);
  ours.reset();
  EXPECT_EQ(RunProbe("mutex Inherit", root_.Root() / "err4.txt"), 0u);
  EXPECT_EQ(sleeper->Wait(0), kWaitTimeout);
  sleeper->Terminate(0);
  sleeper->Wait(20000);
}

TEST_F(ShellTest, ConsoleMessageBoxAnswersWithItsDefaultButton) {
  const std::pair<std::uint32_t, int> cases[] = {
      {kMbOk | kMbIconError, kIdOk},
      {kMbOkCancel, kIdOk},
      {kMbYesNo | kMbIconWarning, kIdYes},
      {kMbYesNo | 0x100u, kIdNo},  // MB_DEFBUTTON2
      {kMbOkCancel | 0x100u, kIdCancel},
  };
  for (const auto& [flags, answer] : cases) {
    const fs::path err = root_.Root() / ("box" + std::to_string(flags) + ".txt");
    EXPECT_EQ(RunProbe("msgbox " + std::to_string(flags), err), static_cast<std::uint32_t>(answer)) << flags;
    EXPECT_EQ(ReadText(err), "Caption: Text\n");
  }
}

TEST_F(ShellTest, DebugOutputGoesToStandardErrorOnlyWhenAViewerIsAttached) {
  const fs::path off = root_.Root() / "off.txt";
  EXPECT_EQ(RunProbe("debug 'line one'", off), 0u);
  EXPECT_EQ(ReadText(off), "");
  root_.Platform().environment.Set("ORVO_DEBUG_OUTPUT", "1");
  const fs::path on = root_.Root() / "on.txt";
  EXPECT_EQ(RunProbe("debug 'line one'", on), 1u);
  EXPECT_EQ(ReadText(on), "line one");
  root_.Platform().environment.Set("ORVO_DEBUG_OUTPUT", "");
  EXPECT_EQ(RunProbe("debug 'line one'", off), 0u) << "an empty value is off";
  EXPECT_EQ(ReadText(off), "");
}

}  // namespace
}  // namespace orvo::platform

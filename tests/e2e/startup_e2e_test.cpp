// Runs the built OrvoInstaller.exe in fresh system roots and looks at what it leaves there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "support/test_root.h"

namespace orvo {
namespace {

namespace stdfs = std::filesystem;

struct RunResult {
  int exit_code = 0;     // the whole Windows code, from ORVO_EXIT_CODE_FILE
  std::string errors;    // standard error
  std::string output;    // standard output
};

class StartupEndToEnd : public ::testing::Test {
 protected:
  std::string Installer() const { return (test::BinaryDir() / "OrvoInstaller.exe").string(); }

  // Runs the installer with the arguments (a Windows command-line tail) through /bin/sh, to catch its
  // streams, and waits for it.
  RunResult Run(const std::string& arguments) {
    const stdfs::path out = root_.Root() / "run.out", err = root_.Root() / "run.err", code = root_.Root() / "run.code";
    stdfs::remove(code);
    std::ostringstream script;
    script << "ORVO_EXIT_CODE_FILE='" << code.string() << "' '" << Installer() << "' " << arguments << " >'"
           << out.string() << "' 2>'" << err.string() << "'";
    platform::SpawnRequest request;
    request.application = "Z:\\bin\\sh";
    request.command_line = platform::JoinCommandLine({"sh", "-c", script.str()});
    std::uint32_t error = 0;
    auto process = root_.Platform().launcher->Spawn(request, &error);
    EXPECT_NE(process, nullptr) << error;
    RunResult result;
    if (!process) return result;
    EXPECT_EQ(process->Wait(60000), platform::kWaitObject0);
    std::ifstream(code) >> result.exit_code;
    result.errors = Slurp(err);
    result.output = Slurp(out);
    return result;
  }

  static std::string Slurp(const stdfs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  stdfs::path WorkFolder(const std::string& id = "uqe9137") {
    return root_.Root() / "Users" / root_.Platform().drive.UserName() / "AppData/Local/Temp/OrvoInstaller" / id;
  }

  std::vector<stdfs::path> Logs(const std::string& id = "uqe9137") {
    std::vector<stdfs::path> logs;
    std::error_code error;
    for (const auto& entry : stdfs::directory_iterator(WorkFolder(id), error)) {
      if (entry.path().extension() == ".Log") logs.push_back(entry.path());
    }
    return logs;
  }

  static std::string DecodeUtf16(const std::string& bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return platform::Utf16ToUtf8(units);
  }

  test::TestRoot root_;
};

TEST_F(StartupEndToEnd, VersionAndHelpOnStandardOutput) {
  EXPECT_EQ(Run("--version").output, "2.0.1.46\n");
  EXPECT_NE(Run("--help").output.find("Usage: OrvoInstaller.exe"), std::string::npos);
}

TEST_F(StartupEndToEnd, SilentRunWritesItsLogIntoTheWorkingFolder) {
  const RunResult result = Run("/silent /installid orvo365_e2e");
  EXPECT_EQ(result.exit_code, -1);  // nothing was installed: not a success
  const auto logs = Logs("orvo365_e2e");
  ASSERT_EQ(logs.size(), 1u);
  const std::string name = logs[0].filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d\d_\d\d_\d\d_\d\d-\d\d(AM|PM)\.Log)"))) << name;
  const std::string bytes = Slurp(logs[0]);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");  // no byte-order mark
  EXPECT_EQ(bytes[1], '\0');                   // UTF-16LE "S"
  const std::string text = DecodeUtf16(bytes);
  const std::string first = text.substr(0, text.find('\n'));
  EXPECT_TRUE(std::regex_search(first, std::regex(R"(^Stub Installer \[\d+\] \[[^\]]+\] Debug )"))) << first;
  EXPECT_NE(first.find(Installer() + " /silent /installid orvo365_e2e"), std::string::npos) << first;
  struct stat info {};
  ASSERT_EQ(stat(WorkFolder("orvo365_e2e").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(StartupEndToEnd, SecondInteractiveStartReportsTheRunningInstallation) {
  platform::NamedMutex first_run("OrvoInstaller_Mutex");  // as a running installer holds it
  ASSERT_EQ(first_run.Error(), 0u);
  const RunResult second = Run("");
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_NE(second.errors.find("Orvo Installer: Another installation process is running at the moment."),
            std::string::npos)
      << second.errors;
  EXPECT_TRUE(Logs().empty());

  for (const char* arguments : {"/nomutexcheck", "/silent"}) {
    const RunResult started = Run(arguments);
    EXPECT_EQ(started.errors.find("Another installation"), std::string::npos) << arguments;
  }
  EXPECT_EQ(Logs().size(), 2u);  // both runs got as far as their log
}

TEST_F(StartupEndToEnd, RefusedStartsEndWithZeroAndWriteNothing) {
  EXPECT_EQ(Run("/uninstall \"\"").exit_code, 0);
  EXPECT_EQ(Run("/daemon 4242").exit_code, 0);
  EXPECT_EQ(Run("/daemon notanumber").exit_code, 0);
  EXPECT_TRUE(Logs().empty());
}

TEST_F(StartupEndToEnd, UninstallRunsFromTheTemporaryCopy) {
  const RunResult result = Run("/uninstall \"Orvo Photo\"");
  EXPECT_EQ(result.exit_code, 0);
  const stdfs::path copy = WorkFolder().parent_path().parent_path() / "OrvoUnInstaller" / "OrvoInstaller.exe";
  EXPECT_TRUE(stdfs::is_regular_file(copy));
  // The copy goes on by itself; wait for its log.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Logs().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto logs = Logs();
  ASSERT_EQ(logs.size(), 1u);
  // Its log line may still be on the way; the first line is written right after the file is made.
  std::string text;
  while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    text = DecodeUtf16(Slurp(logs[0]));
  }
  // The copy was started with the unchanged command line: its first argument is still the original path.
  EXPECT_NE(text.find("Debug " + Installer() + " /uninstall \"Orvo Photo\""), std::string::npos) << text;
}

}  // namespace
}  // namespace orvo

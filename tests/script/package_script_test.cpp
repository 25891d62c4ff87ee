// The package script runner: reading encrypted and plain scripts, the short-lived decrypted copy, invalid
// documents, and the order in which the sections run in both directions.
#include "script/package_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "script/cipher.h"
#include "support/recording_launcher.h"
#include "support/test_root.h"

namespace orvo::script {
namespace {

namespace stdfs = std::filesystem;
using platform::Hive;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr const char* kFolder = "C:\\Program Files (x86)\\Orvo\\Pkg";

std::string Slurp(const stdfs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsDecryptedCopyName(const std::string& name) {
  static const std::regex pattern("orvopack_[a-z0-9]{8}\\.json");
  return std::regex_match(name, pattern);
}

class PackageScriptTest : public ::testing::Test {
 protected:
  PackageScriptTest() : launcher_(test::RecordingLauncher::Install()) {}

  std::string PathOf(const std::string& name) const { return std::string(kFolder) + "\\" + name; }
  std::string WriteEncrypted(const std::string& json, const std::string& name = "orvopack.bin") {
    root_.WriteFile(PathOf(name), AesCipher::ForPackageScripts().Encrypt(json));
    return PathOf(name);
  }
  std::string WritePlain(const std::string& name, const std::string& text) {
    root_.WriteFile(PathOf(name), text);
    return PathOf(name);
  }
  // The decrypted copies in the package folder right now.
  std::vector<std::string> Copies() const {
    std::vector<std::string> copies;
    std::error_code error;
    for (const auto& entry : stdfs::directory_iterator(root_.Linux(kFolder), error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("orvopack_", 0) == 0) copies.push_back(name);
    }
    return copies;
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : capture_.Entries()) messages.push_back(entry.message);
    return messages;
  }
  std::vector<std::string> CommandLines() const {
    std::vector<std::string> lines;
    for (const auto& request : launcher_->requests) lines.push_back(request.command_line);
    return lines;
  }
  static std::string Start(const std::string& path, const char* uninstall, const char* register_type) {
    return "Start to run config file: " + path + ", unInstall: " + uninstall + ", registerType: " + register_type;
  }

  test::TestRoot root_;
  std::shared_ptr<test::RecordingLauncher::Shared> launcher_;
  log::ScopedCapture capture_;
};

TEST_F(PackageScriptTest, AMissingScriptOrAFolderIsNotRun) {
  const std::string missing = PathOf("orvopack.bin");
  EXPECT_FALSE(RunPackageScript(missing, false, true));
  root_.WriteFile(PathOf("Sub\\x.txt"), "x");
  EXPECT_FALSE(RunPackageScript(PathOf("Sub"), true, false));
  EXPECT_THAT(Messages(), ElementsAre(Start(missing, "false", "true"), "The config path is not exist.",
                                      Start(PathOf("Sub"), "true", "false"), "The config path is not exist."));
}

TEST_F(PackageScriptTest, AnEncryptedScriptRunsFromADecryptedCopyBesideItThatIsRemovedAfterwards) {
  const std::string json = R"({"folder": "%~dp0",
    "beforeinstall": [{"name": "cmd", "data": ["echo during the run"]}],
    "registry": [{"path": "HKCU\\Software\\Orvo\\Pkg", "name": "Folder", "data": "%folder%"}]})";
  const std::string script = WriteEncrypted(json);
  std::vector<std::string> copies_during_run;
  std::string copy_content;
  launcher_->answer = [&](const platform::SpawnRequest&) {
    copies_during_run = Copies();
    if (copies_during_run.size() == 1) copy_content = Slurp(root_.Linux(PathOf(copies_during_run[0])));
    return 0LL;
  };

  EXPECT_TRUE(RunPackageScript(script, false, true));
  ASSERT_THAT(copies_during_run, SizeIs(1));
  EXPECT_TRUE(IsDecryptedCopyName(copies_during_run[0])) << copies_during_run[0];
  EXPECT_EQ(copy_content, json + "\n");
  EXPECT_THAT(Copies(), IsEmpty());
  EXPECT_TRUE(stdfs::exists(root_.Linux(script)));
  // "%~dp0" is the folder of orvopack.bin, not of the copy's name.
  EXPECT_EQ(platform::Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\Pkg", "Folder"),
            std::string(kFolder) + "\\");
  const std::vector<std::string> messages = Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), Start(script, "false", "true"));
  EXPECT_EQ(messages.back(), "Run the config file successfully.");
}

TEST_F(PackageScriptTest, ScriptsThatDoNotDecryptToAnObjectFailAndLeaveNoCopy) {
  const AesCipher cipher = AesCipher::ForPackageScripts();
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not a ciphertext", std::string("\x13\x37 not encrypted at all, 37 bytes long")},
      {"empty file", ""},
      {"empty plain text", cipher.Encrypt("")},
      {"malformed JSON", cipher.Encrypt(R"({"registry": [)")},
      {"array", cipher.Encrypt(R"([{"registry": []}])")},
      {"string", cipher.Encrypt(R"("text")")},
  };
  for (const auto& c : cases) {
    root_.WriteFile(PathOf("orvopack.bin"), c.bytes);
    log::ScopedCapture capture;
    EXPECT_FALSE(RunPackageScript(PathOf("orvopack.bin"), false, true)) << c.name;
    EXPECT_TRUE(capture.Contains(log::Level::kInfo, "Invalid config file: " + PathOf("orvopack.bin"))) << c.name;
    EXPECT_FALSE(capture.Contains("Run the config file successfully.")) << c.name;
    EXPECT_THAT(Copies(), IsEmpty()) << c.name;
    EXPECT_EQ(Slurp(root_.Linux(PathOf("orvopack.bin"))), c.bytes) << c.name;
  }
}

TEST_F(PackageScriptTest, APlainScriptThatDoesNotParseIsReportedAndKept) {
  const std::string broken = WritePlain("package.json", R"({"registry": [{"path": "HKCU\\x"})");
  EXPECT_FALSE(RunPackageScript(broken, false, true));
  EXPECT_THAT(Messages(), ElementsAre(Start(broken, "false", "true"), "Invalid config file: " + broken));
  EXPECT_EQ(Slurp(root_.Linux(broken)), R"({"registry": [{"path": "HKCU\\x"})");
}

TEST_F(PackageScriptTest, OnlyTheExactNameIsDecryptedAndPlainScriptsStayAfterTheirRun) {
  // An encrypted script under another letter case is read as plain JSON, which it is not.
  const std::string other_case = WriteEncrypted(R"({"n": 1})", "Orvopack.bin");
  EXPECT_FALSE(RunPackageScript(other_case, false, true));
  EXPECT_TRUE(capture_.Contains("Invalid config file: " + other_case));
  EXPECT_TRUE(stdfs::exists(root_.Linux(other_case)));

  const std::string plain = WritePlain(
      "ORVOPACK.BIN", R"({"registry": [{"path": "HKCU\\Software\\Orvo\\Plain", "name": "n", "data": "v"}]})");
  EXPECT_TRUE(RunPackageScript(plain, false, true));
  EXPECT_EQ(platform::Reg().ReadString(Hive::kCurrentUser, "Software\\Orvo\\Plain", "n"), "v");
  EXPECT_TRUE(stdfs::exists(root_.Linux(plain)));
  EXPECT_THAT(Copies(), IsEmpty());
}

TEST_F(PackageScriptTest, MembersThatAreNotArraysAndUnknownMembersAreSkippedSilently) {
  const std::string script = WriteEncrypted(R"({
    "registry": {"path": "HKCU\\Software\\Orvo\\Object", "name": "n", "data": "v"},
    "firewall": "Orvo", "regsvr32": 5, "service": null, "registertype": {"extensions": [".orv"]},
    "beforeinstall": {"name": "cmd", "data": ["echo x"]}, "afterinstall": "cmd",
    "unknown": [{"name": "cmd", "data": ["echo y"]}]})");
  EXPECT_TRUE(RunPackageScript(script, false, true));
  EXPECT_THAT(Messages(), ElementsAre(Start(script, "false", "true"), "Run the config file successfully."));
  EXPECT_THAT(CommandLines(), IsEmpty());
  EXPECT_EQ(platform::Reg().OpenKey(Hive::kCurrentUser, "Software\\Orvo\\Object"), platform::error::kFileNotFound);
}

TEST_F(PackageScriptTest, FileTypesAreRegisteredOnlyWhenAskedButAlwaysRemoved) {
  const std::string script = WriteEncrypted(R"({"registertype": [{"extensions": [".orv"], "prekey": "Orvo",
                                                  "postkey": "1", "path": "C:\\Orvo\\app.exe"}]})");
  const auto ftype_lines = [&] {
    int lines = 0;
    for (const std::string& line : CommandLines()) lines += line.find("ftype ") != std::string::npos ? 1 : 0;
    return lines;
  };
  EXPECT_TRUE(RunPackageScript(script, false, false));
  EXPECT_EQ(ftype_lines(), 0);
  EXPECT_TRUE(RunPackageScript(script, false, true));
  EXPECT_EQ(ftype_lines(), 1);
  EXPECT_TRUE(RunPackageScript(script, true, false));
  EXPECT_EQ(ftype_lines(), 2);
}

// Every section leaves a trace in the log: the invalid items log their lines, and each process start (the
// phases' "cmd" actions, "ftype" and "assoc") is logged by the launcher with whether the registry value of
// the "registry" section exists at that moment.
class SectionOrderTest : public PackageScriptTest {
 protected:
  static constexpr const char* kValueKey = "Software\\Orvo\\Order";

  SectionOrderTest() {
    launcher_->answer = [](const platform::SpawnRequest& request) {
      const bool value = platform::Reg().ReadString(Hive::kCurrentUser, kValueKey, "n").has_value();
      log::Info("spawn %s value:%s", request.command_line.c_str(), value ? "yes" : "no");
      return 0LL;
    };
    script_ = WriteEncrypted(R"({
      "afteruninstall": [{"name": "cmd", "data": ["echo afteruninstall"]}],
      "afterinstall": [{"name": "cmd", "data": ["echo afterinstall"]}],
      "service": [{"servicename": ""}],
      "firewall": [{"name": ""}],
      "regsvr32": [{"path": ""}],
      "registertype": [{"extensions": [".orv"], "prekey": "Orvo", "postkey": "1", "path": "C:\\Orvo\\app.exe"}],
      "registry": [{"path": "NoBackslash"}, {"path": "HKCU\\Software\\Orvo\\Order", "name": "n", "data": "v"}],
      "beforeuninstall": [{"name": "cmd", "data": ["echo beforeuninstall"]}],
      "beforeinstall": [{"name": "cmd", "data": ["echo beforeinstall"]}]})");
  }

  // The sections in the order their traces appear, with the registry state at each process start.
  std::vector<std::string> Timeline() const {
    const std::pair<const char*, const char*> markers[] = {{"find one invalid registry item", "registry"},
                                                           {"find one invalid regsvr32 item", "regsvr32"},
                                                           {"find one invalid netsh item", "firewall"},
                                                           {"find one invalid service item", "service"}};
    std::vector<std::string> timeline;
    for (const std::string& message : Messages()) {
      std::string mark;
      if (message.rfind("spawn ", 0) == 0) {
        const std::string state = message.substr(message.rfind(' ') + 1);
        for (const char* phase : {"beforeinstall", "afterinstall", "beforeuninstall", "afteruninstall"}) {
          if (message.find(std::string("echo ") + phase) != std::string::npos) mark = std::string(phase) + " " + state;
        }
        if (message.find("ftype ") != std::string::npos || message.find("assoc ") != std::string::npos) {
          mark = "registertype " + state;
        }
      }
      for (const auto& [text, name] : markers) {
        if (message.rfind(text, 0) == 0) mark = name;
      }
      if (!mark.empty() && (timeline.empty() || timeline.back() != mark)) timeline.push_back(mark);
    }
    return timeline;
  }

  std::string script_;
};

TEST_F(SectionOrderTest, InstallRunsTheSectionsInTheirFixedOrder) {
  EXPECT_TRUE(RunPackageScript(script_, false, true));
  EXPECT_THAT(Timeline(), ElementsAre("beforeinstall value:no", "registry", "registertype value:yes", "regsvr32",
                                      "firewall", "service", "afterinstall value:yes"));
  EXPECT_EQ(Messages().back(), "Run the config file successfully.");
}

TEST_F(SectionOrderTest, UninstallRunsTheSameOrderWithItsOwnPhases) {
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kCurrentUser, kValueKey), 0u);
  ASSERT_EQ(platform::Reg().SetString(Hive::kCurrentUser, kValueKey, "n", "v"), 0u);
  EXPECT_TRUE(RunPackageScript(script_, true, false));
  EXPECT_THAT(Timeline(), ElementsAre("beforeuninstall value:yes", "registry", "registertype value:no", "regsvr32",
                                      "firewall", "service", "afteruninstall value:no"));
  EXPECT_EQ(Messages().back(), "Run the config file successfully.");
}

TEST(DecryptedCopyNameTest, IsEightCharactersOfTheAlphabetAndVaries) {
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    const std::string name = DecryptedCopyName();
    EXPECT_TRUE(IsDecryptedCopyName(name)) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 50u);  // seeded afresh for every name
}

}  // namespace
}  // namespace orvo::script

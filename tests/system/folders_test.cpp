// The folder macros of install folders and the installer's fixed folders.
#include "system/folders.h"

#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "support/test_root.h"

namespace orvo::sys {
namespace {

TEST(FolderMacroTest, ReplacesTheWholeValueAndLogsTheReplacement) {
  test::TestRoot root;
  struct Case {
    std::string install_folder;
    std::string base;
    std::string line;  // empty: nothing logged
  };
  const Case cases[] = {
      {"%common%", "C:\\Program Files (x86)\\Common Files\\Orvo",
       "install to common installed path: C:\\Program Files (x86)\\Common Files\\Orvo"},
      {"%common%\\Ignored\\Rest", "C:\\Program Files (x86)\\Common Files\\Orvo",
       "install to common installed path: C:\\Program Files (x86)\\Common Files\\Orvo"},
      {"%orvocommon%", "C:\\Program Files (x86)\\Orvo", "install to orvo common installed path: C:\\Program Files (x86)\\Orvo"},
      {"%orvocommon%Tools", "C:\\Program Files (x86)\\Orvo",
       "install to orvo common installed path: C:\\Program Files (x86)\\Orvo"},
      {"%COMMON%", "", ""},
      {"%OrvoCommon%", "", ""},
      {"Tools\\%common%", "", ""},
      {"%common", "", ""},
      {"Tools", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    log::ScopedCapture capture;
    EXPECT_EQ(ExpandFolderMacro(c.install_folder), c.base) << c.install_folder;
    if (c.line.empty()) {
      EXPECT_TRUE(capture.Entries().empty()) << c.install_folder;
    } else {
      EXPECT_TRUE(capture.Contains(log::Level::kDebug, c.line)) << c.install_folder;
      EXPECT_EQ(capture.Entries().size(), 1u) << c.install_folder;
    }
  }
}

TEST(FolderMacroTest, On32BitWindowsTheFoldersHaveNoX86Suffix) {
  test::TestRoot root(R"({"windows64": false})");
  EXPECT_FALSE(IsWindows64());
  EXPECT_EQ(ExpandFolderMacro("%common%"), "C:\\Program Files\\Common Files\\Orvo");
  EXPECT_EQ(ExpandFolderMacro("%orvocommon%"), "C:\\Program Files\\Orvo");
  EXPECT_EQ(InstallerProgramFolder(), "C:\\Program Files\\Orvo\\OrvoInstaller");
}

TEST(FixedFoldersTest, AreBuiltFromTheKnownFolders) {
  test::TestRoot root;
  const std::string temp = "C:\\Users\\" + root.Platform().drive.UserName() + "\\AppData\\Local\\Temp";
  EXPECT_TRUE(IsWindows64());
  EXPECT_EQ(InstallerProgramFolder(), "C:\\Program Files (x86)\\Orvo\\OrvoInstaller");
  EXPECT_EQ(RunScratchFolder("uqe9137"), temp + "\\OrvoInstaller\\uqe9137\\temp");
  EXPECT_EQ(VersionScratchFolder("uqe9137"), temp + "\\OrvoInstaller\\temp\\uqe9137");
  EXPECT_EQ(RunScratchFolder("vl42"), temp + "\\OrvoInstaller\\vl42\\temp");
  EXPECT_EQ(VersionScratchFolder("vl42"), temp + "\\OrvoInstaller\\temp\\vl42");
  EXPECT_EQ(StartMenuWorkFolder(), temp);
}

}  // namespace
}  // namespace orvo::sys

#include "platform/system_drive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/test_root.h"

namespace orvo::platform {
namespace {

namespace stdfs = std::filesystem;

class SystemDriveTest : public ::testing::Test {
 protected:
  test::TempFolder folder_;
  SystemDrive drive_{folder_.Path(), "tester", true};
  void SetUp() override { ASSERT_TRUE(drive_.CreateLayout()); }
  stdfs::path Root() const { return drive_.Root(); }
};

TEST_F(SystemDriveTest, KnownFoldersAreThoseOfA32BitProcessOn64BitWindows) {
  EXPECT_EQ(drive_.KnownFolderPath(KnownFolder::kProgramFiles), "C:\\Program Files (x86)");
  EXPECT_EQ(drive_.KnownFolderPath(KnownFolder::kCommonFiles), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(drive_.KnownFolderPath(KnownFolder::kTemp), "C:\\Users\\tester\\AppData\\Local\\Temp");
  EXPECT_EQ(drive_.KnownFolderPath(KnownFolder::kSystemX86), "C:\\Windows\\SysWOW64");
  EXPECT_TRUE(stdfs::is_directory(Root() / "Users/tester/AppData/Local/Temp"));
  EXPECT_TRUE(stdfs::is_directory(Root() / "ProgramData/Microsoft/Windows/Start Menu/Programs"));

  SystemDrive x86(folder_.Path(), "tester", false);
  EXPECT_EQ(x86.KnownFolderPath(KnownFolder::kProgramFiles), "C:\\Program Files");
  EXPECT_EQ(x86.KnownFolderPath(KnownFolder::kSystemX86), "C:\\Windows\\System32");
}

TEST_F(SystemDriveTest, MapsDrivesAndNormalisesLikeWindows) {
  EXPECT_EQ(drive_.ToLinux("C:\\"), Root());
  EXPECT_EQ(drive_.ToLinux("c:/Users/Public"), Root() / "Users/Public");
  EXPECT_EQ(drive_.ToLinux("Z:\\tmp\\x"), stdfs::path("/tmp/x"));
  EXPECT_EQ(drive_.ToLinux("C:\\a\\.\\b\\..\\c"), Root() / "a/c");
  EXPECT_EQ(drive_.ToLinux("C:\\..\\..\\etc\\passwd"), Root() / "etc/passwd");  // never above the root
  EXPECT_EQ(drive_.ToLinux("\\\\?\\C:\\ProgramData"), Root() / "ProgramData");
  EXPECT_EQ(drive_.ToLinux("\\ProgramData"), Root() / "ProgramData");
  EXPECT_EQ(drive_.ToLinux("rel\\file.txt"), stdfs::path("rel/file.txt"));
  EXPECT_TRUE(drive_.ToLinux("D:\\x").empty());
  EXPECT_TRUE(drive_.ToLinux("\\\\server\\share").empty());
  EXPECT_TRUE(drive_.ToLinux("").empty());
}

TEST_F(SystemDriveTest, FindsExistingNamesWithoutRegardToCase) {
  EXPECT_EQ(drive_.ToLinux("C:\\PROGRAMDATA\\microsoft\\WINDOWS"), Root() / "ProgramData/Microsoft/Windows");
  // Missing components keep the case given, after the existing ones were matched.
  EXPECT_EQ(drive_.ToLinux("C:\\users\\PUBLIC\\NewDir\\File.TXT"), Root() / "Users/Public/NewDir/File.TXT");
}

TEST_F(SystemDriveTest, System32IsRedirectedForA32BitProcessUnlessSwitchedOff) {
  stdfs::create_directories(Root() / "Windows/System32/drivers/etc");
  EXPECT_EQ(drive_.ToLinux("C:\\Windows\\system32\\mshtml.dll"), Root() / "Windows/SysWOW64/mshtml.dll");
  EXPECT_EQ(drive_.ToLinux("C:\\Windows\\System32\\drivers\\etc\\hosts"), Root() / "Windows/System32/drivers/etc/hosts");
  EXPECT_EQ(drive_.ToLinux("C:\\Windows\\Sysnative\\x.dll"), Root() / "Windows/System32/x.dll");
  {
    ScopedFsRedirectionOff off;
    EXPECT_FALSE(FsRedirectionEnabled());
    EXPECT_EQ(drive_.ToLinux("C:\\Windows\\System32\\x.dll"), Root() / "Windows/System32/x.dll");
  }
  EXPECT_TRUE(FsRedirectionEnabled());
  SystemDrive x86(folder_.Path(), "tester", false);
  EXPECT_EQ(x86.ToLinux("C:\\Windows\\System32\\x.dll"), Root() / "Windows/System32/x.dll");
}

TEST_F(SystemDriveTest, LinuxPathsGoBackToCOrZ) {
  EXPECT_EQ(drive_.ToWindows(Root() / "Program Files (x86)/Orvo"), "C:\\Program Files (x86)\\Orvo");
  EXPECT_EQ(drive_.ToWindows(Root()), "C:\\");
  EXPECT_EQ(drive_.ToWindows("/usr/bin/env"), "Z:\\usr\\bin\\env");
  EXPECT_EQ(drive_.ToWindows("/"), "Z:\\");
  EXPECT_EQ(drive_.ToLinux(drive_.ToWindows("/usr/bin")), stdfs::path("/usr/bin"));
}

TEST(WindowsPaths, JoinAndTrailingBackslash) {
  EXPECT_EQ(JoinPath("C:\\Temp\\", "OrvoInstaller"), "C:\\Temp\\OrvoInstaller");
  EXPECT_EQ(JoinPath("C:\\Temp", "\\x"), "C:\\Temp\\x");
  EXPECT_EQ(JoinPath("", "x"), "x");
  EXPECT_EQ(JoinPath("C:\\", "x"), "C:\\x");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\Temp\\\\"), "C:\\Temp");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\Temp"), "C:\\Temp\\");
  EXPECT_EQ(WithTrailingBackslash("C:\\Temp\\"), "C:\\Temp\\");
}

}  // namespace
}  // namespace orvo::platform

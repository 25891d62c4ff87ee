#include "platform/environment.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/system_drive.h"
#include "support/test_root.h"

namespace orvo::platform {
namespace {

TEST(WindowsEnvironment, HoldsTheVariablesOfA32BitProcess) {
  SystemDrive drive("/srv/root", "tester", true);
  const auto env = WindowsEnvironment::ForDrive(drive);
  EXPECT_EQ(env.Get("ProgramData"), "C:\\ProgramData");
  EXPECT_EQ(env.Get("public"), "C:\\Users\\Public");  // names compare without regard to case
  EXPECT_EQ(env.Get("systemroot"), "C:\\Windows");
  EXPECT_EQ(env.Get("CommonProgramFiles(x86)"), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(env.Get("CommonProgramFiles"), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(env.Get("PATH"), "C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem");
  EXPECT_FALSE(env.Get("NoSuchVariable"));
}

TEST(WindowsEnvironment, ExpandsKnownNamesAndKeepsUnknownOnes) {
  WindowsEnvironment env;
  env.Set("ProgramData", "C:\\ProgramData");
  env.Set("X", "1");
  EXPECT_EQ(env.Expand("%programdata%\\Orvo"), "C:\\ProgramData\\Orvo");
  EXPECT_EQ(env.Expand("%unknown%\\%X%"), "%unknown%\\1");
  EXPECT_EQ(env.Expand("50% of %X%"), "50% of %X%");  // "% of %" is no known name; "X%" has no opening
  EXPECT_EQ(env.Expand("100%"), "100%");
  EXPECT_EQ(env.Expand("%%"), "%%");
}

TEST(WindowsEnvironment, ChildrenGetLinuxFormPathsAndTheirOwnPath) {
  test::TempFolder folder;
  SystemDrive drive(folder.Path(), "tester", true);
  ASSERT_TRUE(drive.CreateLayout());
  const auto env = WindowsEnvironment::ForDrive(drive);
  const auto child = env.ForLinuxChild(drive, {"HOME=/root", "PATH=/usr/bin:/bin", "TEMP=/tmp"});
  const auto has = [&](const std::string& entry) { return std::count(child.begin(), child.end(), entry) == 1; };
  EXPECT_TRUE(has("HOME=/root"));
  EXPECT_TRUE(has("ProgramData=" + (drive.Root() / "ProgramData").string()));
  EXPECT_TRUE(has("TEMP=" + (drive.Root() / "Users/tester/AppData/Local/Temp").string()));  // ours wins
  EXPECT_TRUE(has("OS=Windows_NT"));
  const std::string sys32 = drive.ToLinux("C:\\Windows\\system32").string();
  EXPECT_TRUE(has("PATH=" + sys32 + ":" + (drive.Root() / "Windows").string() + ":" +
                  drive.ToLinux("C:\\Windows\\System32\\Wbem").string() + ":/usr/bin:/bin"));
}

}  // namespace
}  // namespace orvo::platform

// Detection of installed runtimes and hotfixes.
#include "plan/prerequisites.h"

#include <gtest/gtest.h>

#include <string>

#include "app/log.h"
#include "platform/platform.h"
#include "platform/win_types.h"
#include "support/pe_builder.h"
#include "support/test_root.h"

namespace orvo::plan {
namespace {

using platform::Hive;
using platform::RegView;

constexpr const char* kRuntimeKey = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86";
constexpr const char* kDotNetKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";

TEST(IsVersionAtLeastTest, ComparesSharedPartsThenPartCounts) {
  struct Case {
    const char* installed;
    const char* required;
    bool result;
  };
  const Case cases[] = {
      {"14.36.32532.0", "14.36.32532.0", true},
      {"14.36.32533.0", "14.36.32532.0", true},
      {"14.36.32531.9", "14.36.32532.0", false},
      {"14.4", "14.36.32532.0", false},  // numeric: 4 < 36
      {"14.40", "14.36.32532.0", true},  // a greater part decides, missing parts do not matter
      {"14.36", "14.36.0.0", false},     // equal shared parts but fewer of them
      {"14.36.0.0.1", "14.36.0.0", true},
      {"2", "1.9.9.9", true},
      {"1.beta", "1.0", true},  // text that is not a number counts as 0
      {"1.0", "1.beta", true},
      {"1.x", "1.1", false},
      {"", "1.0", false},  // no parts
      {"", "", true},
      {"1.0", "", true},
      {"99999999999999999999999", "1", true},  // saturates, never overflows into a negative part
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsVersionAtLeast(c.installed, c.required), c.result) << c.installed << " vs " << c.required;
  }
}

class RegistryVersionTest : public ::testing::Test {
 protected:
  void SetVersion(const std::string& text) {
    ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, kRuntimeKey), 0u);
    ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, kRuntimeKey, "Version", text), 0u);
  }
  test::TestRoot root_;
};

TEST_F(RegistryVersionTest, NormalisesTheStoredTextBeforeComparing) {
  struct Case {
    std::string stored;
    std::string required;
    bool result;
  };
  const Case cases[] = {
      {"v14.36.32532", "14.36.32532.0", true},  // "v" dropped, ".0" appended
      {"v14.36.32532", "14.36.32532.1", false},
      {"14.36.32532", "14.36.32532.0", true},
      {"v14.36.32532.00", "14.36.32532.0", true},
      {"v14.36", "14.36.0.0", false},  // only three parts get ".0"
      {"V14.36.32532", "14.36.32532.0", false},  // only a lower-case v is a prefix; "V14" reads as 0
      {"vv14.36.32532", "1.0.0.0", false},       // one v only
      {"", "0.0.0.0", false},
      {std::string(127, '9'), "1", true},         // 254 bytes and the terminator fit the buffer
      {"9" + std::string(127, '.'), "1", false},  // 128 characters do not
  };
  for (const Case& c : cases) {
    SetVersion(c.stored);
    EXPECT_EQ(CheckRegistryVersion(kRuntimeKey, c.required, true), c.result) << c.stored << " vs " << c.required;
  }
}

TEST_F(RegistryVersionTest, MissingOrUnreadableValuesAreNotPresent) {
  EXPECT_FALSE(CheckRegistryVersion(kRuntimeKey, "0.0.0.0", true));  // no key
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, kRuntimeKey), 0u);
  EXPECT_FALSE(CheckRegistryVersion(kRuntimeKey, "0.0.0.0", true));  // no value
  ASSERT_EQ(platform::Reg().SetDword(Hive::kLocalMachine, kRuntimeKey, "Version", 14), 0u);
  EXPECT_FALSE(CheckRegistryVersion(kRuntimeKey, "0.0.0.0", true));  // a number, not a text
}

TEST_F(RegistryVersionTest, ReadsTheThirtyTwoBitViewAndLogsTheResult) {
  // A runtime registered only in the 64-bit view is invisible to this 32-bit program.
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, kRuntimeKey, RegView::kView64), 0u);
  ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, kRuntimeKey, "Version", "v14.36.32532", RegView::kView64),
            0u);
  log::ScopedCapture capture;
  EXPECT_FALSE(CheckRegistryVersion(kRuntimeKey, "14.0.0.0", false));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo,
                               "VC Redist Reg check: reg:SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86, "
                               "x86:0, ret: 0"));

  const std::string redirected = "SOFTWARE\\WOW6432Node\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86";
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, redirected, RegView::kView64), 0u);
  ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, redirected, "Version", "v14.36.32532", RegView::kView64),
            0u);
  EXPECT_TRUE(CheckRegistryVersion(kRuntimeKey, "14.0.0.0", true));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo,
                               "VC Redist Reg check: reg:SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x86, "
                               "x86:1, ret: 1"));
}

std::string Dll(const test::PeVersion& version, bool pe32_plus) {
  return test::BuildVersionedPe(version, {1, 0, 0, 0}, {}, pe32_plus);
}

TEST(FileVersionCheckTest, PicksTheSystemFolderOfTheRuntimesArchitecture) {
  test::TestRoot root;  // 64-bit Windows
  // "Sysnative" reaches the real System32 past the redirection of this 32-bit process.
  root.WriteFile("C:\\Windows\\Sysnative\\msvcp140.dll", Dll({14, 40, 33810, 0}, true));
  root.WriteFile("C:\\Windows\\SysWOW64\\msvcp140.dll", Dll({14, 29, 30133, 0}, false));

  log::ScopedCapture capture;
  EXPECT_TRUE(CheckFileVersion(false, "msvcp140.dll", "14.40.33810.0"));
  EXPECT_FALSE(CheckFileVersion(false, "msvcp140.dll", "14.40.33811.0"));
  EXPECT_TRUE(CheckFileVersion(true, "msvcp140.dll", "14.29.30133.0"));
  EXPECT_FALSE(CheckFileVersion(true, "msvcp140.dll", "14.30.0.0"));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo,
                               "VC Redist Reg check: folder:C:\\Windows\\System32, filename:msvcp140.dll, x86:0, ret: 1"));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo,
                               "VC Redist Reg check: folder:C:\\Windows\\SysWOW64, filename:msvcp140.dll, x86:1, ret: 0"));
  // The redirection is on again afterwards.
  EXPECT_TRUE(platform::FsRedirectionEnabled());
}

TEST(FileVersionCheckTest, ThirtyTwoBitWindowsHasOneSystemFolder) {
  test::TestRoot root(R"({"windows64": false})");
  root.WriteFile("C:\\Windows\\System32\\msvcp140.dll", Dll({14, 36, 32532, 0}, false));
  log::ScopedCapture capture;
  EXPECT_TRUE(CheckFileVersion(true, "msvcp140.dll", "14.36.32532.0"));
  EXPECT_TRUE(capture.Contains(log::Level::kInfo,
                               "VC Redist Reg check: folder:C:\\Windows\\System32, filename:msvcp140.dll, x86:1, ret: 1"));
}

TEST(FileVersionCheckTest, AFileWithoutVersionIsNotPresent) {
  test::TestRoot root;
  test::PeImageOptions no_version;
  no_version.version.reset();
  root.WriteFile("C:\\Windows\\SysWOW64\\plain.dll", test::BuildPeImage(no_version).bytes);
  root.WriteFile("C:\\Windows\\SysWOW64\\notes.txt", "14.0.0.0");
  EXPECT_FALSE(CheckFileVersion(true, "plain.dll", "0.0.0.0"));
  EXPECT_FALSE(CheckFileVersion(true, "notes.txt", "0.0.0.0"));
  EXPECT_FALSE(CheckFileVersion(true, "missing.dll", "0.0.0.0"));
}

TEST(ReleaseNumberTest, ComparesTheReleaseValueWithTheRequiredNumber) {
  test::TestRoot root;
  EXPECT_FALSE(CheckReleaseNumber(kDotNetKey, "0"));  // no key
  ASSERT_EQ(platform::Reg().CreateKey(Hive::kLocalMachine, kDotNetKey), 0u);
  EXPECT_FALSE(CheckReleaseNumber(kDotNetKey, "0"));  // no value
  ASSERT_EQ(platform::Reg().SetDword(Hive::kLocalMachine, kDotNetKey, "Release", 528040), 0u);
  EXPECT_TRUE(CheckReleaseNumber(kDotNetKey, "528040"));
  EXPECT_TRUE(CheckReleaseNumber(kDotNetKey, "461808"));
  EXPECT_FALSE(CheckReleaseNumber(kDotNetKey, "528041"));
  EXPECT_FALSE(CheckReleaseNumber(kDotNetKey, "4294967296"));  // beyond any 4-byte value
  EXPECT_TRUE(CheckReleaseNumber(kDotNetKey, "abc"));          // not a number: 0
  ASSERT_EQ(platform::Reg().SetString(Hive::kLocalMachine, kDotNetKey, "Release", "528040"), 0u);
  EXPECT_FALSE(CheckReleaseNumber(kDotNetKey, "1"));  // a text is not the number value
}

TEST(HotfixTest, FindsTheIdAmongTheInstalledUpdatesExactly) {
  test::TestRoot root(R"({"hotfixes": ["KB2919442", "KB2919355"]})");
  EXPECT_TRUE(IsHotfixInstalled("KB2919355"));
  EXPECT_FALSE(IsHotfixInstalled("kb2919355"));  // case-sensitive
  EXPECT_FALSE(IsHotfixInstalled("KB291935"));
  EXPECT_FALSE(IsHotfixInstalled(""));
}

TEST(HotfixTest, NoUpdatesByDefault) {
  test::TestRoot root;
  EXPECT_FALSE(IsHotfixInstalled("KB2919355"));
}

}  // namespace
}  // namespace orvo::plan

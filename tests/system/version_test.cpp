// Version texts of files and the comparison of dotted versions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/process.h"
#include "platform/system_drive.h"
#include "support/pe_builder.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::sys {
namespace {

TEST(CompareVersionsTest, ComparesDottedPartsAsNumbers) {
  struct Case {
    std::string a, b;
    int result;
  };
  const Case cases[] = {
      {"10.0", "9.9", 1},  // numeric, not textual
      {"9.9", "10.0", -1},
      {"2.0.1.46", "2.0.1.46", 0},
      {"2.0.1.46", "2.0.1.45", 1},
      {"24.5.1.8", "24.5.1.10", -1},
      {"24.5.0.0", "24.5.1.8", -1},
      {"1.2.9", "1.10.0", -1},  // the first difference decides
      {"007.1", "7.1", 0},
      // More parts count only for the first text.
      {"1.0.1", "1.0", 1},
      {"1.0", "1.0.1", 0},
      {"1.0.0", "1.0", 1},
      {"1.1", "1.0.5", 1},
      // Text that is not a number counts as 0.
      {"1.beta", "1.0", 0},
      {"1.0", "1.beta", 0},
      {"abc", "0", 0},
      {"1.x", "1.1", -1},
      {"12abc.1", "12.1", 0},  // a leading number is read as the number
      {" 3", "3", 0},
      {"-1", "0", -1},
      {"", "", 0},
      {"", "1", -1},
      {"1", "", 1},
      {"1..2", "1.0.2", 0},
      {"99999999999999999999999", "1", 1},  // no overflow into a negative part
  };
  for (const Case& c : cases) EXPECT_EQ(CompareVersions(c.a, c.b), c.result) << '"' << c.a << "\" vs \"" << c.b << '"';
}

TEST(VersionWordsTextTest, WritesTheHalvesOfBothWords) {
  EXPECT_EQ(VersionWordsText(0x00020000u, 0x0001002Eu), "2.0.1.46");
  EXPECT_EQ(VersionWordsText(0xFFFFFFFFu, 0x00000000u), "65535.65535.0.0");
  EXPECT_EQ(VersionWordsText(0x00180005u, 0x00010008u), "24.5.1.8");
}

std::string Pe(const test::PeVersion& file_version) { return test::BuildVersionedPe(file_version, {9, 9, 9, 9}, {}); }

TEST(FileVersionTextTest, GivesTheFixedFileVersionOfAnImage) {
  test::TestRoot root;
  root.WriteFile("C:\\Orvo\\app.exe", Pe({24, 5, 1, 8}));
  root.WriteFile("C:\\Orvo\\wide.dll", test::BuildVersionedPe({65535, 0, 65535, 1}, {1, 1, 1, 1}, {}, true));
  EXPECT_EQ(FileVersionText("C:\\Orvo\\app.exe"), "24.5.1.8");
  EXPECT_EQ(FileVersionText("c:/orvo/APP.EXE"), "24.5.1.8");
  EXPECT_EQ(FileVersionText("C:\\Orvo\\wide.dll"), "65535.0.65535.1");
}

TEST(FileVersionTextTest, IsEmptyForFilesWithoutAVersion) {
  test::TestRoot root;
  test::PeImageOptions no_version;
  no_version.version.reset();
  root.WriteFile("C:\\Orvo\\plain.exe", test::BuildPeImage(no_version).bytes);
  root.WriteFile("C:\\Orvo\\readme.txt", "no image");
  EXPECT_EQ(FileVersionText("C:\\Orvo\\plain.exe"), "");
  EXPECT_EQ(FileVersionText("C:\\Orvo\\readme.txt"), "");
  EXPECT_EQ(FileVersionText("C:\\Orvo\\missing.exe"), "");
  EXPECT_EQ(FileVersionText("C:\\Orvo"), "");
  EXPECT_EQ(FileVersionText("missing-library.dll"), "");
  EXPECT_EQ(FileVersionText(""), "");
}

TEST(FileVersionTextTest, FindsABareNameInTheSystemFolderAsA32BitProcessSeesIt) {
  test::TestRoot root;
  {
    platform::ScopedFsRedirectionOff real_system32;
    root.WriteFile("C:\\Windows\\System32\\native.dll", Pe({10, 0, 0, 64}));
  }
  EXPECT_EQ(FileVersionText("native.dll"), "") << "the 64-bit System32 is out of sight";
  root.WriteFile("C:\\Windows\\native.dll", Pe({6, 1, 0, 0}));
  EXPECT_EQ(FileVersionText("native.dll"), "6.1.0.0");
  root.WriteFile("C:\\Windows\\SysWOW64\\native.dll", Pe({10, 0, 0, 32}));
  EXPECT_EQ(FileVersionText("native.dll"), "10.0.0.32");
  EXPECT_EQ(FileVersionText("NATIVE.DLL"), "10.0.0.32");
}

TEST(FileVersionTextTest, On32BitWindowsTheSystemFolderIsSystem32) {
  test::TestRoot root(R"({"windows64": false})");
  root.WriteFile("C:\\Windows\\System32\\native.dll", Pe({6, 1, 7601, 1}));
  root.WriteFile("C:\\Windows\\native.dll", Pe({5, 0, 0, 0}));
  EXPECT_EQ(FileVersionText("native.dll"), "6.1.7601.1");
}

TEST(FileVersionTextTest, FindsABareNameBesideTheExecutableLast) {
  test::TestRoot root;
  const std::string name = "orvo-module-probe-" + std::to_string(platform::CurrentProcessId()) + ".dll";
  const std::filesystem::path beside = root.Linux(ModuleFolder()) / name;
  std::ofstream(beside, std::ios::binary) << Pe({3, 2, 1, 0});
  EXPECT_EQ(FileVersionText(name), "3.2.1.0");
  root.WriteFile("C:\\Windows\\" + name, Pe({4, 0, 0, 0}));
  EXPECT_EQ(FileVersionText(name), "4.0.0.0");
  std::filesystem::remove(beside);
}

}  // namespace
}  // namespace orvo::sys

#include "platform/system_profile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/test_root.h"

namespace orvo::platform {
namespace {

TEST(SystemProfile, DefaultsAreWindows10x64English) {
  std::string problem;
  const SystemProfile profile = LoadSystemProfile("/nonexistent/system-profile.json", &problem);
  EXPECT_TRUE(problem.empty());
  EXPECT_EQ(profile.version.major, 10u);
  EXPECT_EQ(profile.version.minor, 0u);
  EXPECT_TRUE(profile.windows64);
  EXPECT_EQ(profile.ui_language, 0x0409);
  EXPECT_FALSE(profile.user_name.empty());
  EXPECT_TRUE(profile.hotfixes.empty());
}

TEST(SystemProfile, FileOverridesAndRoundTrips) {
  test::TempFolder folder;
  const auto file = (folder.Path() / "p.json").string();
  std::ofstream(file) << R"({"windows": {"major": 6, "minor": 1, "servicePack": 1}, "windows64": false,
    "userName": "anna", "uiLanguage": 1031, "hotfixes": ["KB2919355"], "windowsUpdateBusy": true,
    "graphicsAdapters": [{"description": "Test GPU", "vendorId": 4318, "dedicatedVideoMemory": 1073741824}]})";
  SystemProfile profile = LoadSystemProfile(file);
  EXPECT_EQ(profile.version.major, 6u);
  EXPECT_EQ(profile.version.service_pack_major, 1u);
  EXPECT_EQ(profile.version.build, 19045u);  // not given: the default stays
  EXPECT_FALSE(profile.windows64);
  EXPECT_EQ(profile.user_name, "anna");
  EXPECT_EQ(profile.ui_language, 1031);
  EXPECT_EQ(profile.hotfixes, std::vector<std::string>{"KB2919355"});
  EXPECT_TRUE(profile.windows_update_busy);
  ASSERT_EQ(profile.graphics_adapters.size(), 1u);
  EXPECT_EQ(profile.graphics_adapters[0].vendor_id, 4318u);

  std::ofstream(file) << SystemProfileToJson(profile);
  const SystemProfile again = LoadSystemProfile(file);
  EXPECT_EQ(again.user_name, "anna");
  EXPECT_EQ(again.graphics_adapters[0].dedicated_video_memory, 1073741824u);
}

TEST(SystemProfile, MalformedFileIsReportedAndDefaultsHold) {
  test::TempFolder folder;
  const auto file = (folder.Path() / "p.json").string();
  for (const char* text : {"{not json", "[1, 2]", R"({"windows64": "yes"})"}) {
    std::ofstream(file) << text;
    std::string problem;
    const SystemProfile profile = LoadSystemProfile(file, &problem);
    EXPECT_FALSE(problem.empty()) << text;
    EXPECT_TRUE(profile.windows64) << text;
  }
}

TEST(SystemProfile, RealCpuAndMemory) {
  const CpuInfo cpu = ReadCpuInfo();
  EXPECT_FALSE(cpu.brand.empty());
  EXPECT_NE(cpu.brand.front(), ' ');
  const MemoryInfo memory = ReadMemoryInfo();
  EXPECT_GT(memory.total_physical, 0u);
  EXPECT_LE(memory.available_physical, memory.total_physical);
}

}  // namespace
}  // namespace orvo::platform

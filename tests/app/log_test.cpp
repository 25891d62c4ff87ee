#include "app/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "support/test_root.h"

namespace orvo::log {
namespace {

namespace pfs = platform::fs;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pfs::CreateFolder("C:\\Work"), 0u); }
  void TearDown() override { Close(); }

  // The file as UTF-8; fails the test when its bytes are not whole UTF-16 code units.
  std::string ReadLog(const std::string& path) {
    const auto bytes = pfs::ReadFile(path);
    EXPECT_TRUE(bytes);
    if (!bytes) return {};
    EXPECT_EQ(bytes->size() % 2, 0u);
    std::u16string units(bytes->size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>((*bytes)[2 * i]) |
                                       static_cast<unsigned char>((*bytes)[2 * i + 1]) << 8);
    }
    return platform::Utf16ToUtf8(units);
  }

  test::TestRoot root_;
};

TEST_F(LogTest, LinesAreUtf16WithoutByteOrderMarkInTheExactFormat) {
  ASSERT_TRUE(Open("C:\\Work"));
  Debug("%s", "command \xC3\xA9 line");
  Info("Download Succ - ini file for settings.\r\n");
  Error("code %d, 100%%", -1);
  Close();
  const std::string text = ReadLog(GetPath());
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  const std::regex line(R"(Stub Installer \[\d+\] \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  const auto lines = platform::Split(text, '\n');
  ASSERT_EQ(lines.size(), 5u);  // the "\r\n" line gets one more "\n"; nothing follows the last "\n"
  EXPECT_TRUE(std::regex_search(lines[0], line));
  EXPECT_NE(lines[0].find("] Debug command \xC3\xA9 line"), std::string::npos);
  EXPECT_NE(lines[1].find("] Info Download Succ - ini file for settings.\r"), std::string::npos);  // "\r\n" + "\n"
  EXPECT_EQ(lines[2], "");
  const std::string error_text = "] Error code -1, 100%";
  EXPECT_EQ(lines[3].substr(lines[3].size() - error_text.size()), error_text);
  EXPECT_EQ(lines[4], "");
  EXPECT_NE(text.find("settings.\r\n\n"), std::string::npos);
}

TEST_F(LogTest, FileNameFollowsTheStampAndCountsUpWhenTaken) {
  const std::string stamp = platform::FileTimeStamp(platform::LocalTimeNow());
  ASSERT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d_\d\d_\d\d_(0[1-9]|1[0-2])-\d\d(AM|PM))")));
  ASSERT_TRUE(Open("C:\\Work"));
  const std::string first = GetPath();
  ASSERT_TRUE(Open("C:\\Work"));
  const std::string second = GetPath();
  ASSERT_TRUE(Open("C:\\Work"));
  const std::string third = GetPath();
  // A minute may turn between the calls; then the stamp changes instead.
  const std::string base = first.substr(0, first.size() - 4);
  if (second.rfind(base, 0) == 0) {
    EXPECT_EQ(second, base + "-1.Log");
    EXPECT_EQ(third, base + "-2.Log");
  }
  EXPECT_EQ(first.substr(0, 8), "C:\\Work\\");
  EXPECT_EQ(first.substr(first.size() - 4), ".Log");
}

TEST_F(LogTest, StampUsesTwelveHourClock) {
  EXPECT_EQ(platform::FileTimeStamp({2024, 2, 19, 15, 45, 0, 0}), "24_02_19_03-45PM");
  EXPECT_EQ(platform::FileTimeStamp({2024, 2, 19, 0, 5, 0, 0}), "24_02_19_12-05AM");
  EXPECT_EQ(platform::FileTimeStamp({2030, 12, 1, 12, 0, 0, 0}), "30_12_01_12-00PM");
}

TEST_F(LogTest, AfterCloseNothingMoreReachesTheFileAndClosingTwiceIsHarmless) {
  ASSERT_TRUE(Open("C:\\Work"));
  Debug("before");
  Close();
  Close();
  Debug("after");
  const std::string text = ReadLog(GetPath());
  EXPECT_NE(text.find("before"), std::string::npos);
  EXPECT_EQ(text.find("after"), std::string::npos);
}

TEST_F(LogTest, ConcurrentWritersNeverMixWithinALine) {
  ASSERT_TRUE(Open("C:\\Work"));
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      const std::string payload(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) Info("%d %s", t, payload.c_str());
    });
  }
  for (auto& writer : writers) writer.join();
  Close();
  const auto lines = platform::Split(ReadLog(GetPath()), '\n');
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines + 1));
  const std::regex whole(R"(Stub Installer \[\d+\] \[[^\]]+\] Info (\d) ([a-h])\2{199})");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, whole)) << lines[i];
    EXPECT_EQ(match[2].str()[0], 'a' + std::stoi(match[1].str()));
  }
}

TEST_F(LogTest, CaptureSeesLevelsAndTexts) {
  ScopedCapture capture;
  Error("Install folder has no write permission: %s", "C:\\x");
  EXPECT_TRUE(capture.Contains(Level::kError, "Install folder has no write permission: C:\\x"));
  EXPECT_FALSE(capture.Contains(Level::kDebug, "Install folder has no write permission: C:\\x"));
}

TEST_F(LogTest, OpenFailsInAMissingFolder) {
  EXPECT_FALSE(Open("C:\\Missing"));
}

}  // namespace
}  // namespace orvo::log

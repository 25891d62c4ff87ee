// Folder size, file counts, the newest of a list and the file search for package scripts and logs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "support/test_root.h"
#include "system/file_helpers.h"

namespace orvo::sys {
namespace {

namespace stdfs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

class FileSearchTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
};

TEST_F(FileSearchTest, FolderSizeSumsEveryFileBelowTheFolder) {
  root_.WriteFile("C:\\App\\a.bin", std::string(1000, 'a'));
  root_.WriteFile("C:\\App\\sub\\b.bin", std::string(234, 'b'));
  root_.WriteFile("C:\\App\\sub\\deeper\\c.bin", std::string(5, 'c'));
  root_.WriteFile("C:\\App\\empty.bin", "");
  EXPECT_EQ(FolderSize("C:\\App"), 1239u);
  EXPECT_EQ(FolderSize("C:\\App\\"), 1239u);
  EXPECT_EQ(FolderSize("C:\\Missing"), 0u);
}

TEST_F(FileSearchTest, FolderSizeCountsAFileBeyondFourGibInFull) {
  constexpr std::uint64_t kOffset = 5ULL << 30;
  ASSERT_TRUE(N_CreateFolder("C:\\Big"));
  {
    auto file = platform::fs::File::Open("C:\\Big\\huge.dat", platform::fs::File::Mode::kCreateAlways);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Seek(kOffset));  // sparse: nothing below the offset takes room
    ASSERT_TRUE(file->Write("x", 1));
  }
  root_.WriteFile("C:\\Big\\small.dat", "yz");
  EXPECT_EQ(FolderSize("C:\\Big"), kOffset + 3);
}

TEST_F(FileSearchTest, FolderSizeDoesNotFollowALinkCycle) {
  root_.WriteFile("C:\\App\\a.bin", "abc");
  stdfs::create_directory_symlink(root_.Linux("C:\\App"), root_.Linux("C:\\App") / "loop");
  EXPECT_EQ(FolderSize("C:\\App"), 3u);
}

TEST_F(FileSearchTest, CountFilesCountsOnlyTheFolderOwnFiles) {
  root_.WriteFile("C:\\App\\a.txt", "a");
  root_.WriteFile("C:\\App\\b.txt", "b");
  root_.WriteFile("C:\\App\\sub\\c.txt", "c");
  EXPECT_EQ(CountFiles("C:\\App"), 2u);
  EXPECT_EQ(CountFiles("C:\\App\\sub\\c.txt"), 0u);
  EXPECT_EQ(CountFiles("C:\\Missing"), 0u);
  EXPECT_EQ(CountFiles(""), 0u);
}

TEST_F(FileSearchTest, NewestFileTakesTheLatestCreatedAmongThoseThatOpen) {
  root_.WriteFile("C:\\V\\old.exe", "1");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // distinct creation times, not a timing check
  root_.WriteFile("C:\\V\\new.exe", "2");
  ASSERT_TRUE(N_CreateFolder("C:\\V\\newest-folder.exe"));  // a folder cannot be opened for reading

  EXPECT_EQ(NewestFile({"C:\\V\\old.exe", "C:\\V\\new.exe"}), "C:\\V\\new.exe");
  EXPECT_EQ(NewestFile({"C:\\V\\new.exe", "C:\\V\\old.exe"}), "C:\\V\\new.exe");
  EXPECT_EQ(NewestFile({"C:\\V\\old.exe", "C:\\V\\new.exe", "C:\\V\\gone.exe", "C:\\V\\newest-folder.exe"}),
            "C:\\V\\new.exe");
  EXPECT_EQ(NewestFile({"C:\\V\\gone.exe", "C:\\V\\old.exe"}), "C:\\V\\old.exe");
  EXPECT_EQ(NewestFile({"C:\\V\\gone.exe", "C:\\V\\newest-folder.exe", ""}), "");
  EXPECT_EQ(NewestFile({}), "");
}

TEST_F(FileSearchTest, NewestFileGivesTheLaterEntryOnEqualTimes) {
  root_.WriteFile("C:\\V\\app.exe", "1");
  // Two spellings of one file have one creation time.
  EXPECT_EQ(NewestFile({"C:\\V\\app.exe", "c:\\v\\APP.EXE"}), "c:\\v\\APP.EXE");
  EXPECT_EQ(NewestFile({"c:\\v\\APP.EXE", "C:\\V\\app.exe"}), "C:\\V\\app.exe");
}

class FindFilesTest : public FileSearchTest {
 protected:
  void SetUp() override {
    root_.WriteFile("C:\\Pkg\\orvopack.bin", "1");
    root_.WriteFile("C:\\Pkg\\Sub\\Product.OrvoPack.BIN", "2");  // ends with the name, in another case
    root_.WriteFile("C:\\Pkg\\Sub\\orvopack.bin.bak", "x");
    root_.WriteFile("C:\\Pkg\\Sub\\Deep\\orvopack.bin", "3");
    root_.WriteFile("C:\\Pkg\\Sub\\Deep\\Deeper\\orvopack.bin", "4");
  }

  std::vector<std::string> Find(const std::string& folder, int depth, bool test_itself = false,
                                bool collect_logs = false, std::uint32_t expected_result = 0) {
    std::vector<std::string> found;
    EXPECT_EQ(FindFiles(folder, "orvopack.bin", depth, found, test_itself, collect_logs), expected_result) << folder;
    return found;
  }
};

TEST_F(FindFilesTest, DepthLimitsHowManyLevelsAreSearched) {
  const std::vector<std::string> levels = {"C:\\Pkg\\orvopack.bin", "C:\\Pkg\\Sub\\Product.OrvoPack.BIN",
                                           "C:\\Pkg\\Sub\\Deep\\orvopack.bin",
                                           "C:\\Pkg\\Sub\\Deep\\Deeper\\orvopack.bin"};
  for (int depth = -1; depth <= 6; ++depth) {
    const std::size_t expected = static_cast<std::size_t>(std::clamp(depth, 0, 4));
    EXPECT_THAT(Find("C:\\Pkg", depth),
                UnorderedElementsAreArray(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(expected)))
        << "depth " << depth;
  }
  EXPECT_THAT(Find("C:\\Pkg\\", 1), ElementsAre("C:\\Pkg\\orvopack.bin"));
}

TEST_F(FindFilesTest, AFolderOnTheLastLevelIsJudgedByItsName) {
  ASSERT_TRUE(N_CreateFolder("C:\\Pkg\\old.orvopack.bin"));
  EXPECT_THAT(Find("C:\\Pkg", 1), UnorderedElementsAre("C:\\Pkg\\orvopack.bin", "C:\\Pkg\\old.orvopack.bin"));
  // One level more, it is searched instead of added.
  const auto deeper = Find("C:\\Pkg", 2);
  EXPECT_EQ(std::count(deeper.begin(), deeper.end(), "C:\\Pkg\\old.orvopack.bin"), 0);
}

TEST_F(FindFilesTest, TestingTheFolderItselfJudgesAFileAlone) {
  EXPECT_THAT(Find("C:\\Pkg\\Sub\\Product.OrvoPack.BIN", 6, true), ElementsAre("C:\\Pkg\\Sub\\Product.OrvoPack.BIN"));
  EXPECT_THAT(Find("C:\\Pkg\\orvopack.bin", 0, true), ElementsAre("C:\\Pkg\\orvopack.bin"));
  EXPECT_THAT(Find("C:\\Pkg\\Sub\\orvopack.bin.bak", 6, true), IsEmpty());
  // A folder is searched as usual.
  EXPECT_EQ(Find("C:\\Pkg", 1, true).size(), 1u);
}

TEST_F(FindFilesTest, AFolderThatCannotBeListedGivesTheErrorAndNoResults) {
  std::vector<std::string> found = {"kept"};
  EXPECT_NE(FindFiles("C:\\Missing", "orvopack.bin", 6, found, true, true), 0u);
  EXPECT_NE(FindFiles("C:\\Pkg\\orvopack.bin", "orvopack.bin", 6, found, false, false), 0u);
  EXPECT_THAT(found, ElementsAre("kept"));
  // Depth 0 ends before the listing is tried.
  EXPECT_EQ(FindFiles("C:\\Missing", "orvopack.bin", 0, found, false, false), 0u);
}

TEST_F(FindFilesTest, ResultsAreAppended) {
  std::vector<std::string> found = {"C:\\earlier"};
  EXPECT_EQ(FindFiles("C:\\Pkg", "ORVOPACK.BIN", 1, found, false, false), 0u);
  EXPECT_THAT(found, ElementsAre("C:\\earlier", "C:\\Pkg\\orvopack.bin"));
}

TEST_F(FileSearchTest, CollectingLogsAddsRecentTextFilesOfTheFolderItself) {
  const std::string folder = "C:\\Logs";
  for (const char* name : {"orvo_setup.log", "orvo_notes.TXT", "orvo_report.html", "OrvoUpper.Log", "orvo.bin",
                           "unrelated.log", "orvo_catalog.dat"}) {
    root_.WriteFile(folder + "\\" + name, "x");
  }
  root_.WriteFile(folder + "\\OrvoInstaller\\orvo_nested.log", "x");  // below: searched with the flags clear

  std::vector<std::string> found;
  EXPECT_EQ(FindFiles(folder, "orvo", 2, found, false, true), 0u);
  EXPECT_THAT(found, UnorderedElementsAre("C:\\Logs\\orvo_setup.log", "C:\\Logs\\orvo_notes.TXT",
                                          "C:\\Logs\\orvo_report.html", "C:\\Logs\\OrvoUpper.Log"));

  found.clear();
  EXPECT_EQ(FindFiles(folder, "orvo", 1, found, false, false), 0u);
  EXPECT_THAT(found, IsEmpty());
}

TEST(RecentLogTest, JudgesNameAndPathTypeAndAge) {
  using std::chrono::hours;
  using std::chrono::seconds;
  const auto now = std::chrono::system_clock::now();
  struct Case {
    std::string name;
    std::string path;
    std::string search;
    std::chrono::system_clock::duration age;
    bool recent;
  };
  const Case cases[] = {
      {"a.log", "C:\\Temp\\Orvo\\a.log", "orvo", hours(0), true},
      {"a.log", "C:\\Temp\\Orvo\\a.log", "orvo", hours(24) + seconds(3599), true},  // 24 whole hours
      {"a.log", "C:\\Temp\\Orvo\\a.log", "orvo", hours(25), false},
      {"a.log", "C:\\Temp\\Orvo\\a.log", "orvo", -hours(2), true},  // created "in the future"
      {"a.LOG", "C:\\Temp\\Orvo\\a.LOG", "orvo", hours(1), true},
      {"a.txt", "C:\\Temp\\Orvo\\a.txt", "orvo", hours(1), true},
      {"a.HTML", "C:\\Temp\\Orvo\\a.HTML", "orvo", hours(1), true},
      {"changelog", "C:\\Temp\\Orvo\\changelog", "orvo", hours(1), true},  // the ending, not an extension
      {"a.htm", "C:\\Temp\\Orvo\\a.htm", "orvo", hours(1), false},
      {"a.log", "C:\\Temp\\Other\\a.log", "orvo", hours(1), false},
      {"a.log", "C:\\Temp\\Orvo\\a.log", "Orvo", hours(1), false},  // only the path is lower-cased
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRecentLog(c.name, c.path, c.search, now - c.age, now), c.recent)
        << c.path << " " << c.search << " " << std::chrono::duration_cast<seconds>(c.age).count();
  }
}

}  // namespace
}  // namespace orvo::sys

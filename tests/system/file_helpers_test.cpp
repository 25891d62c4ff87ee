// Existence tests, folder creation and removal, the writability probe and path splitting.
#include "system/file_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/test_root.h"

namespace orvo::sys {
namespace {

namespace stdfs = std::filesystem;

class FileHelpersTest : public ::testing::Test {
 protected:
  bool OnDisk(const std::string& windows_path) const { return stdfs::exists(root_.Linux(windows_path)); }
  bool FolderOnDisk(const std::string& windows_path) const {
    return stdfs::is_directory(stdfs::symlink_status(root_.Linux(windows_path)));
  }

  test::TestRoot root_;
};

TEST_F(FileHelpersTest, ExistenceTestsTellFilesFromFolders) {
  root_.WriteFile("C:\\Data\\file.txt", "x");
  struct Case {
    std::string path;
    bool file;
    bool folder;
  };
  const Case cases[] = {
      {"C:\\Data\\file.txt", true, false},
      {"c:\\DATA\\FILE.TXT", true, false},  // names compare without regard to case
      {"C:\\Data", false, true},
      {"C:\\Data\\", false, true},
      {"C:\\Data\\missing.txt", false, false},
      {"", false, false},
      {"Q:\\Data", false, false},  // a drive that does not exist
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileExists(c.path), c.file) << c.path;
    EXPECT_EQ(FolderExists(c.path), c.folder) << c.path;
  }
}

TEST_F(FileHelpersTest, CreateFolderMakesEveryMissingLevel) {
  const std::string cases[] = {
      "C:\\One\\Two\\Three",
      "C:\\Slash/Forward/Levels",
      "C:\\Trailing\\Backslash\\",
      "C:\\Doubled\\\\Separator",
  };
  for (const std::string& path : cases) {
    EXPECT_TRUE(N_CreateFolder(path)) << path;
    EXPECT_TRUE(FolderOnDisk(path)) << path;
  }
  EXPECT_TRUE(FolderOnDisk("C:\\One\\Two"));
}

TEST_F(FileHelpersTest, CreateFolderTreatsExistingFolderAsSuccessAndFailsWhereNoFolderCanBe) {
  EXPECT_TRUE(N_CreateFolder("C:\\Windows"));
  EXPECT_TRUE(N_CreateFolder("C:\\"));
  EXPECT_FALSE(N_CreateFolder(""));
  root_.WriteFile("C:\\Blocker", "a file where a folder should be");
  EXPECT_FALSE(N_CreateFolder("C:\\Blocker"));
  EXPECT_FALSE(N_CreateFolder("C:\\Blocker\\Below"));
  EXPECT_FALSE(N_CreateFolder("Q:\\Nowhere"));
}

TEST_F(FileHelpersTest, DeletePathRemovesReadOnlyFilesAndEmptyFoldersOnly) {
  root_.WriteFile("C:\\Data\\locked.txt", "x");
  ASSERT_EQ(platform::fs::SetReadOnly("C:\\Data\\locked.txt", true), 0u);
  EXPECT_TRUE(DeletePath("C:\\Data\\locked.txt"));
  EXPECT_FALSE(OnDisk("C:\\Data\\locked.txt"));

  root_.WriteFile("C:\\Full\\inside.txt", "x");
  EXPECT_FALSE(DeletePath("C:\\Full"));
  EXPECT_TRUE(OnDisk("C:\\Full\\inside.txt"));
  EXPECT_TRUE(DeletePath("C:\\Data"));
  EXPECT_FALSE(OnDisk("C:\\Data"));

  EXPECT_FALSE(DeletePath("C:\\Data"));
  EXPECT_FALSE(DeletePath(""));
}

TEST_F(FileHelpersTest, DeletePathRemovesAFolderLinkButNotItsTarget) {
  root_.WriteFile("C:\\Target\\keep.txt", "x");
  stdfs::create_directory_symlink(root_.Linux("C:\\Target"), root_.Linux("C:\\") / "Link");
  EXPECT_TRUE(DeletePath("C:\\Link"));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(root_.Linux("C:\\") / "Link")));
  EXPECT_TRUE(OnDisk("C:\\Target\\keep.txt"));
}

TEST_F(FileHelpersTest, RemoveFolderRemovesTheWholeTreeReadOnlyEntriesIncluded) {
  root_.WriteFile("C:\\App\\a.txt", "a");
  root_.WriteFile("C:\\App\\bin\\b.dll", "b");
  root_.WriteFile("C:\\App\\bin\\deep\\c.dat", "c");
  ASSERT_EQ(platform::fs::SetReadOnly("C:\\App\\a.txt", true), 0u);
  ASSERT_EQ(platform::fs::SetReadOnly("C:\\App\\bin\\deep\\c.dat", true), 0u);
  ASSERT_EQ(platform::fs::SetReadOnly("C:\\App\\bin\\deep", true), 0u);

  EXPECT_EQ(RemoveFolder("C:\\App"), 0u);
  EXPECT_FALSE(OnDisk("C:\\App"));
}

TEST_F(FileHelpersTest, RemoveFolderDeletesLinksWithoutEnteringThem) {
  root_.WriteFile("C:\\Outside\\precious.txt", "x");
  root_.WriteFile("C:\\App\\a.txt", "a");
  stdfs::create_directory_symlink(root_.Linux("C:\\Outside"), root_.Linux("C:\\App") / "linked");

  EXPECT_EQ(RemoveFolder("C:\\App"), 0u);
  EXPECT_FALSE(OnDisk("C:\\App"));
  EXPECT_TRUE(OnDisk("C:\\Outside\\precious.txt"));
}

TEST_F(FileHelpersTest, RemoveFolderOnAFileDeletesItAndOnAMissingPathDoesNothing) {
  root_.WriteFile("C:\\single.txt", "x");
  ASSERT_EQ(platform::fs::SetReadOnly("C:\\single.txt", true), 0u);
  EXPECT_EQ(RemoveFolder("C:\\single.txt"), 0u);
  EXPECT_FALSE(OnDisk("C:\\single.txt"));
  EXPECT_EQ(RemoveFolder("C:\\missing"), 0u);
  EXPECT_EQ(RemoveFolder(""), 0u);
}

TEST_F(FileHelpersTest, WritableProbeCreatesTheMissingFolderAndRemovesOnlyTheProbe) {
  log::ScopedCapture capture;
  EXPECT_TRUE(IsFolderWritable("C:\\Program Files (x86)\\Orvo\\New"));
  EXPECT_TRUE(FolderOnDisk("C:\\Program Files (x86)\\Orvo\\New"));
  EXPECT_FALSE(OnDisk("C:\\Program Files (x86)\\Orvo\\New\\7DD32994-E523-48FE-8364-8EC8F0A52356"));
  EXPECT_TRUE(IsFolderWritable("C:\\"));
  EXPECT_FALSE(OnDisk("C:\\7DD32994-E523-48FE-8364-8EC8F0A52356"));
  EXPECT_TRUE(capture.Entries().empty());
}

TEST_F(FileHelpersTest, WritableProbeLogsTheFolderItCannotWriteTo) {
  root_.WriteFile("C:\\Blocker", "a file, so nothing can be created below it");
  struct Case {
    std::string folder;
    std::string line;
  };
  const Case cases[] = {
      {"C:\\Blocker\\Product", "The folder is not writable: C:\\Blocker\\Product"},
      {"C:\\Blocker", "The folder is not writable: C:\\Blocker"},
      {"Q:\\Product", "The folder is not writable: Q:\\Product"},
      {"", "The folder is not writable: "},
  };
  for (const Case& c : cases) {
    log::ScopedCapture capture;
    EXPECT_FALSE(IsFolderWritable(c.folder)) << c.folder;
    EXPECT_TRUE(capture.Contains(log::Level::kDebug, c.line)) << c.folder;
  }
}

TEST(SplitPathTest, SplitsAtTheLastSeparatorOfEitherKind) {
  struct Case {
    std::string path, folder, name, extension;
  };
  const Case cases[] = {
      {"C:\\Orvo\\app.exe", "C:\\Orvo", "app.exe", ".exe"},
      {"C:/Orvo/pack.tar.gz", "C:/Orvo", "pack.tar.gz", ".gz"},
      {"C:\\Orvo/sub\\readme", "C:\\Orvo/sub", "readme", ""},
      {"C:\\Or.vo\\readme", "C:\\Or.vo", "readme", ""},
      {"C:\\Orvo\\", "C:\\Orvo", "", ""},
      {"setup.msi", "", "setup.msi", ".msi"},
      {".profile", "", ".profile", ".profile"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    const PathParts parts = SplitPath(c.path);
    EXPECT_EQ(parts.folder, c.folder) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
    EXPECT_EQ(parts.extension, c.extension) << c.path;
  }
}

TEST(SplitFolderAndNameTest, DropsOneTrailingBackslashThenSplits) {
  struct Case {
    std::string path, folder, name;
  };
  const Case cases[] = {
      {"C:\\Orvo\\Product", "C:\\Orvo\\", "Product"},
      {"C:\\Orvo\\Product\\", "C:\\Orvo\\", "Product"},
      {"C:\\Orvo\\Product\\\\", "C:\\Orvo\\Product\\", ""},
      {"C:\\Orvo", "C:\\", "Orvo"},
      {"C:\\", "C:\\", ""},
      {"Product", "Product", ""},
      {"Product\\", "Product\\", ""},
      {"C:/Orvo/Product", "C:/Orvo/Product", ""},  // only the backslash separates here
  };
  for (const Case& c : cases) {
    const FolderAndName parts = SplitFolderAndName(c.path);
    EXPECT_EQ(parts.folder, c.folder) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
  }
}

TEST_F(FileHelpersTest, ModuleFolderHoldsTheRunningExecutable) {
  const std::string folder = ModuleFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_NE(folder.back(), '\\');
  const std::string executable = platform::OwnExecutablePath();
  EXPECT_EQ(executable.substr(0, folder.size() + 1), folder + "\\");
}

}  // namespace
}  // namespace orvo::sys

#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/test_root.h"

namespace orvo::platform::fs {
namespace {

namespace stdfs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
};

TEST_F(FileSystemTest, FilesAndFoldersThroughWindowsPaths) {
  EXPECT_EQ(CreateFolder("C:\\Work"), error::kSuccess);
  EXPECT_EQ(CreateFolder("C:\\Work"), error::kAlreadyExists);
  EXPECT_EQ(CreateFolder("C:\\Missing\\Child"), error::kPathNotFound);
  EXPECT_EQ(WriteFileAtomic("C:\\Work\\a.txt", "hello"), error::kSuccess);
  EXPECT_TRUE(IsFile("c:\\work\\A.TXT"));
  EXPECT_TRUE(IsFolder("C:\\Work"));
  EXPECT_FALSE(IsFolder("C:\\Work\\a.txt"));
  EXPECT_EQ(ReadFile("C:\\Work\\a.txt"), "hello");
  EXPECT_EQ(Stat("C:\\Work\\a.txt")->size, 5u);

  EXPECT_EQ(CopyFile("C:\\Work\\a.txt", "C:\\Work\\b.txt", false), error::kSuccess);
  EXPECT_EQ(CopyFile("C:\\Work\\a.txt", "C:\\Work\\b.txt", false), error::kFileExists);
  EXPECT_EQ(Stat("C:\\Work\\b.txt")->last_write_time, Stat("C:\\Work\\a.txt")->last_write_time);
  EXPECT_TRUE(SameFile("C:\\Work\\a.txt", "c:/WORK/A.TXT"));
  EXPECT_FALSE(SameFile("C:\\Work\\a.txt", "C:\\Work\\b.txt"));
  EXPECT_FALSE(SameFile("C:\\Work\\a.txt", "C:\\Work\\missing.txt"));
  EXPECT_EQ(MoveFile("C:\\Work\\b.txt", "C:\\Work\\c.txt", false), error::kSuccess);
  std::vector<FileInfo> entries;
  EXPECT_EQ(ListFolder("C:\\Work", entries), error::kSuccess);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "a.txt");
  EXPECT_EQ(entries[1].name, "c.txt");
  EXPECT_EQ(ListFolder("C:\\Nowhere", entries), error::kPathNotFound);

  EXPECT_EQ(RemoveEmptyFolder("C:\\Work"), error::kDirNotEmpty);
  EXPECT_EQ(DeleteFile("C:\\Work\\a.txt"), error::kSuccess);
  EXPECT_EQ(DeleteFile("C:\\Work\\a.txt"), error::kFileNotFound);
  EXPECT_EQ(DeleteFile("C:\\Work"), error::kAccessDenied);
  EXPECT_EQ(CopyFile("C:\\Nope", "C:\\Work\\x", true), error::kFileNotFound);
  EXPECT_EQ(CreateFolder("D:\\Elsewhere"), error::kPathNotFound);
}

TEST_F(FileSystemTest, ReadOnlyFilesNeedTheirAttributesReset) {
  ASSERT_EQ(WriteFileAtomic("C:\\ro.txt", "x"), error::kSuccess);
  ASSERT_EQ(SetReadOnly("C:\\ro.txt", true), error::kSuccess);
  EXPECT_TRUE(Stat("C:\\ro.txt")->read_only);
  EXPECT_EQ(DeleteFile("C:\\ro.txt"), error::kAccessDenied);  // as Windows refuses it
  EXPECT_EQ(SetNormalAttributes("C:\\ro.txt"), error::kSuccess);
  EXPECT_EQ(DeleteFile("C:\\ro.txt"), error::kSuccess);
  EXPECT_EQ(SetNormalAttributes("C:\\ro.txt"), error::kFileNotFound);
}

TEST_F(FileSystemTest, OpenModesAndOneCallWrites) {
  EXPECT_EQ(File::Open("C:\\none.bin", File::Mode::kRead), nullptr);
  std::uint32_t failure = 0;
  {
    auto file = File::Open("C:\\f.bin", File::Mode::kCreateNew, &failure);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->WriteOnce("abc", 3), 3);
  }
  EXPECT_EQ(File::Open("C:\\f.bin", File::Mode::kCreateNew, &failure), nullptr);
  EXPECT_EQ(failure, error::kFileExists);
  File::Open("C:\\f.bin", File::Mode::kOpenAlways)->Write("de", 2);
  EXPECT_EQ(ReadFile("C:\\f.bin"), "abcde");
  File::Open("C:\\f.bin", File::Mode::kCreateAlways)->Write("z", 1);
  EXPECT_EQ(ReadFile("C:\\f.bin"), "z");
  EXPECT_EQ(File::Open("C:\\Windows", File::Mode::kRead, &failure), nullptr);
  EXPECT_EQ(failure, error::kAccessDenied);
}

TEST_F(FileSystemTest, SparseFilesReportTheirFullSize) {
  auto file = File::Open("C:\\big.bin", File::Mode::kCreateAlways);
  ASSERT_TRUE(file->Seek(5ull << 30));
  ASSERT_TRUE(file->Write("x", 1));
  EXPECT_EQ(file->Size(), (5ull << 30) + 1);
  EXPECT_EQ(Stat("C:\\big.bin")->size, (5ull << 30) + 1);
}

TEST_F(FileSystemTest, DiskSpaceOfTheSystemDrive) {
  const auto space = DiskSpace("C:\\");
  ASSERT_TRUE(space);
  EXPECT_GT(space->total, 0u);
  EXPECT_LE(space->free_to_caller, space->total);
  EXPECT_FALSE(DiskSpace("D:\\"));
}

TEST_F(FileSystemTest, PrivateFoldersAreOwnerOnlyAndRefuseLinksAndStrangers) {
  ASSERT_EQ(CreatePrivateFolder("C:\\Temp\\Orvo\\id"), error::kSuccess);
  struct stat info {};
  ASSERT_EQ(stat(root_.Linux("C:\\Temp\\Orvo\\id").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  stdfs::create_directories(root_.Root() / "elsewhere");
  stdfs::create_directory_symlink(root_.Root() / "elsewhere", root_.Root() / "Temp/link");
  EXPECT_EQ(CreatePrivateFolder("C:\\Temp\\link"), error::kAccessDenied);

  stdfs::create_directories(root_.Root() / "Temp/loose");
  stdfs::permissions(root_.Root() / "Temp/loose", stdfs::perms::all);
  EXPECT_EQ(CreatePrivateFolder("C:\\Temp\\loose"), error::kSuccess);  // ours: tightened
  ASSERT_EQ(stat((root_.Root() / "Temp/loose").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  if (geteuid() == 0) {
    stdfs::create_directories(root_.Root() / "Temp/foreign");
    ASSERT_EQ(chown((root_.Root() / "Temp/foreign").c_str(), 65534, 65534), 0);
    EXPECT_EQ(CreatePrivateFolder("C:\\Temp\\foreign"), error::kAccessDenied);
  }
}

TEST_F(FileSystemTest, CreationTimeIsKept) {
  const auto before = std::chrono::system_clock::now() - std::chrono::seconds(2);
  ASSERT_EQ(WriteFileAtomic("C:\\t.txt", "1"), error::kSuccess);
  const auto info = Stat("C:\\t.txt");
  EXPECT_GE(info->creation_time, before);
  EXPECT_LE(info->creation_time, std::chrono::system_clock::now() + std::chrono::seconds(2));
}

}  // namespace
}  // namespace orvo::platform::fs

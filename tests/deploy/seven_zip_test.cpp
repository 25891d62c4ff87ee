// The seven-zip path: the codec library driven through its zip handler, the top-folder list in both
// modes, times and attributes, and the result codes.
#include "deploy/seven_zip.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/log.h"
#include "deploy/seven_zip_abi.h"
#include "deploy/zip_fixtures.h"
#include "platform/file_system.h"
#include "platform/shared_library.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

namespace stdfs = std::filesystem;
namespace pfs = platform::fs;
using test::ZipEntry;

constexpr std::int32_t kAborted = kSevenZipNotAnArchive + sevenzip::kAbort;

class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (previous_)
      ::setenv(name_, previous_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

class SevenZipTest : public ::testing::Test {
 protected:
  static constexpr const char* kArchive = "C:\\Packages\\package.zip";
  static constexpr const char* kOut = "C:\\Out";

  void MakeArchive(const std::vector<ZipEntry>& entries) { test::WriteZip(root_.Linux(kArchive), entries); }
  std::vector<std::string> OutFiles() const { return test::FilesBelow(root_.Linux(kOut)); }

  test::TestRoot root_;
  log::ScopedCapture log_;
};

TEST_F(SevenZipTest, UnpacksEverythingAndListsTheTopFoldersThatHoldItems) {
  MakeArchive({{"setup.ini", "top-level file"},
               {"A/", ""},
               {"A/one.txt", "1"},
               {"B/sub/two.txt", std::string(300000, '2')},
               {"B/three.txt", "3"},
               {"C/deep/only.txt", "4"}});
  // The destination is the caller's: only the folders inside it are made.
  std::vector<std::string> top{"stale"};
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, false), kAborted);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "7zip can not open output file: C:\\Out\\setup.ini"));
  stdfs::create_directories(root_.Linux(kOut));
  ASSERT_EQ(SevenZipExtract(kArchive, kOut, top, false), 0);
  EXPECT_EQ(top, (std::vector<std::string>{"A", "B"})) << "C holds no item directly";
  EXPECT_EQ(OutFiles(),
            (std::vector<std::string>{"A/one.txt", "B/sub/two.txt", "B/three.txt", "C/deep/only.txt", "setup.ini"}));
  EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Out\\B\\sub\\two.txt")), std::string(300000, '2'));
  EXPECT_TRUE(log_.Contains(log::Level::kDebug, "start unzip file with 7zip: C:\\Packages\\package.zip"));
  EXPECT_TRUE(log_.Contains(log::Level::kDebug, "7zip unzip successfully, top folder: A"));
}

TEST_F(SevenZipTest, ListOnlyStopsAtTheFirstTopFolderAndWritesNothing) {
  MakeArchive({{"setup.ini", "x"}, {"First/deep/er.txt", "d"}, {"Second/a.txt", "a"}, {"First/b.txt", "b"}});
  std::vector<std::string> top{"stale"};
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, true), 0);
  EXPECT_EQ(top, std::vector<std::string>{"Second"});
  EXPECT_FALSE(stdfs::exists(root_.Linux(kOut)));

  MakeArchive({{"one.txt", "1"}, {"two.txt", "2"}});
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, true), 0);
  EXPECT_TRUE(top.empty());
}

TEST_F(SevenZipTest, SetsModificationTimesAndTheReadOnlyAttribute) {
  ZipEntry read_only{"App/read-only.txt", "r"};
  read_only.external = 0x01;  // FILE_ATTRIBUTE_READONLY, written on Windows
  read_only.time = tm_zip{8, 6, 5, 4, 2, 2019};
  ZipEntry unix_file{"App/unix.txt", "u"};
  unix_file.made_by = (3u << 8) | 30u;
  unix_file.external = 0100644ul << 16;
  MakeArchive({read_only, unix_file});

  std::vector<std::string> top;
  ASSERT_EQ(SevenZipExtract(kArchive, kOut, top, false), 0);
  const auto info = pfs::Stat("C:\\Out\\App\\read-only.txt");
  ASSERT_TRUE(info.has_value());
  EXPECT_TRUE(info->read_only);
  const platform::LocalTime local = pfs::FileTimeToLocalTime(info->last_write_time);
  EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second}),
            (std::vector<int>{2019, 3, 4, 5, 6, 8}));
  const auto unix_info = pfs::Stat("C:\\Out\\App\\unix.txt");
  ASSERT_TRUE(unix_info.has_value());
  EXPECT_FALSE(unix_info->read_only) << "a posix mode word keeps only its low 14 bits";
}

TEST_F(SevenZipTest, AnOutputFileThatCannotBeDeletedAbortsTheExtraction) {
  MakeArchive({{"App/a.txt", "new"}, {"App/b.txt", "b"}});
  root_.WriteFile("C:\\Out\\App\\a.txt", "old and locked");
  ASSERT_EQ(pfs::SetReadOnly("C:\\Out\\App\\a.txt", true), 0u);

  std::vector<std::string> top{"kept"};
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, false), kAborted);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "7zip can not delete output file: C:\\Out\\App\\a.txt"));
  EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Out\\App\\a.txt")), "old and locked");
  EXPECT_FALSE(stdfs::exists(root_.Linux("C:\\Out\\App\\b.txt")));
  EXPECT_EQ(top, std::vector<std::string>{"kept"}) << "a failed extraction hands no list back";
}

TEST_F(SevenZipTest, ArchivesThatCannotBeOpenedOrRead) {
  std::vector<std::string> top;
  EXPECT_EQ(SevenZipExtract("C:\\Packages\\missing.zip", kOut, top, false), kSevenZipCannotOpenFile);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "7zip can not open archive file : C:\\Packages\\missing.zip"));

  root_.WriteFile(kArchive, std::string(5000, 'n'));
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, false), kSevenZipNotAnArchive);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "7zip can not open file as archive : C:\\Packages\\package.zip"));
}

TEST_F(SevenZipTest, ACodecLibraryThatCannotBeUsedIsAFailure) {
  MakeArchive({{"App/a.txt", "a"}});
  // A missing file, and a library that exports no CreateObject.
  for (const char* library : {"/nonexistent/7z.so", "libz.so.1"}) {
    ScopedVariable chosen(platform::kSevenZipLibraryVariable, library);
    std::vector<std::string> top{"kept"};
    EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, true), kSevenZipNoCreateObject) << library;
    EXPECT_EQ(top, std::vector<std::string>{"kept"});
  }
  EXPECT_TRUE(log_.Contains(log::Level::kError, "7zip can not get CreateObject"));
  EXPECT_FALSE(stdfs::exists(root_.Linux(kOut)));
}

}  // namespace
}  // namespace orvo::deploy

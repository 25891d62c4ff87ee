// The zip reader: listing, filtering, renaming the top folder, unpacking, the memory reader, and how
// failures are reported.
#include "deploy/zip_extract.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/log.h"
#include "deploy/zip_fixtures.h"
#include "platform/file_system.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

namespace stdfs = std::filesystem;
using test::ZipEntry;

class ZipExtractTest : public ::testing::Test {
 protected:
  static constexpr const char* kArchive = "C:\\Packages\\package.zip";
  static constexpr const char* kOut = "C:\\Out";

  void MakeArchive(const std::vector<ZipEntry>& entries) { test::WriteZip(root_.Linux(kArchive), entries); }
  std::string OutFile(const std::string& relative) const {
    return test::ReadLinuxFile(root_.Linux(std::string(kOut) + "\\" + relative));
  }
  std::vector<std::string> OutFiles() const { return test::FilesBelow(root_.Linux(kOut)); }

  test::TestRoot root_;
  log::ScopedCapture log_;
};

TEST_F(ZipExtractTest, ListsTheTopLevelInEntryOrderAndEveryNameWithTheStar) {
  MakeArchive({{"readme.txt", "r"},
               {"App/", ""},
               {"App/bin/tool.exe", "t"},
               {"Data/z.bin", "z"},
               {"App/lib.dll", "l"},
               {"license.txt", "x"}});

  std::vector<std::string> top;
  EXPECT_EQ(ExtractZip(kArchive, "", &top), 0);
  EXPECT_EQ(top, (std::vector<std::string>{"readme.txt", "App\\", "Data\\", "license.txt"}));

  std::vector<std::string> all;
  EXPECT_EQ(ExtractZip(kArchive, kOut, &all, kAllEntries), 0);
  EXPECT_EQ(all, (std::vector<std::string>{"readme.txt", "App\\", "App\\bin\\tool.exe", "Data\\z.bin", "App\\lib.dll",
                                           "license.txt"}));
  EXPECT_FALSE(stdfs::exists(root_.Linux(kOut))) << "the star lists only";
}

TEST_F(ZipExtractTest, ChangedTopfileRenamesTheSingleTopFolder) {
  MakeArchive({{"Product-1.2/", ""}, {"Product-1.2/bin/app.exe", "app"}, {"Product-1.2/readme.txt", "readme"}});

  std::vector<std::string> top;
  EXPECT_EQ(ExtractZip(kArchive, "", &top), 0);
  EXPECT_EQ(top, std::vector<std::string>{"Product-1.2\\"});

  std::vector<std::string> renamed;
  EXPECT_EQ(ExtractZip(kArchive, "", &renamed, kAllEntries, "Product"), 0);
  EXPECT_EQ(renamed, (std::vector<std::string>{"Product\\", "Product\\bin\\app.exe", "Product\\readme.txt"}));

  EXPECT_EQ(ExtractZip(kArchive, kOut, nullptr, "", "Product"), 0);
  EXPECT_EQ(OutFiles(), (std::vector<std::string>{"Product/bin/app.exe", "Product/readme.txt"}));
  EXPECT_EQ(OutFile("Product\\bin\\app.exe"), "app");
}

TEST_F(ZipExtractTest, FilterSelectsByNameEndWithoutRegardToCase) {
  MakeArchive({{"App/bin/setup.exe", "inner"},
               {"App/mysetup.exe", "longer name"},
               {"App/setup.exe.config", "not at the end"},
               {"other.txt", "o"}});
  std::vector<std::string> found;
  EXPECT_EQ(ExtractZip(kArchive, kOut, &found, "SETUP.EXE"), 0);
  EXPECT_EQ(found, (std::vector<std::string>{"App\\bin\\setup.exe", "App\\mysetup.exe"}));
  EXPECT_EQ(OutFiles(), (std::vector<std::string>{"App/bin/setup.exe", "App/mysetup.exe"}));
  EXPECT_EQ(OutFile("App\\mysetup.exe"), "longer name");
}

TEST_F(ZipExtractTest, NamesAreCutTo255BytesAndBackslashesSeparate) {
  const std::string long_name = "Top/" + std::string(300, 'n');
  MakeArchive({{long_name, "long"}, {"Win\\Sub\\file.txt", "backslashes"}});

  std::vector<std::string> all;
  EXPECT_EQ(ExtractZip(kArchive, kOut, &all, kAllEntries), 0);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], "Top\\" + std::string(255 - 4, 'n'));
  EXPECT_EQ(all[1], "Win\\Sub\\file.txt");

  std::vector<std::string> top;
  EXPECT_EQ(ExtractZip(kArchive, kOut, &top), 0);
  EXPECT_EQ(top, (std::vector<std::string>{"Top\\", "Win\\"}));
  EXPECT_EQ(OutFile("Win\\Sub\\file.txt"), "backslashes");
  EXPECT_EQ(OutFile("Top\\" + std::string(251, 'n')), "long");
}

TEST_F(ZipExtractTest, UnpackingReplacesLongerFilesAndCopiesLargeEntriesWhole) {
  std::string large;
  for (int i = 0; i < 100000; ++i) large += std::to_string(i * 7919 % 10007);  // many 8 KiB blocks
  MakeArchive({{"App/small.txt", "new"}, {"App/large.bin", large}, {"App/stored.bin", large, 0}});
  root_.WriteFile("C:\\Out\\App\\small.txt", "a much longer old content");

  EXPECT_EQ(ExtractZip(kArchive, kOut), 0);
  EXPECT_EQ(OutFile("App\\small.txt"), "new");
  EXPECT_EQ(OutFile("App\\large.bin"), large);
  EXPECT_EQ(OutFile("App\\stored.bin"), large);
}

TEST_F(ZipExtractTest, ArchivesThatCannotBeOpenedOrHoldNothing) {
  EXPECT_EQ(ExtractZip("C:\\Packages\\missing.zip", kOut), -1);
  EXPECT_TRUE(log_.Contains(log::Level::kError, "cannot open zip file C:\\Packages\\missing.zip"));

  root_.WriteFile(kArchive, "this is no zip archive at all");
  EXPECT_EQ(ExtractZip(kArchive, kOut), -1);

  MakeArchive({});
  std::vector<std::string> top;
  EXPECT_EQ(ExtractZip(kArchive, kOut, &top), 0);
  EXPECT_TRUE(top.empty());
}

TEST_F(ZipExtractTest, FoldersAndFilesThatCannotBeCreatedFailTheWalkButNotTheOtherEntries) {
  MakeArchive({{"Blocked/inner.txt", "i"}, {"Taken", "t"}, {"fine.txt", "f"}});
  root_.WriteFile("C:\\Out\\Blocked", "a file where the folder must go");
  ASSERT_TRUE(stdfs::create_directories(root_.Linux("C:\\Out\\Taken")));

  EXPECT_EQ(ExtractZip(kArchive, kOut), -1);
  EXPECT_EQ(OutFile("fine.txt"), "f");
  EXPECT_TRUE(
      log_.Contains(log::Level::kError, "isFolder false, N_CreateFolder C:\\Out\\Blocked failed, LastError: 183 "));
  EXPECT_TRUE(log_.Contains(log::Level::kError, "CreateFile C:\\Out\\Taken failed, LastError: 5 "));
  EXPECT_TRUE(log_.Contains(log::Level::kError, "decompress folder entry failed"));
}

TEST_F(ZipExtractTest, AnEarlierFailedEntryIsNotHiddenByALaterSuccess) {
  const std::string marker = "MARKER-of-the-damaged-entry";
  MakeArchive({{"App/damaged.txt", marker + " and more", 0}, {"App/fine.txt", "fine"}});
  test::CorruptAt(root_.Linux(kArchive), marker);

  EXPECT_EQ(ExtractZip(kArchive, kOut, nullptr, "", "Renamed"), UNZ_CRCERROR);
  EXPECT_EQ(OutFile("Renamed\\fine.txt"), "fine");
  EXPECT_TRUE(log_.Contains(log::Level::kError, "zip entry failed its CRC check: Renamed\\damaged.txt"));
  EXPECT_TRUE(log_.Contains(log::Level::kError, "changedTopfile: Renamed "));
}

TEST_F(ZipExtractTest, EncryptedEntriesAreNotUnpacked) {
  ZipEntry secret{"App/secret.txt", "the secret text"};
  secret.password = "pass";
  MakeArchive({secret, {"App/open.txt", "open"}});

  EXPECT_EQ(ExtractZip(kArchive, kOut), -1);
  EXPECT_EQ(OutFiles(), std::vector<std::string>{"App/open.txt"});
  EXPECT_TRUE(log_.Contains(log::Level::kError, "zip entry is encrypted and no password is given: App\\secret.txt"));
}

TEST(ZipEntryNames, NamesThatLeaveTheDestinationAreRefused) {
  struct Case {
    const char* name;
    bool safe;
  };
  const Case cases[] = {
      {"App\\bin\\tool.exe", true},
      {"App\\", true},
      {".\\file", true},
      {"a..b\\c..", true},
      {"..\\evil", false},
      {"App\\..\\..\\x", false},
      {"\\abs", false},
      {"\\\\server\\share", false},
      {"C:\\Windows\\x", false},
      {"c:relative", false},
      {"App\\...\\x", false},
      {"App\\.. \\x", false},
      {"", false},
      {"App\\..", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
}

TEST(ZipEntryNames, LinkTargetsMustStayInside) {
  struct Case {
    const char* link;
    const char* target;
    bool inside;
  };
  const Case cases[] = {
      {"App\\bin\\link", "tool.exe", true},
      {"App\\bin\\link", "../lib/x.so", true},
      {"App\\bin\\link", "../../App/x", true},
      {"App\\bin\\link", "../../../etc/passwd", false},
      {"link", "..", false},
      {"App\\link", "/etc/passwd", false},
      {"App\\link", "C:\\Windows", false},
      {"App\\link", "a/../../..", false},
      {"App\\link", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(LinkStaysInside(c.link, c.target), c.inside) << c.link << " -> " << c.target;
}

class ReadFirstZipEntryTest : public ::testing::Test {
 protected:
  std::string Archive(const std::vector<ZipEntry>& entries) {
    const stdfs::path file = folder_.Path() / "licence.zip";
    test::WriteZip(file, entries);
    return test::ReadLinuxFile(file);
  }
  test::TempFolder folder_;
};

TEST_F(ReadFirstZipEntryTest, ReturnsTheFirstEntryOnly) {
  const std::string first(20000, 'L');
  const std::string block = Archive({{"licence.rtf", first}, {"second.rtf", "other"}});
  const auto buffer = ReadFirstZipEntry(block.data(), block.size());
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(std::string(buffer->begin(), buffer->end()), first);

  const std::string empty_first = Archive({{"empty.txt", ""}, {"second.txt", "x"}});
  const auto empty = ReadFirstZipEntry(empty_first.data(), empty_first.size());
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST_F(ReadFirstZipEntryTest, GivesNothingForBlocksThatAreNoSoundArchive) {
  const std::string text = "no archive";
  EXPECT_FALSE(ReadFirstZipEntry(text.data(), text.size()).has_value());
  EXPECT_FALSE(ReadFirstZipEntry(nullptr, 0).has_value());

  const std::string marker = "MARKER-licence-text";
  std::string damaged = Archive({{"licence.rtf", marker, 0}});
  damaged[damaged.find(marker)] ^= 0x5A;
  EXPECT_FALSE(ReadFirstZipEntry(damaged.data(), damaged.size()).has_value());

  std::string cut = Archive({{"licence.rtf", std::string(5000, 'x')}});
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(ReadFirstZipEntry(cut.data(), cut.size()).has_value());
}

}  // namespace
}  // namespace orvo::deploy

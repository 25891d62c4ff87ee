// Both extraction paths on the same archives: the same result for a sound package, and for crafted ones
// (names that climb out, links that point out, damaged data, encryption) a failure with nothing written
// outside the destination.
#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/log.h"
#include "deploy/seven_zip.h"
#include "deploy/seven_zip_abi.h"
#include "deploy/zip_extract.h"
#include "deploy/zip_fixtures.h"
#include "support/test_root.h"

namespace orvo::deploy {
namespace {

namespace stdfs = std::filesystem;
using test::ZipEntry;

struct Extractor {
  const char* name;
  const char* refused;  // how its refusal lines begin
  std::function<std::int32_t(const std::string& archive, const std::string& destination)> run;
};

std::vector<Extractor> BothExtractors() {
  return {{"ExtractZip", "zip entry refused",
           [](const std::string& archive, const std::string& out) { return ExtractZip(archive, out); }},
          {"SevenZipExtract", "7zip item refused", [](const std::string& archive, const std::string& out) {
             std::vector<std::string> top;
             return SevenZipExtract(archive, out, top, false);
           }}};
}

class ExtractionSafetyTest : public ::testing::Test {
 protected:
  static constexpr const char* kArchive = "C:\\Packages\\package.zip";
  static constexpr const char* kOut = "C:\\Target\\Out";

  void MakeArchive(const std::vector<ZipEntry>& entries) { test::WriteZip(root_.Linux(kArchive), entries); }
  // Every file in the system root outside the destination and the package folder.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> stray;
    for (const std::string& file : test::FilesBelow(root_.Root())) {
      if (file.rfind("Target/Out/", 0) != 0 && file.rfind("Packages/", 0) != 0 && file.rfind("Windows/", 0) != 0) {
        stray.push_back(file);
      }
    }
    return stray;
  }
  void Clean() const { stdfs::remove_all(root_.Linux(kOut)); }

  test::TestRoot root_;
};

TEST_F(ExtractionSafetyTest, BothPathsUnpackASoundPackageAlike) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 2654435761u) >> 24);
  MakeArchive({{"Product/", ""},
               {"Product/bin/app.exe", binary},
               {"Product/bin/stored.dll", binary, 0},
               {"Product/empty.txt", ""},
               {"Product/docs/readme.txt", std::string(10000, 'r')}});
  std::vector<std::vector<std::string>> listings;
  for (const Extractor& extractor : BothExtractors()) {
    Clean();
    ASSERT_EQ(extractor.run(kArchive, kOut), 0) << extractor.name;
    listings.push_back(test::FilesBelow(root_.Linux(kOut)));
    EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Target\\Out\\Product\\bin\\app.exe")), binary) << extractor.name;
    EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Target\\Out\\Product\\bin\\stored.dll")), binary);
  }
  EXPECT_EQ(listings[0], listings[1]);
  EXPECT_EQ(listings[0].size(), 4u);
}

TEST_F(ExtractionSafetyTest, NamesThatClimbOutAreRefusedAndTheRestIsUnpacked) {
  MakeArchive({{"../evil.txt", "e"},
               {"App/../../evil2.txt", "e"},
               {"../../../../../../../../tmp/orvo-evil3.txt", "e"},
               {"/abs.txt", "e"},
               {"C:/Windows/evil4.txt", "e"},
               {"App\\..\\..\\evil5.txt", "e"},
               {"App/good.txt", "good"}});
  for (const Extractor& extractor : BothExtractors()) {
    Clean();
    log::ScopedCapture log;
    EXPECT_NE(extractor.run(kArchive, kOut), 0) << extractor.name;
    EXPECT_EQ(test::FilesBelow(root_.Linux(kOut)), std::vector<std::string>{"App/good.txt"}) << extractor.name;
    EXPECT_EQ(StrayFiles(), std::vector<std::string>{}) << extractor.name;
    EXPECT_FALSE(stdfs::exists("/tmp/orvo-evil3.txt"));
    EXPECT_FALSE(stdfs::exists("/abs.txt"));
    const std::string refused = std::string(extractor.refused) + ", it would land outside the destination: ";
    for (const char* name : {"..\\evil.txt", "App\\..\\..\\evil2.txt", "\\abs.txt", "C:\\Windows\\evil4.txt"}) {
      EXPECT_TRUE(log.Contains(log::Level::kError, refused + name)) << extractor.name << " " << name;
    }
  }
}

TEST_F(ExtractionSafetyTest, LinksThatPointOutAreRefusedAndInnerOnesBecomeFiles) {
  MakeArchive({test::UnixLink("App/escape", "../../../../etc/passwd"),
               test::UnixLink("App/absolute", "/etc/passwd"),
               test::UnixLink("App/bin/inner", "../good.txt"),
               {"App/good.txt", "good"}});
  for (const Extractor& extractor : BothExtractors()) {
    Clean();
    log::ScopedCapture log;
    EXPECT_NE(extractor.run(kArchive, kOut), 0) << extractor.name;
    EXPECT_EQ(test::FilesBelow(root_.Linux(kOut)), (std::vector<std::string>{"App/bin/inner", "App/good.txt"}))
        << extractor.name;
    const stdfs::path inner = root_.Linux("C:\\Target\\Out\\App\\bin\\inner");
    EXPECT_FALSE(stdfs::is_symlink(inner));
    EXPECT_EQ(test::ReadLinuxFile(inner), "../good.txt");
    const std::string refused = std::string(extractor.refused) + ", its link points outside the destination: ";
    EXPECT_TRUE(log.Contains(log::Level::kError, refused + "App\\escape")) << extractor.name;
    EXPECT_TRUE(log.Contains(log::Level::kError, refused + "App\\absolute")) << extractor.name;
  }
}

TEST_F(ExtractionSafetyTest, DamagedDataFailsTheExtractionOnBothPaths) {
  const std::string marker = "MARKER-of-the-damaged-entry";
  MakeArchive({{"App/damaged.bin", marker + std::string(1000, 'd'), 0}, {"App/later.txt", "later"}});
  test::CorruptAt(root_.Linux(kArchive), marker);
  log::ScopedCapture log;

  EXPECT_EQ(ExtractZip(kArchive, kOut), UNZ_CRCERROR);
  EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Target\\Out\\App\\later.txt")), "later");

  Clean();
  std::vector<std::string> top{"kept"};
  EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, false), kSevenZipItemsFailed);
  EXPECT_TRUE(log.Contains(log::Level::kError, "7zip Error : CRC Failed"));
  EXPECT_EQ(test::ReadLinuxFile(root_.Linux("C:\\Target\\Out\\App\\later.txt")), "later");
  EXPECT_EQ(top, std::vector<std::string>{"kept"});
}

TEST_F(ExtractionSafetyTest, APasswordProtectedPackageFailsOnBothPaths) {
  const std::string secret = "the secret text of the package";
  for (int level : {0, Z_DEFAULT_COMPRESSION}) {
    ZipEntry entry{"App/secret.txt", secret, level};
    entry.password = "password";
    MakeArchive({entry});
    for (const Extractor& extractor : BothExtractors()) {
      Clean();
      EXPECT_NE(extractor.run(kArchive, kOut), 0) << extractor.name << " level " << level;
      const stdfs::path written = root_.Linux("C:\\Target\\Out\\App\\secret.txt");
      if (stdfs::exists(written)) {
        EXPECT_NE(test::ReadLinuxFile(written), secret) << extractor.name;
      }
    }
    std::vector<std::string> top;
    Clean();
    EXPECT_EQ(SevenZipExtract(kArchive, kOut, top, false), kSevenZipNotAnArchive + sevenzip::kAbort);
  }
}

}  // namespace
}  // namespace orvo::deploy

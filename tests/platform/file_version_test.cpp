#include "platform/file_version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <tuple>

#include "platform/text.h"
#include "support/pe_builder.h"
#include "support/test_root.h"

namespace orvo::platform {
namespace {

using test::BuildPeImage;
using test::BuildVersionedPe;
using test::PeImage;
using test::PeImageOptions;
using test::PeStringTable;
using test::PeVersionResource;

using Versions = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;

std::optional<Versions> Fields(const std::optional<FixedFileVersion>& version) {
  if (!version) return std::nullopt;
  return Versions{version->file_version_ms, version->file_version_ls, version->product_version_ms,
                  version->product_version_ls};
}

struct Parsed {
  std::optional<Versions> fixed;
  std::optional<std::string> company;
};

// Parses a heap copy that ends exactly where the bytes end, so the sanitizer catches any read past it.
Parsed ParseExactCopy(std::string_view bytes) {
  auto copy = std::make_unique<char[]>(bytes.size());
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  const std::string_view view(copy.get(), bytes.size());
  return Parsed{Fields(ParseFixedFileVersion(view)), ParseVersionString(view, "CompanyName")};
}

const std::vector<std::pair<std::string, std::string>> kStrings = {
    {"CompanyName", "Orvo Software GmbH"},
    {"FileDescription", "Orvo Start"},
    {"FileVersion", "10.0.19041.1"},
    {"LegalCopyright", "\xC2\xA9 2024 Orvo Software GmbH"},        // ©
    {"ProductName", "Orvo St\xC3\xBC" "dio \xF0\x9D\x84\x9E"},        // ü and a surrogate pair
    {"Comments", ""},
};

PeImage SampleImage(bool pe32_plus = false) {
  PeImageOptions options;
  options.pe32_plus = pe32_plus;
  options.version = PeVersionResource{{10, 0, 19041, 1}, {4, 5, 2, 7}, {PeStringTable{"040904b0", kStrings}}, false};
  return BuildPeImage(options);
}

const Versions kSampleVersions{0x000A0000u, 0x4A610001u, 0x00040005u, 0x00020007u};

TEST(FileVersionTest, ReadsVersionsAndStringsOfPe32AndPe32Plus) {
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    const std::string image = SampleImage(pe32_plus).bytes;
    EXPECT_EQ(Fields(ParseFixedFileVersion(image)), kSampleVersions);
    for (const auto& [key, value] : kStrings) EXPECT_EQ(ParseVersionString(image, key), value) << key;
    EXPECT_EQ(ParseVersionString(image, "companyname"), "Orvo Software GmbH");  // keys ignore case
    EXPECT_EQ(ParseVersionString(image, "ProductVersion"), std::nullopt);
    EXPECT_EQ(ParseVersionString(image, "Company"), std::nullopt);
    EXPECT_EQ(ParseVersionString(image, ""), std::nullopt);
  }
}

TEST(FileVersionTest, ExtremeVersionNumbersKeepEveryBit) {
  const std::string image = BuildVersionedPe({0xFFFF, 1, 0, 0xFFFF}, {0, 0, 0, 0}, {}, true);
  EXPECT_EQ(Fields(ParseFixedFileVersion(image)), (Versions{0xFFFF0001u, 0x0000FFFFu, 0, 0}));
  EXPECT_EQ(ParseVersionString(image, "CompanyName"), std::nullopt);
}

TEST(FileVersionTest, OnlyTheFirstStringTableIsConsulted) {
  PeImageOptions options;
  options.version = PeVersionResource{{1, 2, 3, 4}, {1, 2, 3, 4},
                                      {PeStringTable{"040704b0", {{"CompanyName", "Orvo Deutschland"}}},
                                       PeStringTable{"040904b0", {{"CompanyName", "Orvo Inc"}, {"ProductName", "X"}}}},
                                      false};
  const std::string image = BuildPeImage(options).bytes;
  EXPECT_EQ(ParseVersionString(image, "CompanyName"), "Orvo Deutschland");
  EXPECT_EQ(ParseVersionString(image, "ProductName"), std::nullopt);

  // A query names its table, as VerQueryValue does.
  const auto resource = FindVersionResource(image);
  ASSERT_TRUE(resource);
  EXPECT_EQ(QueryVersionString(*resource, "040904b0", "ProductName"), "X");
  EXPECT_EQ(QueryVersionString(*resource, "040904B0", "companyname"), "Orvo Inc");
  EXPECT_EQ(QueryVersionString(*resource, "040C04b0", "CompanyName"), std::nullopt);
  EXPECT_EQ(QueryVersionString(resource->substr(0, 20), "040704b0", "CompanyName"), std::nullopt);
  EXPECT_FALSE(FindVersionResource("MZ and nothing else"));
}

TEST(FileVersionTest, FindsStringFileInfoAfterVarFileInfo) {
  PeImageOptions options;
  options.version = PeVersionResource{{2, 0, 1, 46}, {2, 0, 1, 46}, {PeStringTable{"040904b0", kStrings}}, true};
  const std::string image = BuildPeImage(options).bytes;
  EXPECT_EQ(ParseVersionString(image, "ProductName"), kStrings[4].second);
  EXPECT_EQ(Fields(ParseFixedFileVersion(image)), (Versions{0x00020000u, 0x0001002Eu, 0x00020000u, 0x0001002Eu}));
}

TEST(FileVersionTest, FilesWithoutAVersionResourceHaveNone) {
  PeImageOptions manifest_only;
  manifest_only.version.reset();
  PeImageOptions no_resources;
  no_resources.resource_section = false;
  const std::string elf("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"manifest only", BuildPeImage(manifest_only).bytes},
      {"no resource section", BuildPeImage(no_resources).bytes},
      {"empty", ""},
      {"MZ alone", "MZ"},
      {"ELF", elf},
      {"text", "[Setup]\r\nCompanyName=Orvo Software GmbH\r\n"},
  };
  for (const auto& [name, bytes] : cases) {
    const Parsed parsed = ParseExactCopy(bytes);
    EXPECT_EQ(parsed.fixed, std::nullopt) << name;
    EXPECT_EQ(parsed.company, std::nullopt) << name;
  }
}

TEST(FileVersionTest, TruncatedImagesGiveNoVersionUntilTheResourceIsWhole) {
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    const PeImage image = SampleImage(pe32_plus);
    const std::size_t needed = image.layout.resource_data_end;
    ASSERT_GT(needed, 0u);
    for (std::size_t length = 0; length <= image.bytes.size(); ++length) {
      const Parsed parsed = ParseExactCopy(std::string_view(image.bytes).substr(0, length));
      if (length < needed) {
        ASSERT_EQ(parsed.fixed, std::nullopt) << length;
        ASSERT_EQ(parsed.company, std::nullopt) << length;
      } else {
        ASSERT_EQ(parsed.fixed, kSampleVersions) << length;
        ASSERT_EQ(parsed.company, "Orvo Software GmbH") << length;
      }
    }
  }
}

void Write16(std::string& bytes, std::size_t offset, std::uint32_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Write32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  Write16(bytes, offset, value & 0xFFFF);
  Write16(bytes, offset + 2, value >> 16);
}

TEST(FileVersionTest, DamagedStructuresGiveNoVersion) {
  struct Damage {
    const char* name;
    std::size_t offset;
    int width;
    std::uint32_t value;
    bool fixed_survives;  // the damage lies in the string tables only
  };
  for (bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    const PeImage image = SampleImage(pe32_plus);
    const test::PeLayout& at = image.layout;
    const std::size_t rsrc = at.resource_section;
    const std::size_t size = image.bytes.size();
    const std::vector<Damage> damages = {
        {"DOS signature", 0, 16, 0x5A4E, false},
        {"PE offset beyond the file", 0x3C, 32, 0xFFFFFFF0u, false},
        {"PE offset at the very end", 0x3C, 32, static_cast<std::uint32_t>(size - 2), false},
        {"PE signature", at.pe_header, 32, 0x00004551, false},
        {"optional header magic", at.optional_header, 16, 0x010C, false},
        {"two data directories only", at.resource_directory_entry - 20, 32, 2, false},
        {"optional header too short for the resource entry", at.pe_header + 20, 16, 96, false},
        {"resource RVA outside every section", at.resource_directory_entry, 32, 0x9000, false},
        {"resource RVA past the section's virtual size", at.resource_directory_entry, 32,
         static_cast<std::uint32_t>(0x2000 + at.resource_data_end - rsrc), false},
        {"resource section raw data beyond the file", at.section_table + 40 + 20, 32, 0x7FFFFF00u, false},
        {"resource section shorter than its data", at.section_table + 40 + 8, 32, 0x60, false},
        {"no RT_VERSION type", rsrc + 16, 32, 17, false},
        {"type entry not a subdirectory", rsrc + 20, 32, 0x18, false},
        {"type subdirectory beyond the section", rsrc + 20, 32, 0xFFFFFFF0u, false},
        {"name subdirectory beyond the section", at.type_directory + 20, 32, 0x80001000u, false},
        {"language entry is a subdirectory", rsrc + 0x30 + 20, 32, 0x80000048u, false},
        {"data entry beyond the section", rsrc + 0x30 + 20, 32, 0x7FFFFFF0u, false},
        {"data RVA outside the image", at.resource_data_entry, 32, 0x00FFFFFFu, false},
        {"data RVA wraps around", at.resource_data_entry, 32, 0xFFFFFFFCu, false},
        {"data larger than the file", at.resource_data_entry + 4, 32, 0x10000, false},
        {"data past the section's virtual size, inside the file's padding", at.resource_data_entry + 4, 32,
         static_cast<std::uint32_t>(at.resource_data_end - at.resource_data + 4), false},
        {"data of zero bytes", at.resource_data_entry + 4, 32, 0, false},
        {"root length beyond the resource", at.resource_data, 16, 0xFFFF, false},
        {"root length shorter than its header", at.resource_data, 16, 4, false},
        {"VS_VERSION_INFO key", at.resource_data + 6, 16, 'W', false},
        {"fixed information longer than the block", at.resource_data + 2, 16, 0xFFF0, false},
        {"fixed information too short", at.resource_data + 2, 16, 20, false},
        {"fixed information signature", at.fixed_file_info, 32, 0xFEEF04BCu, false},
        {"StringFileInfo key", at.string_file_info + 6, 16, 'X', true},
        {"StringFileInfo longer than the root", at.string_file_info, 16, 0xFFF0, true},
        {"String block of length zero", at.first_string, 16, 0, true},
        {"String block longer than its table", at.first_string, 16, 0xFFF0, true},
        {"String key without its NUL", at.first_string, 16, 6 + 2 * 3, true},
    };
    const Parsed intact = ParseExactCopy(image.bytes);
    ASSERT_EQ(intact.fixed, kSampleVersions);
    ASSERT_EQ(intact.company, "Orvo Software GmbH");
    for (const Damage& damage : damages) {
      std::string bytes = image.bytes;
      ASSERT_LE(damage.offset + static_cast<std::size_t>(damage.width / 8), bytes.size()) << damage.name;
      if (damage.width == 16) {
        Write16(bytes, damage.offset, damage.value);
      } else {
        Write32(bytes, damage.offset, damage.value);
      }
      const Parsed parsed = ParseExactCopy(bytes);
      EXPECT_EQ(parsed.fixed, damage.fixed_survives ? intact.fixed : std::nullopt) << damage.name;
      EXPECT_EQ(parsed.company, std::nullopt) << damage.name;
    }
  }
}

TEST(FileVersionTest, ByteDamageAnywhereNeverReadsOutOfBounds) {
  const PeImage image = SampleImage(true);
  const Parsed intact = ParseExactCopy(image.bytes);
  int without_version = 0;
  for (std::size_t offset = 0; offset < image.layout.resource_data_end; ++offset) {
    for (const unsigned char value : std::initializer_list<unsigned char>{0x00, 0x7F, 0x80, 0xFF}) {
      std::string bytes = image.bytes;
      if (static_cast<unsigned char>(bytes[offset]) == value) continue;
      bytes[offset] = static_cast<char>(value);
      const Parsed parsed = ParseExactCopy(bytes);
      if (parsed.company) {
        EXPECT_TRUE(IsValidUtf8(*parsed.company)) << offset;
      }
      if (!parsed.fixed) ++without_version;
      // The code section is never read: damage there changes nothing.
      if (offset >= 0x200 && offset < 0x400) {
        ASSERT_EQ(parsed.fixed, intact.fixed) << offset;
        ASSERT_EQ(parsed.company, intact.company) << offset;
      }
    }
  }
  EXPECT_GT(without_version, 0);
}

TEST(FileVersionTest, ReadsTheVersionOfAFileByItsWindowsPath) {
  test::TestRoot root;
  const std::string program = "C:\\Program Files (x86)\\Orvo\\Orvo Start.exe";
  const std::string script = "C:\\Program Files (x86)\\Orvo\\setup.bat";
  root.WriteFile(program, SampleImage().bytes);
  root.WriteFile(script, "@echo off\r\n");

  EXPECT_EQ(Fields(ReadFixedFileVersion(program)), kSampleVersions);
  EXPECT_EQ(ReadVersionString(program, "CompanyName"), "Orvo Software GmbH");
  EXPECT_EQ(ReadVersionString(program, "LegalCopyright"), kStrings[3].second);
  EXPECT_EQ(ReadFixedFileVersion(script), std::nullopt);
  EXPECT_EQ(ReadVersionString(script, "CompanyName"), std::nullopt);
  EXPECT_EQ(ReadFixedFileVersion("C:\\Program Files (x86)\\Orvo\\missing.exe"), std::nullopt);
  EXPECT_EQ(ReadVersionString("C:\\Program Files (x86)\\Orvo\\missing.exe", "CompanyName"), std::nullopt);
}

}  // namespace
}  // namespace orvo::platform

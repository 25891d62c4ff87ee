// Small PE images for tests: a valid PE32 (x86) or PE32+ (x64) image with a .text section and a .rsrc
// section holding an RT_VERSION resource (VS_FIXEDFILEINFO, StringFileInfo tables, VarFileInfo). Nothing
// in it runs; it is what a version reader, or anything that examines a Windows binary, needs to see.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvo::test {

// major, minor, build, revision.
using PeVersion = std::array<std::uint16_t, 4>;

struct PeStringTable {
  std::string language = "040904b0";  // the table's key: language and code page in hexadecimal
  std::vector<std::pair<std::string, std::string>> strings;  // UTF-8 keys and values, in this order
};

struct PeVersionResource {
  PeVersion file_version{1, 0, 0, 0};
  PeVersion product_version{1, 0, 0, 0};
  std::vector<PeStringTable> string_tables{PeStringTable{}};
  bool var_file_info_first = false;  // VarFileInfo before StringFileInfo; both orders occur in the wild
};

struct PeImageOptions {
  bool pe32_plus = false;
  // Absent: the .rsrc section holds only a manifest resource (RT_MANIFEST), no version.
  std::optional<PeVersionResource> version = PeVersionResource{};
  bool resource_section = true;  // false: no .rsrc section and no resource directory at all
};

// File offsets of the parts, for tests that damage an image on purpose.
struct PeLayout {
  std::size_t pe_header = 0;                 // "PE\0\0"
  std::size_t optional_header = 0;
  std::size_t resource_directory_entry = 0;  // data directory 2: RVA, size
  std::size_t section_table = 0;
  std::size_t resource_section = 0;          // the root resource directory; 0 without .rsrc
  std::size_t type_directory = 0;            // the directory of names under the resource's type
  std::size_t resource_data_entry = 0;       // IMAGE_RESOURCE_DATA_ENTRY: RVA, size
  std::size_t resource_data = 0;             // the resource itself (VS_VERSIONINFO, or the manifest)
  std::size_t resource_data_end = 0;
  std::size_t fixed_file_info = 0;           // VS_FIXEDFILEINFO; 0 without a version
  std::size_t string_file_info = 0;          // the StringFileInfo block; 0 without a version
  std::size_t first_string = 0;              // the first String block of the first table; 0 when none
};

struct PeImage {
  std::string bytes;
  PeLayout layout;
};

PeImage BuildPeImage(const PeImageOptions& options);

// Shorthand: the bytes of an image with one "040904b0" table of these strings.
std::string BuildVersionedPe(const PeVersion& file_version, const PeVersion& product_version,
                             const std::vector<std::pair<std::string, std::string>>& strings,
                             bool pe32_plus = false);

}  // namespace orvo::test

// The version resource of a PE image (GetFileVersionInfo): VS_FIXEDFILEINFO and StringFileInfo texts.
// The packages carry Windows binaries, so the reader parses PE files itself; any other file has no version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::platform {

struct FixedFileVersion {
  std::uint32_t file_version_ms = 0;  // major << 16 | minor
  std::uint32_t file_version_ls = 0;  // build << 16 | revision
  std::uint32_t product_version_ms = 0;
  std::uint32_t product_version_ls = 0;
};

// From the bytes of a PE image (32- or 64-bit). Hostile input is expected: every offset is checked.
std::optional<FixedFileVersion> ParseFixedFileVersion(std::string_view image);
// A StringFileInfo value ("CompanyName", "ProductVersion"...) from the first string table.
std::optional<std::string> ParseVersionString(std::string_view image, std::string_view key);

// The VS_VERSIONINFO resource of a PE image (the bytes GetFileVersionInfo hands back); nullopt when none.
std::optional<std::string_view> FindVersionResource(std::string_view image);
// VerQueryValue("\StringFileInfo\<table>\<key>") on such a resource: nullopt when the table or key is
// missing or the resource is damaged.
std::optional<std::string> QueryVersionString(std::string_view resource, std::string_view table,
                                              std::string_view key);

// The same for a file named by a Windows path.
std::optional<FixedFileVersion> ReadFixedFileVersion(std::string_view path);
std::optional<std::string> ReadVersionString(std::string_view path, std::string_view key);

}  // namespace orvo::platform

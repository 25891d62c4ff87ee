// Zip archives made by the tests with minizip, including the crafted ones: links, encrypted entries,
// names that climb out, corrupted data.
#pragma once

#include <minizip/zip.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orvo::test {

struct ZipEntry {
  std::string name;  // as stored: "/" or "\" as given; a folder ends in "/"
  std::string data;
  int level = Z_DEFAULT_COMPRESSION;  // 0 stores the data as it is
  unsigned long made_by = 0;          // "version made by"; the high byte is the host (0 FAT, 3 Unix)
  unsigned long external = 0;         // external attributes (FAT: the Windows ones; Unix: mode << 16)
  const char* password = nullptr;
  tm_zip time{0, 0, 12, 1, 0, 2020};  // local wall-clock time, full year
};

// A Unix symbolic link entry pointing at target.
ZipEntry UnixLink(const std::string& name, const std::string& target);

// Writes the archive (parents created). Throws when minizip fails: a broken fixture is no test.
void WriteZip(const std::filesystem::path& file, const std::vector<ZipEntry>& entries);
// Flips one byte of the first place where marker occurs in the file.
void CorruptAt(const std::filesystem::path& file, const std::string& marker);

std::string ReadLinuxFile(const std::filesystem::path& file);
// Every regular file below the folder, as paths relative to it with "/" separators, sorted.
std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

}  // namespace orvo::test

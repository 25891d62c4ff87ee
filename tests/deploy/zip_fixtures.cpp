#include "deploy/zip_fixtures.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orvo::test {

namespace stdfs = std::filesystem;

ZipEntry UnixLink(const std::string& name, const std::string& target) {
  ZipEntry entry;
  entry.name = name;
  entry.data = target;
  entry.level = 0;
  entry.made_by = (3u << 8) | 30u;
  entry.external = 0120777ul << 16;
  return entry;
}

void WriteZip(const stdfs::path& file, const std::vector<ZipEntry>& entries) {
  stdfs::create_directories(file.parent_path());
  zipFile zip = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) throw std::runtime_error("cannot create " + file.string());
  for (const ZipEntry& entry : entries) {
    zip_fileinfo info{};
    info.tmz_date = entry.time;
    info.external_fa = entry.external;
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size()));
    const int method = entry.level == 0 ? 0 : Z_DEFLATED;
    if (zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, entry.level, 0,
                                -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, entry.password, crc, entry.made_by, 0,
                                0) != ZIP_OK ||
        zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      zipClose(zip, nullptr);
      throw std::runtime_error("cannot add " + entry.name);
    }
  }
  if (zipClose(zip, nullptr) != ZIP_OK) throw std::runtime_error("cannot close " + file.string());
}

void CorruptAt(const stdfs::path& file, const std::string& marker) {
  std::string bytes = ReadLinuxFile(file);
  const std::size_t at = bytes.find(marker);
  if (at == std::string::npos) throw std::runtime_error("marker not in " + file.string());
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadLinuxFile(const stdfs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesBelow(const stdfs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = stdfs::recursive_directory_iterator(folder, error);
       !error && it != stdfs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file()) files.push_back(stdfs::relative(it->path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace orvo::test

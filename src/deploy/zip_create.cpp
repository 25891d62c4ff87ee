#include "deploy/zip_create.h"

#include <minizip/zip.h>

#include "deploy/zip_extract.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::deploy {

namespace fs = platform::fs;

namespace {

// The entry name stores the low byte of each UTF-16 code unit of the file's name.
std::string EntryName(std::string_view path) {
  const std::u16string wide = platform::Utf8ToUtf16(sys::SplitPath(path).name);
  std::string name;
  name.reserve(wide.size());
  for (char16_t unit : wide) name += static_cast<char>(unit & 0xFF);
  return name;
}

zip_fileinfo EntryInfo(std::string_view path) {
  zip_fileinfo info{};
  if (const auto stat = fs::Stat(path)) {
    const platform::LocalTime local = fs::FileTimeToLocalTime(stat->last_write_time);
    info.tmz_date.tm_sec = static_cast<uInt>(local.second);
    info.tmz_date.tm_min = static_cast<uInt>(local.minute);
    info.tmz_date.tm_hour = static_cast<uInt>(local.hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.day);
    info.tmz_date.tm_mon = static_cast<uInt>(local.month - 1);
    info.tmz_date.tm_year = static_cast<uInt>(local.year);
  }
  return info;
}

// False when the archive could not be written; a file that cannot be read only shortens its entry.
bool AddFile(zipFile zip, const std::string& path) {
  const zip_fileinfo info = EntryInfo(path);
  const std::string name = EntryName(path);
  auto file = fs::File::Open(path, fs::File::Mode::kRead);
  const std::uint64_t size = file ? file->Size().value_or(0) : 0;
  if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                            Z_DEFAULT_COMPRESSION, size >= 0xFFFFFFFFull ? 1 : 0) != ZIP_OK) {
    return false;
  }
  bool written = true;
  char block[kCreateCopyBlockSize];
  while (file && written) {
    const long long got = file->Read(block, sizeof block);
    if (got <= 0) break;
    written = zipWriteInFileInZip(zip, block, static_cast<unsigned>(got)) == ZIP_OK;
  }
  return zipCloseFileInZip(zip) == ZIP_OK && written;
}

}  // namespace

std::int32_t CreateZip(std::string_view archive, const std::vector<std::string>& files) {
  zlib_filefunc64_def functions{};
  detail::FillPlatformFileFunctions(&functions);
  const std::string path(archive);
  zipFile zip = path.empty() ? nullptr : zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (zip == nullptr) return -1;
  bool complete = true;
  for (const std::string& file : files) {
    if (!AddFile(zip, file)) {
      complete = false;
      break;
    }
  }
  // A report must not go out with a broken archive that claims to be whole.
  const bool closed = zipClose(zip, nullptr) == ZIP_OK;
  return complete && closed ? 0 : -1;
}

}  // namespace orvo::deploy

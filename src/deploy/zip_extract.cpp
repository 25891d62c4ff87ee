#include "deploy/zip_extract.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

#include "app/log.h"
#include "platform/file_system.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::deploy {

namespace fs = platform::fs;

namespace {

// ---------------------------------------------------------------------------------------------------------
// Minizip's file functions over platform::fs::File.

// Minizip reads an entry's header in the central directory, then its local header and data elsewhere, in
// small pieces with a seek before each; two cached windows serve both places without a system call each.
class ZipFileStream {
 public:
  ZipFileStream(std::unique_ptr<fs::File> file, bool writing) : file_(std::move(file)), writing_(writing) {
    size_ = writing_ ? 0 : file_->Size().value_or(0);
  }

  uLong Read(void* buffer, uLong size) {
    auto* out = static_cast<char*>(buffer);
    uLong done = 0;
    while (done < size) {
      Window* window = Find(position_);
      if (window == nullptr) window = Refill(position_);
      if (window == nullptr) break;
      const std::size_t offset = static_cast<std::size_t>(position_ - window->start);
      const std::size_t count = std::min<std::size_t>(size - done, window->length - offset);
      std::memcpy(out + done, window->bytes.data() + offset, count);
      done += static_cast<uLong>(count);
      position_ += count;
    }
    return done;
  }

  uLong Write(const void* buffer, uLong size) {
    if (!writing_ || !file_->Write(buffer, size)) {
      failed_ = true;
      return 0;
    }
    position_ += size;
    size_ = std::max(size_, position_);
    return size;
  }

  ZPOS64_T Tell() const { return position_; }

  long Seek(ZPOS64_T offset, int origin) {
    std::uint64_t target = 0;
    switch (origin) {
      case ZLIB_FILEFUNC_SEEK_SET: target = offset; break;
      case ZLIB_FILEFUNC_SEEK_CUR: target = position_ + offset; break;
      case ZLIB_FILEFUNC_SEEK_END: target = size_ + offset; break;
      default: return -1;
    }
    // Reads seek lazily (the cache may hold the place); writes go where minizip points.
    if (writing_ && !file_->Seek(target)) return -1;
    position_ = target;
    return 0;
  }

  int Error() const { return failed_ ? 1 : 0; }

 private:
  static constexpr std::size_t kWindowSize = 128 * 1024;
  struct Window {
    std::uint64_t start = 0;
    std::size_t length = 0;
    std::vector<char> bytes;
    std::uint64_t last_use = 0;
  };

  Window* Find(std::uint64_t at) {
    for (Window& window : windows_) {
      if (window.length > 0 && at >= window.start && at - window.start < window.length) {
        window.last_use = ++uses_;
        return &window;
      }
    }
    return nullptr;
  }

  // Null at the end of the file or on a read error (then the error flag is set).
  Window* Refill(std::uint64_t at) {
    if (writing_ || at >= size_) return nullptr;
    Window& window = windows_[0].last_use <= windows_[1].last_use ? windows_[0] : windows_[1];
    window.bytes.resize(kWindowSize);
    window.start = at;
    window.length = 0;
    if (!file_->Seek(at)) {
      failed_ = true;
      return nullptr;
    }
    while (window.length < kWindowSize) {
      const long long got = file_->Read(window.bytes.data() + window.length, kWindowSize - window.length);
      if (got < 0) {
        failed_ = true;
        break;
      }
      if (got == 0) break;
      window.length += static_cast<std::size_t>(got);
    }
    if (window.length == 0) return nullptr;
    window.last_use = ++uses_;
    return &window;
  }

  std::unique_ptr<fs::File> file_;
  bool writing_;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  bool failed_ = false;
  Window windows_[2];
  std::uint64_t uses_ = 0;
};

ZipFileStream* AsFile(voidpf stream) { return static_cast<ZipFileStream*>(stream); }

voidpf OpenFile(voidpf, const void* name, int mode) {
  if (name == nullptr) return nullptr;
  const bool reading = (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ;
  // Only what the installer does: read an archive, or create a new one.
  if (!reading && (mode & ZLIB_FILEFUNC_MODE_CREATE) == 0) return nullptr;
  auto file =
      fs::File::Open(static_cast<const char*>(name), reading ? fs::File::Mode::kRead : fs::File::Mode::kCreateAlways);
  if (!file) return nullptr;
  return new (std::nothrow) ZipFileStream(std::move(file), !reading);
}
uLong ReadFile(voidpf, voidpf stream, void* buffer, uLong size) { return AsFile(stream)->Read(buffer, size); }
uLong WriteFile(voidpf, voidpf stream, const void* buffer, uLong size) { return AsFile(stream)->Write(buffer, size); }
ZPOS64_T TellFile(voidpf, voidpf stream) { return AsFile(stream)->Tell(); }
long SeekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) { return AsFile(stream)->Seek(offset, origin); }
int CloseFile(voidpf, voidpf stream) {
  delete AsFile(stream);
  return 0;
}
int FileError(voidpf, voidpf stream) { return AsFile(stream)->Error(); }

// ---------------------------------------------------------------------------------------------------------
// Minizip's file functions over a memory block (the archive is never written to disk).

struct MemoryBlock {
  const unsigned char* data;
  std::uint64_t size;
};
struct MemoryStream {
  const MemoryBlock* block;
  std::uint64_t position = 0;
};

MemoryStream* AsMemory(voidpf stream) { return static_cast<MemoryStream*>(stream); }

voidpf OpenMemory(voidpf opaque, const void*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  return new (std::nothrow) MemoryStream{static_cast<const MemoryBlock*>(opaque)};
}
uLong ReadMemory(voidpf, voidpf stream, void* buffer, uLong size) {
  MemoryStream& memory = *AsMemory(stream);
  if (memory.position >= memory.block->size) return 0;
  const std::uint64_t count = std::min<std::uint64_t>(size, memory.block->size - memory.position);
  std::memcpy(buffer, memory.block->data + memory.position, static_cast<std::size_t>(count));
  memory.position += count;
  return static_cast<uLong>(count);
}
uLong WriteMemory(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T TellMemory(voidpf, voidpf stream) { return AsMemory(stream)->position; }
long SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  MemoryStream& memory = *AsMemory(stream);
  std::uint64_t target = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: target = offset; break;
    case ZLIB_FILEFUNC_SEEK_CUR: target = memory.position + offset; break;
    case ZLIB_FILEFUNC_SEEK_END: target = memory.block->size + offset; break;
    default: return -1;
  }
  if (target > memory.block->size) return -1;
  memory.position = target;
  return 0;
}
int CloseMemory(voidpf, voidpf stream) {
  delete AsMemory(stream);
  return 0;
}
int MemoryError(voidpf, voidpf) { return 0; }

// ---------------------------------------------------------------------------------------------------------

class ZipReader {
 public:
  explicit ZipReader(unzFile zip) : zip_(zip) {}
  ~ZipReader() {
    if (zip_ != nullptr) unzClose(zip_);
  }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;
  unzFile get() const { return zip_; }

 private:
  unzFile zip_;
};

// Closes the entry's data when the handling of an entry ends, whatever the way out.
class OpenEntry {
 public:
  explicit OpenEntry(unzFile zip) : zip_(zip) {}
  ~OpenEntry() {
    if (zip_ != nullptr) unzCloseCurrentFile(zip_);
  }
  OpenEntry(const OpenEntry&) = delete;
  OpenEntry& operator=(const OpenEntry&) = delete;
  // Closes now; UNZ_CRCERROR when the data read does not match the entry's checksum.
  int Close() {
    const int result = unzCloseCurrentFile(zip_);
    zip_ = nullptr;
    return result;
  }

 private:
  unzFile zip_;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= path.size(); ++at) {
    if (at == path.size() || IsSeparator(path[at])) {
      if (at > start) parts.push_back(path.substr(start, at - start));
      start = at + 1;
    }
  }
  return parts;
}

bool ClimbsLikeDotDot(std::string_view part) {
  const bool dots_and_spaces = part.find_first_not_of(". ") == std::string_view::npos;
  return dots_and_spaces && std::count(part.begin(), part.end(), '.') >= 2;
}

bool StartsWithDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool IsUnixLink(const unz_file_info64& info) {
  constexpr uLong kMadeOnUnix = 3;
  constexpr uLong kTypeMask = 0170000;
  constexpr uLong kLink = 0120000;
  return (info.version >> 8) == kMadeOnUnix && ((info.external_fa >> 16) & kTypeMask) == kLink;
}

std::string FolderOf(std::string_view path) {
  const std::size_t last = path.find_last_of('\\');
  return std::string(last == std::string_view::npos ? std::string_view() : path.substr(0, last));
}

// One walk of ExtractZip: the arguments and what the walk has seen.
class ZipWalk {
 public:
  ZipWalk(unzFile zip, std::string_view destination, std::vector<std::string>* names, std::string_view filter,
          std::string_view changed_top)
      : zip_(zip), destination_(destination), names_(names), filter_(filter), changed_top_(changed_top) {}

  int HandleEntry() {
    unz_file_info64 info{};
    char raw_name[kMaxEntryNameBytes + 1] = {};
    const int read = unzGetCurrentFileInfo64(zip_, &info, raw_name, kMaxEntryNameBytes, nullptr, 0, nullptr, 0);
    if (read != UNZ_OK) return read;
    const std::string name = EntryName(raw_name);
    if (!IsSafeEntryName(name)) {
      log::Error("zip entry refused, it would land outside the destination: %s", name.c_str());
      return -1;
    }
    if (!Selected(name)) return 0;
    if (destination_.empty()) return 0;

    const std::string target = platform::JoinPath(destination_, name);
    if (name.back() == '\\') return CreateFolder(target) ? 0 : -1;
    if (name.find('\\') != std::string::npos && !CreateFolder(FolderOf(target))) return -1;
    if ((info.flag & 1) != 0) {
      log::Error("zip entry is encrypted and no password is given: %s", name.c_str());
      return -1;
    }
    if (IsUnixLink(info)) return ExtractLink(name, target);
    return ExtractFile(name, target);
  }

 private:
  std::string EntryName(const char* raw) const {
    // Read as UTF-8 whatever the archive's flags say; what is not UTF-8 becomes U+FFFD.
    std::string name = platform::Utf16ToUtf8(platform::Utf8ToUtf16(raw));
    std::replace(name.begin(), name.end(), '/', '\\');
    const std::size_t first = name.find('\\');
    if (!changed_top_.empty() && first != std::string::npos) name = std::string(changed_top_) + name.substr(first);
    return name;
  }

  // Lists the entry as the filter asks; true when it is to be unpacked.
  bool Selected(const std::string& name) {
    if (filter_.empty()) {
      if (names_ != nullptr) {
        const std::size_t first = name.find('\\');
        if (first == std::string::npos) {
          names_->push_back(name);
        } else if (std::string top = name.substr(0, first + 1); top_folders_.insert(top).second) {
          names_->push_back(std::move(top));
        }
      }
      return true;
    }
    if (filter_ == kAllEntries) {
      if (names_ != nullptr) names_->push_back(name);
      return false;
    }
    if (!platform::EndsWithNoCase(name, filter_)) return false;
    if (names_ != nullptr) names_->push_back(name);
    return true;
  }

  bool CreateFolder(const std::string& folder) {
    const std::string path = platform::WithoutTrailingBackslash(folder);
    if (path == last_folder_) return true;  // the entries of one folder follow each other
    if (!sys::N_CreateFolder(path)) {
      const std::uint32_t error = fs::CreateFolder(path);
      log::Error("isFolder false, N_CreateFolder %s failed, LastError: %d ", path.c_str(), static_cast<int>(error));
      return false;
    }
    last_folder_ = path;
    return true;
  }

  std::unique_ptr<fs::File> CreateTarget(const std::string& target) const {
    std::uint32_t error = 0;
    auto file = fs::File::Open(target, fs::File::Mode::kCreateAlways, &error);
    if (!file) log::Error("CreateFile %s failed, LastError: %d ", target.c_str(), static_cast<int>(error));
    return file;
  }

  int CheckedClose(OpenEntry& entry, int result, const std::string& name) const {
    const int closed = entry.Close();
    if (result == 0 && closed == UNZ_CRCERROR) {
      log::Error("zip entry failed its CRC check: %s", name.c_str());
      return closed;
    }
    return result;
  }

  int ExtractFile(const std::string& name, const std::string& target) {
    const int opened = unzOpenCurrentFile(zip_);
    if (opened != UNZ_OK) return opened;
    OpenEntry entry(zip_);
    auto file = CreateTarget(target);
    if (!file) return -1;
    int result = 0;
    while (true) {
      result = unzReadCurrentFile(zip_, block_, kCopyBlockSize);
      if (result <= 0) break;
      if (!file->Write(block_, static_cast<std::size_t>(result))) {
        log::Error("unzReadCurrentFile: %s, ret: %d, WriteFile: %d", name.c_str(), result, 0);
        result = -1;
        break;
      }
    }
    file.reset();
    return CheckedClose(entry, result, name);
  }

  // A link is written as a file holding its target, as on Windows, once the target is known to stay inside.
  int ExtractLink(const std::string& name, const std::string& target) {
    const int opened = unzOpenCurrentFile(zip_);
    if (opened != UNZ_OK) return opened;
    OpenEntry entry(zip_);
    std::string link;
    int result = 0;
    while (link.size() <= kMaxLinkTargetBytes) {
      result = unzReadCurrentFile(zip_, block_, kCopyBlockSize);
      if (result <= 0) break;
      link.append(block_, static_cast<std::size_t>(result));
    }
    if (result < 0) return result;
    result = CheckedClose(entry, result, name);
    if (result != 0) return result;
    if (link.size() > kMaxLinkTargetBytes || !LinkStaysInside(name, link)) {
      log::Error("zip entry refused, its link points outside the destination: %s", name.c_str());
      return -1;
    }
    auto file = CreateTarget(target);
    if (!file) return -1;
    if (!file->Write(link.data(), link.size())) {
      log::Error("unzReadCurrentFile: %s, ret: %d, WriteFile: %d", name.c_str(), static_cast<int>(link.size()), 0);
      return -1;
    }
    return 0;
  }

  unzFile zip_;
  std::string_view destination_;
  std::vector<std::string>* names_;
  std::string_view filter_;
  std::string_view changed_top_;
  std::unordered_set<std::string> top_folders_;
  std::string last_folder_;
  char block_[kCopyBlockSize];
};

// Minizip refuses an archive that holds nothing but its end record; such an archive simply has no entries.
bool IsEmptyArchive(const std::string& path) {
  constexpr std::size_t kEndRecord = 22;
  const auto size = fs::Stat(path).value_or(fs::FileInfo{}).size;
  if (size < kEndRecord || size > kEndRecord + 0xFFFF) return false;
  const auto bytes = fs::ReadFile(path);
  if (!bytes || bytes->size() != size) return false;
  const auto word = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>((*bytes)[at])) |
           static_cast<unsigned>(static_cast<unsigned char>((*bytes)[at + 1])) << 8;
  };
  for (std::size_t at = bytes->size() - kEndRecord + 1; at-- > 0;) {
    if (bytes->compare(at, 4, "PK\x05\x06") != 0) continue;
    if (at + kEndRecord + word(at + 20) != bytes->size()) continue;
    // No entries on this disk or in all, and an empty central directory.
    return word(at + 8) == 0 && word(at + 10) == 0 && word(at + 12) == 0 && word(at + 14) == 0;
  }
  return false;
}

}  // namespace

namespace detail {

void FillPlatformFileFunctions(zlib_filefunc64_def_s* functions) {
  functions->zopen64_file = OpenFile;
  functions->zread_file = ReadFile;
  functions->zwrite_file = WriteFile;
  functions->ztell64_file = TellFile;
  functions->zseek64_file = SeekFile;
  functions->zclose_file = CloseFile;
  functions->zerror_file = FileError;
  functions->opaque = nullptr;
}

}  // namespace detail

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || IsSeparator(name.front()) || StartsWithDrive(name)) return false;
  const auto parts = Components(name);
  return std::none_of(parts.begin(), parts.end(), ClimbsLikeDotDot);
}

bool LinkStaysInside(std::string_view link_name, std::string_view target) {
  if (target.empty() || IsSeparator(target.front()) || StartsWithDrive(target)) return false;
  // Depth below the destination while the target is followed from the link's folder.
  long long depth = static_cast<long long>(Components(link_name).size()) - 1;
  for (std::string_view part : Components(target)) {
    if (part == ".") continue;
    if (ClimbsLikeDotDot(part)) {
      if (--depth < 0) return false;
    } else {
      ++depth;
    }
  }
  return true;
}

std::int32_t ExtractZip(std::string_view archive, std::string_view destination, std::vector<std::string>* names,
                        std::string_view filter, std::string_view changedTopfile) {
  zlib_filefunc64_def functions{};
  detail::FillPlatformFileFunctions(&functions);
  const std::string path(archive);
  ZipReader zip(path.empty() ? nullptr : unzOpen2_64(path.c_str(), &functions));
  if (zip.get() == nullptr) {
    if (!path.empty() && IsEmptyArchive(path)) return 0;
    log::Error("cannot open zip file %s", path.c_str());
    return -1;
  }
  unz_global_info64 global{};
  const int counted = unzGetGlobalInfo64(zip.get(), &global);
  if (counted != UNZ_OK) return counted;

  auto walk = std::make_unique<ZipWalk>(zip.get(), destination, names, filter, changedTopfile);
  const std::string changed(changedTopfile);
  std::int32_t first_failure = 0;
  for (ZPOS64_T index = 0; index < global.number_entry; ++index) {
    const int handled = walk->HandleEntry();
    if (handled != 0) {
      log::Error("decompress folder entry failed");
      if (!changed.empty()) log::Error("changedTopfile: %s ", changed.c_str());
      if (first_failure == 0) first_failure = handled;
    }
    if (index + 1 < global.number_entry) {
      const int moved = unzGoToNextFile(zip.get());
      if (moved != UNZ_OK) {
        log::Error("decompress folder entry failed,entry number:%d", static_cast<int>(global.number_entry));
        // Nothing after a broken directory record can be reached.
        if (first_failure == 0) first_failure = moved;
        break;
      }
    }
  }
  return first_failure;
}

std::optional<std::vector<std::uint8_t>> ReadFirstZipEntry(const void* data, std::size_t size) {
  if (data == nullptr || size == 0) return std::nullopt;
  const MemoryBlock block{static_cast<const unsigned char*>(data), size};
  zlib_filefunc64_def functions{OpenMemory, ReadMemory,  WriteMemory, TellMemory,
                                SeekMemory, CloseMemory, MemoryError, const_cast<MemoryBlock*>(&block)};
  ZipReader zip(unzOpen2_64("memory", &functions));
  if (zip.get() == nullptr) return std::nullopt;
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(zip.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
  // Deflate expands at most about 1,032 times; a larger claimed size is a damaged or hostile header.
  if (info.uncompressed_size > static_cast<ZPOS64_T>(size) * 1100 + 1024) return std::nullopt;
  if (unzOpenCurrentFile(zip.get()) != UNZ_OK) return std::nullopt;
  OpenEntry entry(zip.get());
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(info.uncompressed_size));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::size_t done = 0;
  while (done < buffer.size()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(buffer.size() - done, 1 << 20));
    const int got = unzReadCurrentFile(zip.get(), buffer.data() + done, chunk);
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  std::uint8_t probe = 0;
  if (unzReadCurrentFile(zip.get(), &probe, 1) != 0) return std::nullopt;  // more data than its header says
  if (entry.Close() != UNZ_OK) return std::nullopt;
  return buffer;
}

}  // namespace orvo::deploy

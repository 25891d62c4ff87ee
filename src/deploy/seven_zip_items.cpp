#include "deploy/seven_zip_items.h"

#include <algorithm>

#include "app/log.h"
#include "deploy/seven_zip_abi.h"
#include "deploy/zip_extract.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::deploy::sevenzip {

namespace fs = platform::fs;

namespace {

constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kPosixMark = 0x8000;

const char* ResultText(std::int32_t result) {
  switch (result) {
    case kResultUnsupportedMethod: return "Unsupported Method";
    case kResultDataError: return "Data Error";
    case kResultCrcError: return "CRC Failed";
    case kResultUnavailable: return "Unavailable data";
    case kResultUnexpectedEnd: return "Unexpected end of data";
    case kResultDataAfterEnd: return "There are some data after the end of the payload data";
    case kResultIsNotArc: return "Is not archive";
    case kResultHeadersError: return "Headers Error";
    default: return nullptr;
  }
}

}  // namespace

bool IsLinkAttributes(std::uint32_t attributes) {
  constexpr std::uint32_t kTypeMask = 0170000;
  constexpr std::uint32_t kLink = 0120000;
  return (attributes & kPosixMark) != 0 && ((attributes >> 16) & kTypeMask) == kLink;
}

std::string WideToUtf8(const wchar_t* text) {
  return text == nullptr ? std::string() : platform::WideToUtf8(text);
}

fs::TimePoint FromFileTime(std::uint32_t low, std::uint32_t high) {
  constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000LL;
  const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  const std::chrono::duration<std::int64_t, std::ratio<1, 10000000>> since_1970(ticks - kTicksFrom1601To1970);
  return fs::TimePoint(std::chrono::duration_cast<fs::TimePoint::duration>(since_1970));
}

ItemWriter::ItemWriter(std::string destination, bool list_only)
    : destination_(std::move(destination)), list_only_(list_only) {}

bool ItemWriter::CreateFolder(const std::string& folder) {
  if (folder == last_folder_) return true;  // the items of one folder follow each other
  if (!sys::N_CreateFolder(folder)) return false;
  last_folder_ = folder;
  return true;
}

ItemWriter::Begun ItemWriter::Begin(ItemInfo item) {
  std::replace(item.path.begin(), item.path.end(), '/', '\\');
  if (!IsSafeEntryName(item.path)) {
    log::Error("7zip item refused, it would land outside the destination: %s", item.path.c_str());
    ++errors_;
    return {};
  }
  const std::size_t last = item.path.rfind('\\');
  if (last != std::string::npos) {
    const std::string folder = item.path.substr(0, last);
    if (!list_only_) CreateFolder(platform::JoinPath(destination_, folder));
    if (folder.find('\\') == std::string::npos) {
      if (seen_.insert(folder).second) top_folders_.push_back(folder);
      if (list_only_) {
        stopped_ = true;
        return {Decision::kStop, nullptr};
      }
    }
  }
  if (list_only_) return {};

  const std::string output = platform::JoinPath(destination_, item.path);
  if (item.is_folder) {
    CreateFolder(output);
    return {};
  }
  if (fs::Exists(output) && fs::DeleteFile(output) != 0) {
    log::Error("7zip can not delete output file: %s", output.c_str());
    return {Decision::kStop, nullptr};
  }
  const bool link = item.attributes && IsLinkAttributes(*item.attributes);
  std::unique_ptr<fs::File> file;
  if (!link) {
    file = fs::File::Open(output, fs::File::Mode::kCreateAlways);
    if (!file) {
      log::Error("7zip can not open output file: %s", output.c_str());
      return {Decision::kStop, nullptr};
    }
  }
  item_ = std::move(item);
  output_ = output;
  last_result_ = kResultOk;
  return {link ? Decision::kLinkTarget : Decision::kFile, std::move(file)};
}

void ItemWriter::Report(std::int32_t result) {
  last_result_ = result;
  if (result == kResultOk) return;
  ++errors_;
  if (const char* text = ResultText(result)) {
    log::Error("7zip Error : %s", text);
  } else {
    log::Error("7zip Error #: %d", result);
  }
}

void ItemWriter::ApplyProperties() const {
  if (item_.modified) fs::SetLastWriteTime(output_, *item_.modified);
  if (item_.attributes) {
    std::uint32_t attributes = *item_.attributes;
    // From 0x10000000 up the word is a posix mode; its low 14 bits are what is left of the Windows ones.
    if (attributes >= 0x10000000u) attributes &= 0x3FFF;
    // Of the Windows attributes only read-only has a meaning here.
    if ((attributes & kReadOnly) != 0) fs::SetReadOnly(output_, true);
  }
}

void ItemWriter::FinishFile() {
  if (!output_.empty()) ApplyProperties();
}

void ItemWriter::FinishLink(const std::string& target, bool complete) {
  if (output_.empty() || last_result_ != kResultOk) return;
  if (!complete || !LinkStaysInside(item_.path, target)) {
    log::Error("7zip item refused, its link points outside the destination: %s", item_.path.c_str());
    ++errors_;
    return;
  }
  auto file = fs::File::Open(output_, fs::File::Mode::kCreateAlways);
  if (!file) {
    log::Error("7zip can not open output file: %s", output_.c_str());
    ++errors_;
    return;
  }
  if (!file->Write(target.data(), target.size())) ++errors_;
  file.reset();
  ApplyProperties();
}

void ItemWriter::EndItem() {
  item_ = ItemInfo{};
  output_.clear();
}

}  // namespace orvo::deploy::sevenzip

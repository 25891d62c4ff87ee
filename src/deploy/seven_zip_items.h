// What the seven-zip extraction does with each item the library hands over: the path rules, the folders,
// the output files, the top-level folder list and the item errors. Kept apart from the COM shells in
// seven_zip_callbacks.h, which only read the library's properties and pass them on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"

namespace orvo::deploy::sevenzip {

inline constexpr const char* kNoPathName = "[Content]";

struct ItemInfo {
  std::string path;  // UTF-8, either separator
  bool is_folder = false;
  std::optional<std::uint32_t> attributes;
  std::optional<platform::fs::TimePoint> modified;
};

// Windows attributes as the zip handler reports them: posix mode in the high half behind the 0x8000 mark.
bool IsLinkAttributes(std::uint32_t attributes);

class ItemWriter {
 public:
  ItemWriter(std::string destination, bool list_only);

  enum class Decision {
    kNoStream,    // nothing to write (a folder, a refused item, list-only mode)
    kFile,        // write the item into the file handed over
    kLinkTarget,  // collect the item's data: the target of a link, judged when it is complete
    kStop,        // stop the whole extraction
  };
  struct Begun {
    Decision decision = Decision::kNoStream;
    std::unique_ptr<platform::fs::File> file;
  };
  Begun Begin(ItemInfo item);

  // The library's result for the current item: logged and counted when it is not success.
  void Report(std::int32_t result);
  // After the current item's file is closed: its time and attributes.
  void FinishFile();
  // The collected target of the current link item: written as a file holding it when it stays inside.
  void FinishLink(const std::string& target, bool complete);
  // Forgets the current item (its stream is closed by the caller).
  void EndItem();

  void CountError() { ++errors_; }
  unsigned Errors() const { return errors_; }
  bool StoppedAtFirstFolder() const { return stopped_; }
  const std::vector<std::string>& TopFolders() const { return top_folders_; }

 private:
  bool CreateFolder(const std::string& folder);
  void ApplyProperties() const;

  std::string destination_;
  bool list_only_;
  ItemInfo item_;
  std::string output_;
  std::int32_t last_result_ = 0;
  unsigned errors_ = 0;
  bool stopped_ = false;
  std::vector<std::string> top_folders_;
  std::unordered_set<std::string> seen_;
  std::string last_folder_;
};

// BSTR text (UTF-32 here, UTF-16 on Windows) as UTF-8; what is no character becomes U+FFFD.
std::string WideToUtf8(const wchar_t* text);
// A FILETIME's 100-nanosecond ticks since 1601 as a time point.
platform::fs::TimePoint FromFileTime(std::uint32_t low, std::uint32_t high);

}  // namespace orvo::deploy::sevenzip

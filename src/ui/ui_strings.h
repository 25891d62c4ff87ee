// The string table by id and the process-wide string cache of the selected language. Only the English
// table (1033) is built in so far; a language without a table yields empty texts, never English ones.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvo::ui {

inline constexpr std::uint16_t kLanguageEnglishUs = 1033;

// The built-in tables.
const std::map<int, std::string>& EnglishStringTable();
// The ids the cache holds, in load order.
const std::vector<int>& CachedStringIds();

// Direct lookup in the table of a language: the text as stored (no placeholder is filled); null when the
// language has no text for the id.
std::optional<std::string> LookupTableString(std::uint16_t language, int id);

// The cache: the cached ids' texts in one language, "[PRODUCTNAME]" filled with "Orvo Installer".
class CUIStrings {
 public:
  void Load(std::uint16_t language);
  // A copy of the text; an id that is not cached yields an empty text (and is remembered as empty).
  std::string Get(int id);
  std::uint16_t Language() const;

 private:
  mutable std::mutex mutex_;
  std::map<int, std::string> texts_;
  std::uint16_t language_ = 0;
};

// The direct lookup for texts outside the cache: the text of the id in the cache's language as the table
// stores it (no placeholder is filled); empty when there is none.
std::string DirectString(int id);

// The process-wide cache.
void LoadStrings(std::uint16_t language);
std::string GetString(int id);
std::uint16_t CurrentStringsLanguage();

}  // namespace orvo::ui

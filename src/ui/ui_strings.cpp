#include "ui/ui_strings.h"

#include "platform/text.h"

namespace orvo::ui {
namespace {

CUIStrings& ProcessStrings() {
  static CUIStrings strings;
  return strings;
}

}  // namespace

std::optional<std::string> LookupTableString(std::uint16_t language, int id) {
  if (language != kLanguageEnglishUs) return std::nullopt;
  const auto& table = EnglishStringTable();
  const auto found = table.find(id);
  if (found == table.end()) return std::nullopt;
  return found->second;
}

void CUIStrings::Load(std::uint16_t language) {
  std::map<int, std::string> texts;
  for (const int id : CachedStringIds()) {
    const std::optional<std::string> text = LookupTableString(language, id);
    texts[id] = text ? platform::ReplaceAll(*text, "[PRODUCTNAME]", "Orvo Installer") : std::string();
  }
  std::lock_guard lock(mutex_);
  texts_ = std::move(texts);
  language_ = language;
}

std::string CUIStrings::Get(int id) {
  std::lock_guard lock(mutex_);
  return texts_[id];
}

std::uint16_t CUIStrings::Language() const {
  std::lock_guard lock(mutex_);
  return language_;
}

std::string DirectString(int id) { return LookupTableString(CurrentStringsLanguage(), id).value_or(std::string()); }

void LoadStrings(std::uint16_t language) { ProcessStrings().Load(language); }
std::string GetString(int id) { return ProcessStrings().Get(id); }
std::uint16_t CurrentStringsLanguage() { return ProcessStrings().Language(); }

}  // namespace orvo::ui

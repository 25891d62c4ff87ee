#include "flow/ui_texts.h"

#include <algorithm>

#include "platform/text.h"
#include "ui/ui_strings.h"

namespace orvo::flow {

std::string UiText(int id) {
  const auto& cached = ui::CachedStringIds();
  if (std::find(cached.begin(), cached.end(), id) != cached.end()) return ui::GetString(id);
  return ui::DirectString(id);
}

std::string ProductNamed(int id, const std::string& product) {
  std::string text = ui::DirectString(id);
  if (text.empty()) text = ui::GetString(id);
  return platform::ReplaceAll(std::move(text), "[PRODUCTNAME]", product);
}

}  // namespace orvo::flow

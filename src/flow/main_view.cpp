#include "flow/main_view.h"

#include "flow/controller_ids.h"

namespace orvo::flow {

void PageModel::ShowPage(int page_id, bool /*uninstall*/) {
  page_ = page_id;
  // The progress controls belong to the progress page only; the result pages hide them.
  const bool progress = page_id == page::kProgress;
  for (const int id : {control::kProgressBar, control::kStatusLine, control::kPercentLabel}) {
    controls_[id].shown = progress;
  }
  if (page_id == page::kWelcome || page_id == page::kUninstallWelcome) settings_open_ = false;
}

std::string PageModel::Text(int control) const {
  const auto found = controls_.find(control);
  return found == controls_.end() ? std::string() : found->second.text;
}

bool PageModel::Checked(int control) const {
  const auto found = controls_.find(control);
  return found != controls_.end() && found->second.checked;
}

void PageModel::SetProgress(int percent) {
  progress_ = percent;
  controls_[control::kPercentLabel].text = std::to_string(percent) + "%";
}

const PageModel::Control* PageModel::Find(int control) const {
  const auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : &found->second;
}

}  // namespace orvo::flow

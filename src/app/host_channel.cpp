#include "app/host_channel.h"

#include <nlohmann/json.hpp>

namespace orvo::app {

std::string HostReportText(const std::string& id, std::optional<int> progress, int error) {
  if (id.empty()) return std::string();
  // nlohmann's object keeps its members sorted, which is the order the host expects.
  nlohmann::json text = nlohmann::json::object();
  text["id"] = id;
  if (progress) text["progress"] = *progress;
  if (error != 0) text["installError"] = error;
  // An id that is not valid UTF-8 must not end the run: its bad bytes become U+FFFD.
  return text.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

HostReporter::HostReporter(platform::WindowHandle main_window, bool host_mode, platform::WindowHandle host_window)
    : main_window_(main_window), host_mode_(host_mode), host_window_(host_window) {}

void HostReporter::ReportToHost(int status, const plan::PlanStep* step, int progress, int error) {
  if (!host_mode_ || !platform::WindowExists(host_window_)) return;
  platform::CopyData data;
  data.kind = static_cast<std::uint64_t>(status);
  if (step != nullptr) {
    const std::optional<int> percent =
        status == host_status::kDownloadProgress ? std::optional<int>(progress) : std::nullopt;
    data.bytes = HostReportText(step->id, percent, error);
  }
  // A host that went away meanwhile only loses the report; the run goes on.
  platform::SendCopyData(host_window_, main_window_, data);
}

namespace {

void ApplySettings(const std::string& text, HostCommandSink& sink) {
  const nlohmann::json settings = nlohmann::json::parse(text, nullptr, false);
  if (!settings.is_object()) return;
  if (auto folder = settings.find("installfolder"); folder != settings.end() && folder->is_string()) {
    const std::string& value = folder->get_ref<const std::string&>();
    if (!value.empty()) sink.SetInstallFolder(value);
  }
  if (auto file = settings.find("launchfile"); file != settings.end() && file->is_string()) {
    sink.SetLaunchFile(file->get_ref<const std::string&>());
  }
}

}  // namespace

void HandleHostCommand(bool host_mode, const platform::CopyData& data, HostCommandSink& sink,
                       HostReporter& reporter) {
  if (!host_mode) return;
  switch (data.kind) {
    case host_command::kSettings:
      ApplySettings(data.bytes, sink);
      break;
    case host_command::kFinish:
      sink.AppendFinishStep();
      break;
    case host_command::kInstallProducts:
      if (sink.AppendInstallProducts(data.bytes) == 0) reporter.ReportToHost(host_status::kNothingToDo, nullptr);
      break;
    case host_command::kUninstallProducts:
      if (sink.AppendUninstallProducts(data.bytes) == 0) reporter.ReportToHost(host_status::kNothingToDo, nullptr);
      break;
    default:
      return;
  }
  sink.DispatchIfIdle();
}

}  // namespace orvo::app

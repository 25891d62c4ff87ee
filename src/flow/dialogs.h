// The questions the install controller asks. The user interface shows them as modal dialogs (pumping the
// main loop while they are up); an unattended run answers each at once as Cancel would.
#pragma once

#include <optional>
#include <string>

#include "plan/plan_model.h"
#include "system/running_apps.h"

namespace orvo::flow {

inline constexpr int kAnswerRetry = 1;  // also OK
inline constexpr int kAnswerCancel = 0;

struct ErrorDialogRequest {
  std::string message;
  std::string caption;
  std::string retry_text;   // string 255
  std::string cancel_text;  // string 256
  bool retry_offered = false;
  bool help_link = false;   // the "Get help" link
};

// The error dialog while it is up, for the Retry countdown.
class OpenErrorDialog {
 public:
  virtual ~OpenErrorDialog() = default;
  virtual void SetRetryText(const std::string& text) = 0;
  // Presses Retry on the user's behalf: the dialog ends with kAnswerRetry.
  virtual void PressRetry() = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Modal; kAnswerRetry for Retry, anything else for Cancel.
  virtual int ShowErrorDialog(const ErrorDialogRequest& request) = 0;
  // The error dialog that is up now, or null.
  virtual OpenErrorDialog* CurrentErrorDialog() = 0;
  // Modal; kAnswerRetry for OK.
  virtual int ShowConfirmDialog(const std::string& message, const std::string& caption, const std::string& ok_text,
                                const std::string& cancel_text) = 0;
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
  // The restart dialog: true for "Restart Now".
  virtual bool AskRestart() = 0;
  // The old-system error dialog (string 143).
  virtual void ShowSystemTooOld(const std::string& text) = 0;
  // The problem-report form: the four texts when the user sends it.
  virtual std::optional<plan::ReportData> AskProblemReport() = 0;
  virtual std::optional<std::string> BrowseForFolder(const std::string& start) = 0;
  virtual void ShowStatisticsInformation() = 0;
  virtual sys::CloseApplicationsPrompt& CloseApplicationsPrompt() = 0;
};

// Every question answered at once as Cancel; nothing is shown.
class UnattendedDialogs final : public Dialogs, private sys::CloseApplicationsPrompt {
 public:
  int ShowErrorDialog(const ErrorDialogRequest&) override { return kAnswerCancel; }
  OpenErrorDialog* CurrentErrorDialog() override { return nullptr; }
  int ShowConfirmDialog(const std::string&, const std::string&, const std::string&, const std::string&) override {
    return kAnswerCancel;
  }
  void ShowMessageBox(const std::string&, const std::string&) override {}
  bool AskRestart() override { return false; }
  void ShowSystemTooOld(const std::string&) override {}
  std::optional<plan::ReportData> AskProblemReport() override { return std::nullopt; }
  std::optional<std::string> BrowseForFolder(const std::string&) override { return std::nullopt; }
  void ShowStatisticsInformation() override {}
  sys::CloseApplicationsPrompt& CloseApplicationsPrompt() override { return *this; }

 private:
  sys::CloseChoice Ask(const std::vector<std::string>&) override { return sys::CloseChoice::kCancel; }
};

}  // namespace orvo::flow

// The failure page, the problem-report step and the report's result page.
#include "app/log.h"
#include "deploy/zip_create.h"
#include "flow/main_controller.h"
#include "flow/ui_texts.h"
#include "flow/report_attachments.h"
#include "platform/system_drive.h"
#include "platform/text.h"
#include "system/file_helpers.h"

namespace orvo::flow {

void CMainDlg::OnStepFailed() {
  TakeFrontStep();
  phase_ = phase::kFailure;
  page_ = page::kFailureOrReport;
  view_.ShowPage(page_, options_.uninstall);
  view_.SetText(control::kInstallNow, UiText(141));
  view_.Show(control::kInstallNow, true);
  view_.Enable(control::kInstallNow, true);
  view_.SetText(control::kTitle, UiText(141));
  view_.Show(control::kTitle, true);
  view_.SetMessageLink(ProductNamed(221, suite_.productName) + UiText(370));
  if (Silent()) {
    EndRun(0);  // the exit code follows the success flag: -1
    return;
  }
  Dispatch();
}

void CMainDlg::OnStepReport() {
  TakeFrontStep();
  const plan::ReportData report = currentStep_.ReportData;
  const std::vector<std::string> attachments =
      CollectReportAttachments(prerequisiteFailed_, log::GetPath(), msiLogPath_);
  // The log goes into the archive whole; later lines reach the debugger output only.
  log::Close();
  const std::string archive = platform::JoinPath(workFolder_, sys::LocalTimeStamp() + ".zip");
  deploy::CreateZip(archive, attachments);
  std::optional<net::FCHttpRequestInfo> ticket = services_.report->TicketRequest(report, archive);
  if (ticket) {
    ticket->job.type = net::kJobTicket;
    ticket->job.notify = true;
    ticket->job.success_message = msg::kReportSent;
    ticket->job.failure_message = msg::kReportFailed;
    downloadRequestId_ = requests_->StartRequest(*ticket);
  } else {
    window_->Loop().Post(handle_, msg::kReportFailed, 0);
  }
  Dispatch();
}

void CMainDlg::OnReportResult() {
  if (currentStep_.type == plan::StepType::ProblemReport) {
    view_.SetText(control::kInstallNow, UiText(142));
    view_.Enable(control::kInstallNow, true);
    view_.Focus(control::kInstallNow);
    phase_ = phase::kReportFinished;
    page_ = page::kFailureOrReport;
    view_.SetMessageLink(UiText(requests_->LastStatusWas201() ? 136 : 319));
  }
  Dispatch();
}

}  // namespace orvo::flow

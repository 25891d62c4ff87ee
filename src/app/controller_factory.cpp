// The main window's controller as this build runs it: the install controller with a page model in place of
// a drawn window and unattended answers to its questions.
#include "app/log.h"
#include "app/main_window.h"
#include "flow/main_controller.h"

namespace orvo::app {

namespace {

class WindowlessController final : public WindowController {
 public:
  explicit WindowlessController(RunOptions& options) : options_(options), controller_(options, view_, dialogs_) {}

  bool OnInitDialog(MainWindow& window) override {
    if (!controller_.OnInitDialog(window)) return false;
    // Nobody can tick the licence box of a window that is not drawn: only runs that accept it go on.
    if (!options_.silent && !options_.acceptEula) {
      log::Info("This build shows no window: start it with /silent or /accepteula to install.");
      window.Loop().Post(window.Handle(), kEndRun);
    }
    return true;
  }

  std::intptr_t OnMessage(MainWindow& window, const platform::Message& message) override {
    if (message.id == kEndRun) {
      window.EndRun(0);
      return 0;
    }
    return controller_.OnMessage(window, message);
  }

  bool Succeeded() const override { return controller_.Succeeded(); }
  bool RestartRequired() const override { return controller_.RestartRequired(); }
  void OnDestroy() override { controller_.OnDestroy(); }

 private:
  static constexpr std::uint32_t kEndRun = platform::kWmApp + 0x0FFF;
  RunOptions& options_;
  flow::PageModel view_;
  flow::UnattendedDialogs dialogs_;
  flow::CMainDlg controller_;
};

}  // namespace

std::unique_ptr<WindowController> MakeMainController(RunOptions& options) {
  return std::make_unique<WindowlessController>(options);
}

}  // namespace orvo::app

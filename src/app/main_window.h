// The main window on the message loop and the seam where its controller plugs in. The window itself only
// owns the handle and the shutdown rules; everything a run does is the controller's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/run_options.h"
#include "platform/message_loop.h"

namespace orvo::app {

class MainWindow;

class WindowController {
 public:
  virtual ~WindowController() = default;
  // The dialog's initialisation, inside window creation; false fails the creation.
  virtual bool OnInitDialog(MainWindow& window) = 0;
  // Every message to the main window; returns the message result.
  virtual std::intptr_t OnMessage(MainWindow& window, const platform::Message& message) = 0;
  // The run's success flag and the restart flag decide the exit code.
  virtual bool Succeeded() const = 0;
  virtual bool RestartRequired() const = 0;
  // The window is being destroyed; the log is still open.
  virtual void OnDestroy() {}
};

class MainWindow {
 public:
  MainWindow(platform::MessageLoop& loop, WindowController& controller);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  bool Create();
  platform::WindowHandle Handle() const { return handle_; }
  platform::MessageLoop& Loop() { return loop_; }
  // Ends the run: destroys the window (shutdown rules below) and posts the quit message with the value.
  void EndRun(int quit_value);

 private:
  void OnDestroyed();

  platform::MessageLoop& loop_;
  WindowController& controller_;
  platform::WindowHandle handle_ = platform::kNoWindow;
  bool destroyed_ = false;
};

// Creates the main window, runs the loop and returns its value, or 3010 when the controller asks for a
// restart.
int RunMainWindow(platform::MessageLoop& loop, WindowController& controller);

// Set when the main window is destroyed: 0 when the run succeeded, else -1. The entry returns it when it is
// non-zero.
int& ExitCodeOverride();

// The working folders of a run and the run log.
struct WorkingFolders {
  std::string localConfigFolder;  // the executable's folder + "OrvoInstaller": a local configuration
  std::string workFolder;         // temporary folder + "OrvoInstaller" + installer id
  std::string msiLogPath;         // workFolder + stamp + "_ISM.Log"
};
// Computes the folders and creates the working folder owner-only; false (and an Error line) when it is
// refused, for instance because it is a symbolic link or belongs to another user.
bool PrepareWorkingFolders(const RunOptions& options, WorkingFolders& folders);
// Opens the log in the working folder and writes its first lines (the command line, the start information).
bool OpenRunLog(const RunOptions& options, WorkingFolders& folders);

// The install controller of this build (controller_factory.cpp).
std::unique_ptr<WindowController> MakeMainController(RunOptions& options);

}  // namespace orvo::app

// orvo-host: plays the host of a host-mode run, for tests and by hand.
//
//   orvo-host --installer PATH [--installfolder FOLDER] [--launchfile FILE] [--install LIST]
//             [--uninstall LIST] [-- ARGUMENTS...]
//
// Starts the installer as "PATH /daemon <our window> ARGUMENTS...", prints each report it receives as the
// line "report <status> <text>" on standard output, and after report 1 sends command 1 (the settings given,
// if any), command 3 and/or 4 with the product lists, then command 2. A host-mode run goes on in the
// installer's temporary copy, so the host ends when the window that sent report 1 has closed (or when none
// did within kFirstReportWaitMs of the started process's end), with the started process's exit code
// (8 bits, as Linux keeps it).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/copy_data.h"
#include "platform/message_loop.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace platform = orvo::platform;

namespace {

constexpr std::uint32_t kSendCommands = platform::kWmApp + 1;
constexpr int kUsageError = 2;
constexpr int kStartError = 1;
constexpr int kFirstReportWaitMs = 10000;

struct HostOptions {
  std::string installer;
  std::optional<std::string> install_folder;
  std::optional<std::string> launch_file;
  std::optional<std::string> install;
  std::optional<std::string> uninstall;
  std::vector<std::string> extra;
};

bool ParseOptions(int argc, char** argv, HostOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") {
      options.extra.assign(argv + i + 1, argv + argc);
      break;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (argument == "--installer") {
      options.installer = value;
    } else if (argument == "--installfolder") {
      options.install_folder = value;
    } else if (argument == "--launchfile") {
      options.launch_file = value;
    } else if (argument == "--install") {
      options.install = value;
    } else if (argument == "--uninstall") {
      options.uninstall = value;
    } else {
      return false;
    }
  }
  return !options.installer.empty();
}

// The settings command's JSON object, or nothing when no setting was given.
std::optional<std::string> SettingsText(const HostOptions& options) {
  if (!options.install_folder && !options.launch_file) return std::nullopt;
  nlohmann::json settings = nlohmann::json::object();
  if (options.install_folder) settings["installfolder"] = *options.install_folder;
  if (options.launch_file) settings["launchfile"] = *options.launch_file;
  return settings.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A Linux path is given in its Windows form (Z:\..., or C:\... below the system root).
std::string WindowsPath(const std::string& path) {
  const bool windows = (path.size() >= 2 && path[1] == ':') || path.starts_with("\\\\");
  if (windows) return path;
  return platform::Drive().ToWindows(std::filesystem::absolute(path));
}

class Host {
 public:
  explicit Host(const HostOptions& options) : options_(options) {
    window_ = loop_.CreateWindow([this](const platform::Message& message) { return OnMessage(message); });
    receiver_ = std::make_unique<platform::CopyDataReceiver>(loop_, window_);
  }
  ~Host() {
    receiver_.reset();
    loop_.DestroyWindow(window_);
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  int Run() {
    if (!receiver_->Listening()) {
      std::fprintf(stderr, "orvo-host: cannot listen for the installer's reports\n");
      return kStartError;
    }
    std::string line = platform::QuoteArgument(WindowsPath(options_.installer)) + " /daemon " +
                       std::to_string(window_);
    for (const std::string& argument : options_.extra) line += " " + platform::QuoteArgument(argument);
    platform::SpawnRequest request;
    request.command_line = line;
    std::uint32_t error = 0;
    std::unique_ptr<platform::Process> installer = platform::Current().launcher->Spawn(request, &error);
    if (!installer) {
      std::fprintf(stderr, "orvo-host: cannot start %s (error %u)\n", line.c_str(), error);
      return kStartError;
    }
    // The loop runs until the installer has ended.
    std::thread waiter([this, &installer] {
      installer->Wait(platform::kInfinite);
      const auto exit_code = static_cast<int>(installer->ExitCode());
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstReportWaitMs);
      while (true) {
        const platform::WindowHandle window = installer_window_.load();
        if (window == platform::kNoWindow ? std::chrono::steady_clock::now() > deadline
                                          : !platform::WindowExists(window)) {
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      loop_.PostQuit(exit_code);
    });
    const int code = loop_.Run();
    waiter.join();
    return code;
  }

 private:
  std::intptr_t OnMessage(const platform::Message& message) {
    if (message.id == kSendCommands) {
      SendCommands();
      return 0;
    }
    if (message.id != platform::kWmCopyData) return 0;
    const auto* data = reinterpret_cast<const platform::CopyData*>(message.lparam);
    std::printf("report %llu ", static_cast<unsigned long long>(data->kind));
    std::fwrite(data->bytes.data(), 1, data->bytes.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (data->kind == 1 && installer_window_ == platform::kNoWindow) {
      installer_window_ = message.wparam;
      // Not from inside the report: the installer's thread is waiting for this handler to return.
      loop_.Post(window_, kSendCommands);
    }
    return 1;
  }

  void Send(std::uint64_t command, const std::string& text) {
    if (!platform::SendCopyData(installer_window_, window_, platform::CopyData{command, text})) {
      std::fprintf(stderr, "orvo-host: command %llu did not reach the installer\n",
                   static_cast<unsigned long long>(command));
    }
  }

  void SendCommands() {
    if (const std::optional<std::string> settings = SettingsText(options_)) Send(1, *settings);
    if (options_.install) Send(3, *options_.install);
    if (options_.uninstall) Send(4, *options_.uninstall);
    Send(2, "");
  }

  const HostOptions& options_;
  platform::MessageLoop loop_;
  platform::WindowHandle window_ = platform::kNoWindow;
  std::atomic<platform::WindowHandle> installer_window_{platform::kNoWindow};
  std::unique_ptr<platform::CopyDataReceiver> receiver_;
};

}  // namespace

int main(int argc, char** argv) {
  HostOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: orvo-host --installer PATH [--installfolder FOLDER] [--launchfile FILE] "
                 "[--install LIST] [--uninstall LIST] [-- ARGUMENTS...]\n");
    return kUsageError;
  }
  std::string problem;
  auto services = platform::CreatePlatform(platform::DefaultSystemRoot(), &problem);
  if (!services) {
    std::fprintf(stderr, "orvo-host: %s\n", problem.c_str());
    return kStartError;
  }
  platform::Install(std::move(services));
  Host host(options);
  return host.Run();
}

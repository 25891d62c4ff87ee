// A small second process for the process and shell tests. It installs the platform of the system root
// named by ORVO_SYSTEM_ROOT (as a started child sees it) and does one thing; its exit code is the answer.
//   platform_probe exit <n>                  returns n
//   platform_probe mutex <name>              returns the error of creating the named mutex (0 or 183)
//   platform_probe hold <name> <marker>      takes the mutex, writes the marker file, then sleeps until killed
//   platform_probe spawn <hidden 0|1> <line> starts the command line, returns its exit code
//   platform_probe msgbox <flags>            shows a console message box, returns the answer
//   platform_probe debug <text>              writes debugger output, returns 1 when a viewer is attached
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/win_types.h"

namespace platform = orvo::platform;

namespace {

int Spawn(bool hidden, const std::string& command_line) {
  platform::SpawnRequest request;
  request.command_line = command_line;
  request.hidden = hidden;
  std::uint32_t error = 0;
  auto process = platform::Current().launcher->Spawn(request, &error);
  if (!process) return 100 + static_cast<int>(error % 100);
  process->Wait(platform::kInfinite);
  return static_cast<int>(process->ExitCode());
}

int Hold(const std::string& name, const std::string& marker) {
  platform::NamedMutex mutex(name);
  if (mutex.Error() != 0) return static_cast<int>(mutex.Error());
  std::ofstream(marker) << "held";
  while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 99;
  const std::string mode = argv[1];
  if (mode == "exit") return std::atoi(argv[2]);
  std::string problem;
  auto services = platform::CreatePlatform(platform::DefaultSystemRoot(), &problem);
  if (!services) {
    std::fprintf(stderr, "platform_probe: %s\n", problem.c_str());
    return 98;
  }
  platform::Install(std::move(services));
  if (mode == "mutex") return static_cast<int>(platform::NamedMutex(argv[2]).Error());
  if (mode == "hold" && argc >= 4) return Hold(argv[2], argv[3]);
  if (mode == "spawn" && argc >= 4) return Spawn(std::string(argv[2]) == "1", argv[3]);
  if (mode == "msgbox") {
    auto flags = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
    return platform::MakeConsoleUserInterface()->MessageBox("Text", "Caption", flags);
  }
  if (mode == "debug") {
    platform::DebugOutput(argv[2]);
    return platform::DebuggerAttached() ? 1 : 0;
  }
  return 97;
}

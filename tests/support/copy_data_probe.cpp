// A second process for the copy-data tests. It installs the platform of ORVO_SYSTEM_ROOT (as a started
// child sees it) and does one thing:
//   copy_data_probe send <target> <sender> <kind> <text>  sends the copy data, returns the result (255: failed)
//   copy_data_probe die <handle file>                     listens on a window, writes its handle to the file,
//                                                         and ends (exit 3) inside the first message's handler
//   copy_data_probe /daemon <host> [args...]              a host-mode installer: sends report 99 with its
//                                                         arguments, then report 1; answers every command k
//                                                         with report 100+k carrying the command's text; after
//                                                         command 2 sends report 2 and returns 7
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/copy_data.h"
#include "platform/message_loop.h"
#include "platform/platform.h"

namespace platform = orvo::platform;

namespace {

std::uint64_t Number(const char* text) { return std::strtoull(text, nullptr, 10); }

int Send(char** argv) {
  const auto result = platform::SendCopyData(Number(argv[2]), Number(argv[3]),
                                             platform::CopyData{Number(argv[4]), argv[5]});
  return result ? static_cast<int>(*result & 0xFF) : 255;
}

int Die(const std::string& handle_file) {
  platform::MessageLoop loop;
  const platform::WindowHandle window = loop.CreateWindow([](const platform::Message& message) -> std::intptr_t {
    if (message.id == platform::kWmCopyData) std::_Exit(3);
    return 0;
  });
  platform::CopyDataReceiver receiver(loop, window);
  if (!receiver.Listening()) return 97;
  std::ofstream(handle_file) << window;
  return loop.Run();
}

int Installer(int argc, char** argv) {
  const platform::WindowHandle host = Number(argv[2]);
  std::string arguments;
  for (int i = 3; i < argc; ++i) arguments += (i > 3 ? " " : "") + std::string(argv[i]);
  platform::MessageLoop loop;
  platform::WindowHandle self = platform::kNoWindow;
  self = loop.CreateWindow([&](const platform::Message& message) -> std::intptr_t {
    if (message.id != platform::kWmCopyData) return 0;
    const auto* data = reinterpret_cast<const platform::CopyData*>(message.lparam);
    // From inside the handler, while the host waits for it: the host must still take our report.
    platform::SendCopyData(host, self, platform::CopyData{100 + data->kind, data->bytes});
    if (data->kind == 2) {
      platform::SendCopyData(host, self, platform::CopyData{2, ""});
      loop.PostQuit(7);
    }
    return 1;
  });
  platform::CopyDataReceiver receiver(loop, self);
  if (!receiver.Listening()) return 97;
  if (!platform::SendCopyData(host, self, platform::CopyData{99, arguments})) return 96;
  if (!platform::SendCopyData(host, self, platform::CopyData{1, ""})) return 95;
  return loop.Run();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 99;
  std::string problem;
  auto services = platform::CreatePlatform(platform::DefaultSystemRoot(), &problem);
  if (!services) {
    std::fprintf(stderr, "copy_data_probe: %s\n", problem.c_str());
    return 98;
  }
  platform::Install(std::move(services));
  const std::string mode = argv[1];
  if (mode == "send" && argc >= 6) return Send(argv);
  if (mode == "die") return Die(argv[2]);
  if (mode == "/daemon") return Installer(argc, argv);
  return 99;
}

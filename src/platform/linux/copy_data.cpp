#include "platform/copy_data.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/message_loop.h"
#include "platform/platform.h"

namespace orvo::platform {

std::string WindowSocketPath(WindowHandle window) {
  return (Drive().Root() / ".orvo" / "windows" / std::to_string(window)).string();
}

bool WindowExists(WindowHandle window) {
  if (window == kNoWindow) return false;
  if (MessageLoop::IsLiveWindow(window)) return true;
  const std::string path = WindowSocketPath(window);
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // A socket file left by a process that died refuses the connection: that window is gone.
  const bool listening = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return listening;
}

}  // namespace orvo::platform

// The WM_COPYDATA channel between processes: every receiving window listens on a Unix-domain socket named
// after its handle in the system root ("<root>/.orvo/windows/<handle>"), reachable only by the same user.
//
// A message is one frame (kind, sender window, length, bytes) answered by the 8-byte result of the
// receiving window's handler, so sending is synchronous as SendMessage is. While a window of a loop waits
// for its answer, copy data sent to windows of that same loop are handled on the waiting thread, as
// Windows handles incoming sent messages during SendMessage: two programs may send to each other from
// inside their handlers without a deadlock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/message_loop.h"
#include "platform/win_types.h"

namespace orvo::platform {

// The largest payload a frame may carry; bigger ones are refused by both ends.
inline constexpr std::size_t kMaxCopyDataBytes = 16u * 1024u * 1024u;

// COPYDATASTRUCT: dwData and the bytes. A kWmCopyData message carries the sender window in wParam and a
// pointer to a const CopyData (valid for the handler's call only) in lParam.
struct CopyData {
  std::uint64_t kind = 0;
  std::string bytes;
};

// Makes one window of a loop reachable by SendCopyData from any process of the same user, for the life of
// the object. Messages reach the window's handler on the loop's thread (by a message posted to a private
// window of the loop, or inside a SendCopyData that thread is waiting in). Construct and destroy it on the
// loop's thread, before the loop goes.
class CopyDataReceiver {
 public:
  CopyDataReceiver(MessageLoop& loop, WindowHandle window);
  ~CopyDataReceiver();
  CopyDataReceiver(const CopyDataReceiver&) = delete;
  CopyDataReceiver& operator=(const CopyDataReceiver&) = delete;

  // False when the socket could not be set up (then the window is not reachable from outside).
  bool Listening() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// SendMessage(target, WM_COPYDATA, sender, &data): waits, without a time limit, until the target's handler
// has returned, and gives its result. nullopt when the target does not exist, the payload is larger than
// kMaxCopyDataBytes, or the channel failed (the receiving process went away). Call it from the thread of
// the sender window's loop (or any thread when the sender has no receiver).
std::optional<std::intptr_t> SendCopyData(WindowHandle target, WindowHandle sender, const CopyData& data);

// The Linux socket path of a window handle.
std::string WindowSocketPath(WindowHandle window);
// IsWindow for any window: one of this process's, or another process's that still listens.
bool WindowExists(WindowHandle window);

}  // namespace orvo::platform

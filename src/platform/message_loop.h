// Window messages on one thread: posted messages (from any thread), per-window timers, nested pumping and
// quit with a value. Windows are objects with a handler; a message-only window is simply a window that is
// never shown. Messages are handled in the order they were posted; a due timer is delivered (as WM_TIMER)
// only when no posted message waits, as Windows does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/win_types.h"

namespace orvo::platform {

inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmCopyData = 0x004A;
inline constexpr std::uint32_t kWmApp = 0x8000;

struct Message {
  WindowHandle window = kNoWindow;
  std::uint32_t id = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

// The handler of a window; returns the message result.
using MessageHandler = std::function<std::intptr_t(const Message&)>;

class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Creates a window on this loop; the handle is unique in the process and across processes.
  WindowHandle CreateWindow(MessageHandler handler);
  // Sends kWmDestroy to the handler, then forgets the window, its timers and its queued messages.
  void DestroyWindow(WindowHandle window);
  bool IsWindow(WindowHandle window) const;
  // Whether any loop of this process has the window.
  static bool IsLiveWindow(WindowHandle window);

  // PostMessage: thread-safe; false when the window does not exist.
  bool Post(WindowHandle window, std::uint32_t id, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
  // SendMessage from the loop's thread: calls the handler at once. 0 when the window does not exist.
  std::intptr_t Send(WindowHandle window, std::uint32_t id, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);

  // SetTimer: (re)arms timer id of the window; ticks every period until killed. False for a missing window.
  bool SetTimer(WindowHandle window, std::uintptr_t timer_id, std::uint32_t period_ms);
  bool KillTimer(WindowHandle window, std::uintptr_t timer_id);

  // PostQuitMessage: the running Run() returns the value once the messages before it are handled.
  void PostQuit(int value);

  // GetMessage/DispatchMessage until the quit message; returns its value.
  int Run();
  // Nested pumping (PeekMessage loop): handles what is queued or due now, without waiting. Returns false
  // when a quit message arrived; it stays pending for the outer Run().
  bool PumpPending();
  // Waits up to the time given for one message or timer and handles it; false on quit (left pending).
  bool PumpOne(std::chrono::milliseconds max_wait);

  // A filter that sees every message before its window (the dialog's PreTranslateMessage): true eats it.
  void SetPreTranslate(std::function<bool(const Message&)> filter);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::chrono::milliseconds period;
    Clock::time_point due;
  };
  struct WindowSlot {
    // Shared so that a handler that destroys its own window keeps running on a live function object.
    std::shared_ptr<MessageHandler> handler;
    std::map<std::uintptr_t, Timer> timers;
    bool destroying = false;
  };
  struct Posted {
    Message message;
    std::uint64_t sequence = 0;
  };
  // What one fetch may take: posted messages numbered below `posted_before` and timers due by
  // `timers_due_by` (by the current time when unset). With `wait` it sleeps for one, until `wait_until`.
  struct Fetch {
    std::uint64_t posted_before = UINT64_MAX;
    std::optional<Clock::time_point> timers_due_by;
    bool wait = false;
    std::optional<Clock::time_point> wait_until;  // wait without limit when unset
  };
  enum class Next { kMessage, kTimer, kQuit, kNothing };

  Next NextMessage(std::unique_lock<std::mutex>& lock, const Fetch& fetch, Message& message);
  bool TakeDueTimer(Clock::time_point cutoff, Clock::time_point now, Message& message);
  std::optional<Clock::time_point> EarliestTimer() const;
  void Deliver(const Message& message, bool timer_tick);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Posted> queue_;
  std::uint64_t next_sequence_ = 0;
  std::map<WindowHandle, WindowSlot> windows_;
  std::optional<int> quit_;
  std::shared_ptr<std::function<bool(const Message&)>> pre_translate_;
};

}  // namespace orvo::platform

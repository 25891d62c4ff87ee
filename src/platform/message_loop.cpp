#include "platform/message_loop.h"

#include <algorithm>
#include <set>

#include "platform/process.h"

namespace orvo::platform {
namespace {

// Windows raises shorter periods to USER_TIMER_MINIMUM; it also keeps a 0 ms timer from spinning the loop.
constexpr std::chrono::milliseconds kMinimumTimerPeriod{10};
// A handle is (process id << 20) | counter, so handles of different processes never collide.
constexpr unsigned kCounterBits = 20;
constexpr std::uint32_t kCounterMask = (1u << kCounterBits) - 1;

// Every window of the process, whichever loop holds it.
struct LiveWindows {
  std::mutex mutex;
  std::set<WindowHandle> handles;
  std::uint32_t counter = 0;
};

LiveWindows& Live() {
  // Never destroyed, so a loop that is itself destroyed during static destruction can still unregister.
  static LiveWindows* const live = new LiveWindows;
  return *live;
}

WindowHandle RegisterWindow() {
  LiveWindows& live = Live();
  const WindowHandle process = static_cast<WindowHandle>(CurrentProcessId()) << kCounterBits;
  std::lock_guard guard(live.mutex);
  // After the counter wraps, skip the handles still in use.
  for (std::uint32_t attempt = 0; attempt <= kCounterMask; ++attempt) {
    live.counter = (live.counter + 1) & kCounterMask;
    if (live.counter == 0) continue;
    const WindowHandle handle = process | live.counter;
    if (live.handles.insert(handle).second) return handle;
  }
  return kNoWindow;
}

void UnregisterWindow(WindowHandle handle) {
  LiveWindows& live = Live();
  std::lock_guard guard(live.mutex);
  live.handles.erase(handle);
}

}  // namespace

MessageLoop::MessageLoop() = default;

MessageLoop::~MessageLoop() {
  std::lock_guard guard(mutex_);
  for (const auto& entry : windows_) UnregisterWindow(entry.first);
}

WindowHandle MessageLoop::CreateWindow(MessageHandler handler) {
  const WindowHandle window = RegisterWindow();
  if (window == kNoWindow) return kNoWindow;
  std::lock_guard guard(mutex_);
  windows_[window].handler = std::make_shared<MessageHandler>(std::move(handler));
  return window;
}

void MessageLoop::DestroyWindow(WindowHandle window) {
  std::shared_ptr<MessageHandler> handler;
  {
    std::lock_guard guard(mutex_);
    auto it = windows_.find(window);
    // A second DestroyWindow from inside kWmDestroy is a no-op.
    if (it == windows_.end() || it->second.destroying) return;
    it->second.destroying = true;
    handler = it->second.handler;
  }
  if (*handler) (*handler)(Message{window, kWmDestroy, 0, 0});
  {
    std::lock_guard guard(mutex_);
    windows_.erase(window);
    std::erase_if(queue_, [window](const Posted& posted) { return posted.message.window == window; });
  }
  UnregisterWindow(window);
}

bool MessageLoop::IsWindow(WindowHandle window) const {
  std::lock_guard guard(mutex_);
  return windows_.contains(window);
}

bool MessageLoop::IsLiveWindow(WindowHandle window) {
  LiveWindows& live = Live();
  std::lock_guard guard(live.mutex);
  return live.handles.contains(window);
}

bool MessageLoop::Post(WindowHandle window, std::uint32_t id, std::uintptr_t wparam, std::intptr_t lparam) {
  {
    std::lock_guard guard(mutex_);
    if (!windows_.contains(window)) return false;
    queue_.push_back(Posted{Message{window, id, wparam, lparam}, next_sequence_++});
  }
  wake_.notify_all();
  return true;
}

std::intptr_t MessageLoop::Send(WindowHandle window, std::uint32_t id, std::uintptr_t wparam,
                                std::intptr_t lparam) {
  std::shared_ptr<MessageHandler> handler;
  {
    std::lock_guard guard(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return 0;
    handler = it->second.handler;
  }
  return *handler ? (*handler)(Message{window, id, wparam, lparam}) : 0;
}

bool MessageLoop::SetTimer(WindowHandle window, std::uintptr_t timer_id, std::uint32_t period_ms) {
  {
    std::lock_guard guard(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    const auto period = std::max(std::chrono::milliseconds(period_ms), kMinimumTimerPeriod);
    it->second.timers[timer_id] = Timer{period, Clock::now() + period};
  }
  // A waiting pump must recompute its deadline.
  wake_.notify_all();
  return true;
}

bool MessageLoop::KillTimer(WindowHandle window, std::uintptr_t timer_id) {
  std::lock_guard guard(mutex_);
  auto it = windows_.find(window);
  return it != windows_.end() && it->second.timers.erase(timer_id) > 0;
}

void MessageLoop::PostQuit(int value) {
  {
    std::lock_guard guard(mutex_);
    quit_ = value;
  }
  wake_.notify_all();
}

int MessageLoop::Run() {
  Fetch fetch;
  fetch.wait = true;
  for (;;) {
    Message message;
    Next next;
    {
      std::unique_lock lock(mutex_);
      next = NextMessage(lock, fetch, message);
      if (next == Next::kQuit) {
        const int value = *quit_;
        quit_.reset();
        return value;
      }
    }
    if (next != Next::kNothing) Deliver(message, next == Next::kTimer);
  }
}

bool MessageLoop::PumpPending() {
  // Only what is there now: a handler that posts again, or a timer re-armed meanwhile, waits for the next
  // pump instead of keeping this one going for ever.
  Fetch fetch;
  fetch.timers_due_by = Clock::now();
  {
    std::lock_guard guard(mutex_);
    fetch.posted_before = next_sequence_;
  }
  for (;;) {
    Message message;
    Next next;
    {
      std::unique_lock lock(mutex_);
      next = NextMessage(lock, fetch, message);
    }
    if (next == Next::kQuit) return false;
    if (next == Next::kNothing) return true;
    Deliver(message, next == Next::kTimer);
  }
}

bool MessageLoop::PumpOne(std::chrono::milliseconds max_wait) {
  Fetch fetch;
  fetch.wait = true;
  fetch.wait_until = Clock::now() + std::max(max_wait, std::chrono::milliseconds(0));
  Message message;
  Next next;
  {
    std::unique_lock lock(mutex_);
    next = NextMessage(lock, fetch, message);
  }
  if (next == Next::kQuit) return false;
  if (next != Next::kNothing) Deliver(message, next == Next::kTimer);
  return true;
}

void MessageLoop::SetPreTranslate(std::function<bool(const Message&)> filter) {
  std::lock_guard guard(mutex_);
  if (filter) {
    pre_translate_ = std::make_shared<std::function<bool(const Message&)>>(std::move(filter));
  } else {
    pre_translate_.reset();
  }
}

// GetMessage order: posted messages first, then the quit, then a due timer.
MessageLoop::Next MessageLoop::NextMessage(std::unique_lock<std::mutex>& lock, const Fetch& fetch,
                                           Message& message) {
  for (;;) {
    if (!queue_.empty()) {
      if (queue_.front().sequence >= fetch.posted_before) return Next::kNothing;
      message = queue_.front().message;
      queue_.pop_front();
      return Next::kMessage;
    }
    if (quit_) return Next::kQuit;
    const Clock::time_point now = Clock::now();
    if (TakeDueTimer(fetch.timers_due_by.value_or(now), now, message)) return Next::kTimer;
    if (!fetch.wait) return Next::kNothing;
    if (fetch.wait_until && now >= *fetch.wait_until) return Next::kNothing;

    std::optional<Clock::time_point> deadline = EarliestTimer();
    if (fetch.wait_until && (!deadline || *fetch.wait_until < *deadline)) deadline = fetch.wait_until;
    if (deadline) {
      wake_.wait_until(lock, *deadline);
    } else {
      wake_.wait(lock);
    }
  }
}

// The timer due earliest (by `cutoff`) ticks once, however late, and is re-armed a period from now.
bool MessageLoop::TakeDueTimer(Clock::time_point cutoff, Clock::time_point now, Message& message) {
  Timer* due = nullptr;
  for (auto& [window, slot] : windows_) {
    for (auto& [id, timer] : slot.timers) {
      if (timer.due <= cutoff && (due == nullptr || timer.due < due->due)) {
        due = &timer;
        message = Message{window, kWmTimer, id, 0};
      }
    }
  }
  if (due == nullptr) return false;
  due->due = now + due->period;
  return true;
}

std::optional<MessageLoop::Clock::time_point> MessageLoop::EarliestTimer() const {
  std::optional<Clock::time_point> earliest;
  for (const auto& entry : windows_) {
    for (const auto& timer : entry.second.timers) {
      if (!earliest || timer.second.due < *earliest) earliest = timer.second.due;
    }
  }
  return earliest;
}

void MessageLoop::Deliver(const Message& message, bool timer_tick) {
  std::shared_ptr<std::function<bool(const Message&)>> filter;
  {
    std::lock_guard guard(mutex_);
    filter = pre_translate_;
  }
  if (filter && (*filter)(message)) return;

  std::shared_ptr<MessageHandler> handler;
  {
    // The filter may have destroyed the window or killed the timer.
    std::lock_guard guard(mutex_);
    auto it = windows_.find(message.window);
    if (it == windows_.end()) return;
    if (timer_tick && !it->second.timers.contains(message.wparam)) return;
    handler = it->second.handler;
  }
  if (*handler) (*handler)(message);
}

}  // namespace orvo::platform

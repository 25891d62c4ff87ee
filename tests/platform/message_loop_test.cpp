#include "platform/message_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/process.h"

namespace orvo::platform {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;

constexpr std::uint32_t kFirst = kWmApp + 1;
constexpr std::uint32_t kSecond = kWmApp + 2;
constexpr std::uint32_t kThird = kWmApp + 3;

// What a window saw: (window, message, wparam).
using Seen = std::tuple<WindowHandle, std::uint32_t, std::uintptr_t>;

// Ends a loop that would otherwise wait for ever when the code under test misses a quit.
constexpr std::uintptr_t kWatchdogTimer = 999;
constexpr int kWatchdogFired = -1;

WindowHandle CreateWatchdog(MessageLoop& loop) {
  WindowHandle watchdog = loop.CreateWindow([&loop](const Message& message) -> std::intptr_t {
    if (message.id == kWmTimer) loop.PostQuit(kWatchdogFired);
    return 0;
  });
  loop.SetTimer(watchdog, kWatchdogTimer, 5000);
  return watchdog;
}

TEST(MessageLoopTest, PostedMessagesAcrossWindowsArriveInPostingOrder) {
  MessageLoop loop;
  std::vector<Seen> seen;
  auto record = [&seen](const Message& message) -> std::intptr_t {
    seen.emplace_back(message.window, message.id, message.wparam);
    return 0;
  };
  WindowHandle a = loop.CreateWindow(record);
  WindowHandle b = loop.CreateWindow(record);
  ASSERT_TRUE(loop.Post(a, kFirst, 1));
  ASSERT_TRUE(loop.Post(b, kFirst, 2));
  ASSERT_TRUE(loop.Post(a, kSecond, 3));
  ASSERT_TRUE(loop.Post(b, kSecond, 4, -5));
  ASSERT_TRUE(loop.Post(a, kThird, 5));
  loop.PostQuit(7);

  EXPECT_EQ(loop.Run(), 7);
  EXPECT_THAT(seen, ElementsAre(Seen{a, kFirst, 1}, Seen{b, kFirst, 2}, Seen{a, kSecond, 3},
                                Seen{b, kSecond, 4}, Seen{a, kThird, 5}));
}

TEST(MessageLoopTest, PostsFromFourThreadsArriveExactlyOnceAndInOrderPerThread) {
  constexpr int kThreads = 4;
  constexpr std::uintptr_t kPerThread = 2000;
  MessageLoop loop;
  std::vector<std::vector<std::uintptr_t>> received(kThreads);
  WindowHandle window = loop.CreateWindow([&received](const Message& message) -> std::intptr_t {
    received.at(static_cast<std::size_t>(message.lparam)).push_back(message.wparam);
    return 0;
  });

  std::thread controller([&loop, window] {
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
      posters.emplace_back([&loop, window, t] {
        for (std::uintptr_t i = 0; i < kPerThread; ++i) EXPECT_TRUE(loop.Post(window, kFirst, i, t));
      });
    }
    for (auto& poster : posters) poster.join();
    loop.PostQuit(3);
  });
  const int result = loop.Run();
  controller.join();

  EXPECT_EQ(result, 3);
  std::vector<std::uintptr_t> expected(kPerThread);
  for (std::uintptr_t i = 0; i < kPerThread; ++i) expected[i] = i;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(received[static_cast<std::size_t>(t)], expected) << "thread " << t;
}

TEST(MessageLoopTest, TimerTicksRepeatedlyUntilKilledInItsHandler) {
  MessageLoop loop;
  int ticks = 0;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message& message) -> std::intptr_t {
    if (message.id != kWmTimer) return 0;
    if (message.wparam == 6) loop.PostQuit(0);
    if (message.wparam == 5 && ++ticks == 3) {
      EXPECT_TRUE(loop.KillTimer(window, 5));
      EXPECT_FALSE(loop.KillTimer(window, 5));
      loop.SetTimer(window, 6, 100);  // time for more ticks of 5, had the kill not worked
    }
    return 0;
  });
  CreateWatchdog(loop);
  ASSERT_TRUE(loop.SetTimer(window, 5, 10));

  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(ticks, 3);
}

TEST(MessageLoopTest, LateTimerWaitsForPostedMessagesAndTicksOnce) {
  MessageLoop loop;
  std::vector<std::uint32_t> seen;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message& message) -> std::intptr_t {
    seen.push_back(message.id);
    if (message.id == kFirst) loop.Post(window, kThird);  // posted by a handler: still before the timer
    if (message.id == kWmTimer) loop.PostQuit(static_cast<int>(seen.size()));
    return 0;
  });
  CreateWatchdog(loop);
  ASSERT_TRUE(loop.SetTimer(window, 1, 100));
  std::this_thread::sleep_for(milliseconds(350));  // several periods overdue
  loop.Post(window, kFirst);
  loop.Post(window, kSecond);

  EXPECT_EQ(loop.Run(), 4);
  EXPECT_THAT(seen, ElementsAre(kFirst, kSecond, kThird, kWmTimer));
  // The missed periods are not made up: the timer is re-armed a full period from the tick.
  EXPECT_TRUE(loop.PumpPending());
  EXPECT_EQ(seen.size(), 4u);

  // Run again: the timer was re-armed and ticks once more.
  seen.clear();
  EXPECT_EQ(loop.Run(), 1);
  EXPECT_THAT(seen, ElementsAre(kWmTimer));
}

TEST(MessageLoopTest, KillTimerStopsATickThatIsAlreadyDue) {
  MessageLoop loop;
  std::vector<std::uintptr_t> ticks;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message& message) -> std::intptr_t {
    if (message.id != kWmTimer) return 0;
    ticks.push_back(message.wparam);
    if (message.wparam == 1) {
      EXPECT_TRUE(loop.KillTimer(window, 1));
      EXPECT_TRUE(loop.KillTimer(window, 2));  // due as well, must never tick
      loop.SetTimer(window, 3, 50);
    }
    if (message.wparam == 3) loop.PostQuit(0);
    return 0;
  });
  ASSERT_TRUE(loop.SetTimer(window, 1, 10));
  ASSERT_TRUE(loop.SetTimer(window, 2, 10));
  std::this_thread::sleep_for(milliseconds(30));
  CreateWatchdog(loop);

  EXPECT_EQ(loop.Run(), 0);
  EXPECT_THAT(ticks, ElementsAre(1u, 3u));
  EXPECT_FALSE(loop.KillTimer(window, 2));
  EXPECT_FALSE(loop.SetTimer(kNoWindow, 1, 10));
}

TEST(MessageLoopTest, SetTimerOnAnExistingIdRearmsIt) {
  MessageLoop loop;
  int ticks = 0;
  WindowHandle window = loop.CreateWindow([&ticks](const Message& message) -> std::intptr_t {
    if (message.id == kWmTimer) ++ticks;
    return 0;
  });
  ASSERT_TRUE(loop.SetTimer(window, 1, 10));
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_TRUE(loop.SetTimer(window, 1, 60000));  // the due tick is replaced by one a minute away
  EXPECT_TRUE(loop.PumpPending());
  EXPECT_EQ(ticks, 0);

  ASSERT_TRUE(loop.SetTimer(window, 1, 10));
  for (int i = 0; i < 200 && ticks == 0; ++i) EXPECT_TRUE(loop.PumpOne(milliseconds(10)));
  EXPECT_EQ(ticks, 1);
}

TEST(MessageLoopTest, NestedPumpsDeliverWhileTheOuterHandlerRuns) {
  MessageLoop loop;
  std::vector<std::string> seen;
  int depth = 0;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message& message) -> std::intptr_t {
    ++depth;
    seen.push_back(std::to_string(message.id == kWmTimer ? 0 : message.id - kWmApp) + "@" + std::to_string(depth));
    if (message.id == kFirst) {
      // Like hashing a download: pump between blocks until the timer has ticked twice.
      EXPECT_TRUE(loop.PumpPending());
      int waited = 0;
      while (std::count(seen.begin(), seen.end(), "0@2") < 2 && waited++ < 400) {
        EXPECT_TRUE(loop.PumpOne(milliseconds(5)));
      }
      loop.KillTimer(window, 1);
      loop.PostQuit(9);
    }
    --depth;
    return 0;
  });
  loop.Post(window, kFirst);
  loop.Post(window, kSecond);
  loop.SetTimer(window, 1, 10);

  EXPECT_EQ(loop.Run(), 9);
  EXPECT_THAT(seen, ElementsAre("1@1", "2@2", "0@2", "0@2"));
}

TEST(MessageLoopTest, NestedPumpLeavesTheQuitForTheOuterRun) {
  MessageLoop loop;
  std::vector<std::uint32_t> seen;
  bool nested_saw_quit = false;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message& message) -> std::intptr_t {
    seen.push_back(message.id);
    if (message.id == kFirst) {
      loop.PostQuit(11);
      // Second was posted before the quit: the nested pump still delivers it, then meets the quit.
      EXPECT_FALSE(loop.PumpPending());
      EXPECT_FALSE(loop.PumpOne(milliseconds(0)));
      EXPECT_FALSE(loop.PumpOne(milliseconds(20)));
      nested_saw_quit = true;
    }
    return 0;
  });
  loop.Post(window, kFirst);
  loop.Post(window, kSecond);

  EXPECT_EQ(loop.Run(), 11);
  EXPECT_TRUE(nested_saw_quit);
  EXPECT_THAT(seen, ElementsAre(kFirst, kSecond));

  // The quit was consumed: the loop runs again and the last PostQuit wins. The quit also goes before a
  // due timer, as WM_QUIT does.
  seen.clear();
  loop.SetTimer(window, 1, 10);
  std::this_thread::sleep_for(milliseconds(30));
  loop.Post(window, kThird);
  loop.PostQuit(1);
  loop.PostQuit(12);
  EXPECT_EQ(loop.Run(), 12);
  EXPECT_THAT(seen, ElementsAre(kThird));
  loop.KillTimer(window, 1);
  EXPECT_TRUE(loop.PumpPending());
}

TEST(MessageLoopTest, PumpPendingLeavesMessagesPostedByItsHandlers) {
  MessageLoop loop;
  int handled = 0;
  WindowHandle window = kNoWindow;
  window = loop.CreateWindow([&](const Message&) -> std::intptr_t {
    // A chain that reposts: each pump handles only what was there when it began.
    if (++handled < 100) loop.Post(window, kFirst);
    return 0;
  });
  loop.Post(window, kFirst);
  loop.Post(window, kFirst);
  EXPECT_TRUE(loop.PumpPending());
  EXPECT_EQ(handled, 2);
  EXPECT_TRUE(loop.PumpPending());
  EXPECT_EQ(handled, 4);
}

TEST(MessageLoopTest, PumpOneWakesForAPostFromAnotherThread) {
  MessageLoop loop;
  std::atomic<int> handled{0};
  WindowHandle window = loop.CreateWindow([&handled](const Message&) -> std::intptr_t {
    ++handled;
    return 0;
  });
  EXPECT_TRUE(loop.PumpOne(milliseconds(0)));  // nothing there: returns at once
  EXPECT_EQ(handled, 0);

  std::thread poster([&loop, window] {
    std::this_thread::sleep_for(milliseconds(20));
    loop.Post(window, kFirst);
  });
  EXPECT_TRUE(loop.PumpOne(milliseconds(10000)));
  poster.join();
  EXPECT_EQ(handled, 1);
}

TEST(MessageLoopTest, DestroyWindowDropsItsQueuedMessagesAndTimers) {
  MessageLoop loop;
  std::vector<std::uint32_t> seen;
  WindowHandle window = loop.CreateWindow([&seen](const Message& message) -> std::intptr_t {
    seen.push_back(message.id);
    return 0;
  });
  int other_seen = 0;
  WindowHandle other = loop.CreateWindow([&other_seen](const Message&) -> std::intptr_t {
    ++other_seen;
    return 0;
  });
  loop.Post(window, kFirst);
  loop.Post(other, kFirst);
  loop.SetTimer(window, 1, 10);
  std::this_thread::sleep_for(milliseconds(30));

  ASSERT_TRUE(MessageLoop::IsLiveWindow(window));
  loop.DestroyWindow(window);
  EXPECT_THAT(seen, ElementsAre(kWmDestroy));
  EXPECT_FALSE(loop.IsWindow(window));
  EXPECT_FALSE(MessageLoop::IsLiveWindow(window));
  EXPECT_FALSE(loop.Post(window, kSecond));
  EXPECT_FALSE(loop.SetTimer(window, 2, 10));
  EXPECT_FALSE(loop.KillTimer(window, 1));
  EXPECT_EQ(loop.Send(window, kFirst), 0);

  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_TRUE(loop.PumpPending());
  EXPECT_THAT(seen, ElementsAre(kWmDestroy));
  EXPECT_EQ(other_seen, 1);
  loop.DestroyWindow(window);  // a second destroy does nothing
  EXPECT_THAT(seen, ElementsAre(kWmDestroy));
}

TEST(MessageLoopTest, HandlerMayDestroyItsOwnWindow) {
  MessageLoop loop;
  std::vector<std::string> seen;
  WindowHandle window = kNoWindow;
  // The captured text lives in the handler object: it must outlive the destruction it triggers.
  const std::string label(100, 'x');
  window = loop.CreateWindow([&, label](const Message& message) -> std::intptr_t {
    seen.push_back(std::to_string(message.id));
    if (message.id == kFirst) {
      loop.DestroyWindow(window);
      seen.push_back(label.substr(0, 3));
    }
    if (message.id == kWmDestroy) loop.DestroyWindow(window);  // nested destroy is ignored
    return 0;
  });
  CreateWatchdog(loop);
  loop.Post(window, kFirst);
  loop.Post(window, kSecond);
  loop.SetTimer(window, 1, 10);
  loop.PostQuit(4);

  EXPECT_EQ(loop.Run(), 4);
  EXPECT_THAT(seen, ElementsAre(std::to_string(kFirst), std::to_string(kWmDestroy), "xxx"));
  EXPECT_FALSE(loop.IsWindow(window));
}

TEST(MessageLoopTest, PreTranslateSeesEveryMessageAndCanEatIt) {
  MessageLoop loop;
  std::vector<std::uint32_t> filtered;
  std::vector<std::uint32_t> seen;
  WindowHandle window = loop.CreateWindow([&seen](const Message& message) -> std::intptr_t {
    seen.push_back(message.id);
    return 0;
  });
  loop.SetPreTranslate([&](const Message& message) {
    filtered.push_back(message.id);
    if (message.id == kWmTimer) {
      // Not eaten, but killed before it reaches the window: the tick must not arrive.
      loop.KillTimer(window, 1);
      loop.PostQuit(0);
    }
    return message.id == kSecond;
  });
  CreateWatchdog(loop);
  loop.Post(window, kFirst);
  loop.Post(window, kSecond);
  loop.Post(window, kThird);
  loop.SetTimer(window, 1, 10);

  EXPECT_EQ(loop.Run(), 0);
  EXPECT_THAT(filtered, ElementsAre(kFirst, kSecond, kThird, kWmTimer));
  EXPECT_THAT(seen, ElementsAre(kFirst, kThird));

  // Sent messages bypass the filter, as SendMessage does.
  loop.SetPreTranslate([](const Message&) { return true; });
  EXPECT_EQ(loop.Send(window, kSecond), 0);
  EXPECT_THAT(seen, ElementsAre(kFirst, kThird, kSecond));
}

TEST(MessageLoopTest, SendCallsTheHandlerAtOnce) {
  MessageLoop loop;
  WindowHandle window = loop.CreateWindow([](const Message& message) -> std::intptr_t {
    return message.id == kFirst ? static_cast<std::intptr_t>(message.wparam) + message.lparam : -1;
  });
  loop.Post(window, kSecond);  // queued: Send does not wait behind it
  EXPECT_EQ(loop.Send(window, kFirst, 40, 2), 42);
  EXPECT_EQ(loop.Send(kNoWindow, kFirst, 40, 2), 0);
  EXPECT_EQ(loop.Send(window + 0x12345, kFirst, 40, 2), 0);
}

TEST(MessageLoopTest, HandlesCarryTheProcessIdAndAreLiveAcrossLoops) {
  auto handler = [](const Message&) -> std::intptr_t { return 0; };
  WindowHandle first = kNoWindow;
  WindowHandle second = kNoWindow;
  {
    MessageLoop one;
    MessageLoop two;
    first = one.CreateWindow(handler);
    second = two.CreateWindow(handler);
    EXPECT_NE(first, kNoWindow);
    EXPECT_NE(first, second);
    EXPECT_EQ(first >> 20, CurrentProcessId());
    EXPECT_EQ(second >> 20, CurrentProcessId());
    EXPECT_NE(first & 0xFFFFF, 0u);
    EXPECT_TRUE(MessageLoop::IsLiveWindow(first));
    EXPECT_TRUE(MessageLoop::IsLiveWindow(second));
    EXPECT_TRUE(one.IsWindow(first));
    EXPECT_FALSE(one.IsWindow(second));   // a loop only posts to its own windows
    EXPECT_FALSE(one.Post(second, kFirst));
  }
  EXPECT_FALSE(MessageLoop::IsLiveWindow(first));
  EXPECT_FALSE(MessageLoop::IsLiveWindow(second));
  EXPECT_FALSE(MessageLoop::IsLiveWindow(kNoWindow));
}

}  // namespace
}  // namespace orvo::platform

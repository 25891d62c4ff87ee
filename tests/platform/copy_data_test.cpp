#include "platform/copy_data.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/test_root.h"

namespace orvo::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kRunOnLoop = kWmApp + 7;

// A message loop on its own thread with one window that listens for copy data. The handler sees every
// kWmCopyData message; Call runs a function on the loop's thread (so sends go from there).
class LoopThread {
 public:
  explicit LoopThread(std::function<std::intptr_t(const Message&, const CopyData&)> handler)
      : handler_(std::move(handler)) {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      window_ = loop_.CreateWindow([this](const Message& message) -> std::intptr_t {
        if (message.id == kRunOnLoop) (*reinterpret_cast<std::function<void()>*>(message.lparam))();
        if (message.id != kWmCopyData) return 0;
        return handler_(message, *reinterpret_cast<const CopyData*>(message.lparam));
      });
      {
        CopyDataReceiver receiver(loop_, window_);
        listening_ = receiver.Listening();
        ready.set_value();
        loop_.Run();
      }
      loop_.DestroyWindow(window_);
    });
    ready.get_future().wait();
  }
  ~LoopThread() {
    loop_.PostQuit(0);
    thread_.join();
  }
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  WindowHandle Window() const { return window_; }
  bool Listening() const { return listening_; }
  std::thread::id ThreadId() const { return thread_.get_id(); }

  template <typename F>
  auto Call(F function) {
    std::packaged_task<decltype(function())()> task(std::move(function));
    auto result = task.get_future();
    std::function<void()> run = [&task] { task(); };
    loop_.Post(window_, kRunOnLoop, 0, reinterpret_cast<std::intptr_t>(&run));
    return result.get();
  }

 private:
  std::function<std::intptr_t(const Message&, const CopyData&)> handler_;
  MessageLoop loop_;
  WindowHandle window_ = kNoWindow;
  bool listening_ = false;
  std::thread thread_;
};

struct Seen {
  std::uint64_t kind = 0;
  std::string bytes;
  std::uintptr_t sender = 0;
  std::thread::id thread;
};

class CopyDataTest : public ::testing::Test {
 protected:
  // Starts a program of the tests (copied into the root as Windows would find it) and waits for it.
  std::uint32_t Run(const std::string& line) {
    std::uint32_t error = 0;
    auto process = Start(line, &error);
    if (!process) return 1000 + error;
    process->Wait(kInfinite);
    return process->ExitCode();
  }
  std::unique_ptr<Process> Start(const std::string& line, std::uint32_t* error) {
    SpawnRequest request;
    request.command_line = line;
    return root_.Platform().launcher->Spawn(request, error);
  }
  std::string Probe() {
    const fs::path target = root_.Linux(R"(C:\Tools\copy_data_probe.exe)");
    if (!fs::exists(target)) {
      fs::create_directories(target.parent_path());
      fs::copy_file(ORVO_COPY_DATA_PROBE, target);
    }
    return R"(C:\Tools\copy_data_probe.exe)";
  }

  test::TestRoot root_;
};

TEST_F(CopyDataTest, RoundTripBetweenTwoLoopsCarriesKindBytesSenderAndResult) {
  std::vector<Seen> seen;
  LoopThread b([&seen](const Message& message, const CopyData& data) -> std::intptr_t {
    seen.push_back({data.kind, data.bytes, message.wparam, std::this_thread::get_id()});
    return static_cast<std::intptr_t>(data.kind * 1000 + data.bytes.size());
  });
  LoopThread a([](const Message&, const CopyData&) -> std::intptr_t { return 0; });
  ASSERT_TRUE(a.Listening() && b.Listening());

  const std::string binary("one\0two\xff", 8);
  EXPECT_EQ(a.Call([&] { return SendCopyData(b.Window(), a.Window(), CopyData{7, binary}); }),
            std::optional<std::intptr_t>(7008));
  EXPECT_EQ(a.Call([&] { return SendCopyData(b.Window(), a.Window(), CopyData{0xFFFFFFFF00000001, ""}); }),
            std::optional<std::intptr_t>(static_cast<std::intptr_t>(0xFFFFFFFF00000001 * 1000)));
  // A negative result comes back as it was.
  LoopThread c([](const Message&, const CopyData&) -> std::intptr_t { return -5; });
  EXPECT_EQ(SendCopyData(c.Window(), kNoWindow, CopyData{1, "x"}), std::optional<std::intptr_t>(-5));

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, 7u);
  EXPECT_EQ(seen[0].bytes, binary);
  EXPECT_EQ(seen[0].sender, a.Window());
  EXPECT_EQ(seen[0].thread, b.ThreadId()) << "the handler runs on its loop's thread";
  EXPECT_EQ(seen[1].bytes, "");

  // Only our user reaches the socket, in a folder of ours alone.
  struct stat folder {};
  struct stat socket_file {};
  ASSERT_EQ(::stat(fs::path(WindowSocketPath(b.Window())).parent_path().c_str(), &folder), 0);
  ASSERT_EQ(::stat(WindowSocketPath(b.Window()).c_str(), &socket_file), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(socket_file.st_mode & 0777, 0600u);
  EXPECT_TRUE(S_ISSOCK(socket_file.st_mode));
}

// While a window waits for its answer, copy data sent to its own thread are handled: to itself, and from
// the receiver's handler back to the waiting sender.
TEST_F(CopyDataTest, WaitingSenderHandlesCopyDataSentBackToItsThread) {
  LoopThread a([](const Message&, const CopyData& data) -> std::intptr_t {
    return static_cast<std::intptr_t>(data.kind + 1);
  });
  LoopThread b([](const Message& message, const CopyData& data) -> std::intptr_t {
    const auto inner = SendCopyData(message.wparam, kNoWindow, CopyData{data.kind * 10, ""});
    return inner ? 100 + *inner : -1;
  });
  EXPECT_EQ(a.Call([&] { return SendCopyData(b.Window(), a.Window(), CopyData{4, ""}); }),
            std::optional<std::intptr_t>(141));
  EXPECT_EQ(a.Call([&] { return SendCopyData(a.Window(), a.Window(), CopyData{8, ""}); }),
            std::optional<std::intptr_t>(9));
}

TEST_F(CopyDataTest, SendReturnsOnlyAfterTheHandlerReturned) {
  std::promise<void> entered;
  std::promise<void> release;
  std::atomic<bool> returned{false};
  LoopThread b([&](const Message&, const CopyData&) -> std::intptr_t {
    entered.set_value();
    release.get_future().wait();
    returned = true;
    return 11;
  });
  auto send = std::async(std::launch::async, [&] { return SendCopyData(b.Window(), kNoWindow, CopyData{1, "x"}); });
  entered.get_future().wait();
  EXPECT_EQ(send.wait_for(100ms), std::future_status::timeout) << "the send must wait for the handler";
  release.set_value();
  EXPECT_EQ(send.get(), std::optional<std::intptr_t>(11));
  EXPECT_TRUE(returned);
}

TEST_F(CopyDataTest, VanishedReceiverGivesNothing) {
  WindowHandle gone = kNoWindow;
  {
    LoopThread b([](const Message&, const CopyData&) -> std::intptr_t { return 1; });
    gone = b.Window();
    EXPECT_TRUE(WindowExists(gone));
  }
  EXPECT_FALSE(WindowExists(gone));
  EXPECT_FALSE(fs::exists(WindowSocketPath(gone))) << "the socket goes with the receiver";
  EXPECT_EQ(SendCopyData(gone, kNoWindow, CopyData{1, "x"}), std::nullopt);
  EXPECT_EQ(SendCopyData(kNoWindow, kNoWindow, CopyData{1, "x"}), std::nullopt);

  // A receiving process that ends inside its handler: the waiting sender is released with nothing.
  const fs::path handle_file = root_.Root() / "handle.txt";
  std::uint32_t error = 0;
  auto probe = Start(Probe() + " die " + handle_file.string(), &error);
  ASSERT_NE(probe, nullptr) << error;
  WindowHandle window = kNoWindow;
  for (int i = 0; i < 500 && window == kNoWindow; ++i) {
    std::this_thread::sleep_for(10ms);
    std::ifstream(handle_file) >> window;
  }
  ASSERT_NE(window, kNoWindow) << "the probe did not start listening";
  EXPECT_TRUE(WindowExists(window));
  EXPECT_EQ(SendCopyData(window, kNoWindow, CopyData{1, "bye"}), std::nullopt);
  probe->Wait(kInfinite);
  EXPECT_EQ(probe->ExitCode(), 3u);
  EXPECT_FALSE(WindowExists(window)) << "a socket left behind by a dead process is no window";
}

TEST_F(CopyDataTest, FrameLargerThanTheLimitIsRefused) {
  std::atomic<int> calls{0};
  LoopThread b([&calls](const Message&, const CopyData& data) -> std::intptr_t {
    ++calls;
    return static_cast<std::intptr_t>(data.bytes.size());
  });
  EXPECT_EQ(SendCopyData(b.Window(), kNoWindow, CopyData{1, std::string(kMaxCopyDataBytes + 1, 'x')}),
            std::nullopt);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(SendCopyData(b.Window(), kNoWindow, CopyData{1, std::string(kMaxCopyDataBytes, 'x')}),
            std::optional<std::intptr_t>(static_cast<std::intptr_t>(kMaxCopyDataBytes)));
  EXPECT_EQ(calls, 1);

  // A frame that only announces too many bytes is closed unanswered, before anything is read or handled.
  const std::string path = WindowSocketPath(b.Window());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  char header[20] = {};
  const std::uint64_t kind = 1;
  const std::uint32_t length = static_cast<std::uint32_t>(kMaxCopyDataBytes) + 1;
  std::memcpy(header, &kind, 8);
  std::memcpy(header + 16, &length, 4);
  ASSERT_EQ(::send(fd, header, sizeof header, MSG_NOSIGNAL), 20);
  char answer[8];
  EXPECT_EQ(::recv(fd, answer, sizeof answer, 0), 0) << "closed without an answer";
  ::close(fd);
  EXPECT_EQ(calls, 1);
}

TEST_F(CopyDataTest, RoundTripWithAnotherProcess) {
  std::vector<Seen> seen;
  LoopThread b([&seen](const Message& message, const CopyData& data) -> std::intptr_t {
    seen.push_back({data.kind, data.bytes, message.wparam, {}});
    return 42;
  });
  EXPECT_EQ(Run(Probe() + " send " + std::to_string(b.Window()) + " 12345 9 \"hello there\""), 42u);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, 9u);
  EXPECT_EQ(seen[0].bytes, "hello there");
  EXPECT_EQ(seen[0].sender, 12345u);
  EXPECT_EQ(Run(Probe() + " send " + std::to_string(b.Window() + 1) + " 1 1 x"), 255u) << "no such window";
}

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The host tool against an installer stand-in: the installer answers each command with a report from
// inside its handler, so this also covers two processes sending to each other while both wait.
TEST_F(CopyDataTest, HostToolDrivesAHostModeInstaller) {
  const fs::path out = root_.Root() / "host-out.txt";
  const std::string line = std::string(R"(cmd.exe /c "")") + ORVO_HOST_TOOL + R"(" --installer ")" +
                           root_.Linux(Probe()).string() +
                           R"(" --installfolder "C:\Apps\Orvo" --install p1,p2 --uninstall q -- one "a b" >")" +
                           out.string() + R"("")";
  EXPECT_EQ(Run(line), 7u) << "the installer's exit code";
  EXPECT_THAT(Lines(out), ::testing::ElementsAre("report 99 one a b", "report 1 ",
                                                 R"(report 101 {"installfolder":"C:\\Apps\\Orvo"})",
                                                 "report 103 p1,p2", "report 104 q", "report 102 ", "report 2 "));
}

}  // namespace
}  // namespace orvo::platform

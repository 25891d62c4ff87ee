#include "platform/copy_data.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "platform/linux/process_helpers.h"
#include "platform/platform.h"

namespace orvo::platform {
namespace {

using linux_detail::UniqueFd;
namespace fs = std::filesystem;

// Posted to the receiver's private window: copy data wait on this thread.
constexpr std::uint32_t kDeliverCopyData = kWmApp + kWmCopyData;
// kind (8), sender (8), length (4), in the machine's byte order: both ends run on the same machine.
constexpr std::size_t kHeaderSize = 20;

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

UniqueFd ConnectTo(const std::string& path) {
  sockaddr_un address{};
  if (!FillAddress(path, address)) return UniqueFd();
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return UniqueFd();
  int rc;
  do {
    rc = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? std::move(fd) : UniqueFd();
}

// Only processes of our own user may talk to our windows, and we talk only to theirs.
bool PeerIsSameUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  return credentials.uid == ::geteuid();
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::send(fd, data, size, MSG_NOSIGNAL);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

// Reads exactly size bytes; false on end of stream, an error, or (when given) the stop descriptor firing.
bool ReadAll(int fd, char* data, std::size_t size, int stop_fd) {
  while (size > 0) {
    if (stop_fd >= 0) {
      pollfd entries[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
      if (::poll(entries, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (entries[1].revents != 0) return false;
    }
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

std::string EncodeHeader(std::uint64_t kind, std::uint64_t sender, std::uint32_t length) {
  std::string header(kHeaderSize, '\0');
  std::memcpy(header.data(), &kind, 8);
  std::memcpy(header.data() + 8, &sender, 8);
  std::memcpy(header.data() + 16, &length, 4);
  return header;
}

// "<root>/.orvo/windows": ours alone, whatever an earlier run or umask left.
bool MakeSocketFolder(const fs::path& folder) {
  for (const fs::path& each : {folder.parent_path(), folder}) {
    if (::mkdir(each.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
  return (info.st_mode & 077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

// A socket file whose process died refuses connections: it may go. Anything else at the path stays.
bool ClearSocketPath(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISSOCK(info.st_mode) || ConnectTo(path).Get() >= 0) return false;
  return ::unlink(path.c_str()) == 0;
}

// What a receiver shares with the messages it handed to the loop, which may outlive it.
struct ReceiverState {
  std::mutex mutex;
  std::condition_variable done;
  bool stopping = false;
};

struct Delivery {
  std::shared_ptr<ReceiverState> state;
  MessageLoop* loop = nullptr;
  WindowHandle window = kNoWindow;
  WindowHandle sender = kNoWindow;
  CopyData data;
  bool finished = false;  // under state->mutex
  std::intptr_t result = 0;

  void Run() {
    const std::intptr_t value = loop->Send(window, kWmCopyData, sender, reinterpret_cast<std::intptr_t>(&data));
    std::lock_guard guard(state->mutex);
    result = value;
    finished = true;
    state->done.notify_all();
  }
};

// The copy data waiting for one thread's windows. The thread takes them from its loop (the private window's
// message) or, while it waits in SendCopyData itself, from there; whichever comes first runs each once.
class Inbound {
 public:
  Inbound() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  int WakeFd() const { return wake_.Get(); }

  void Push(std::shared_ptr<Delivery> delivery) {
    {
      std::lock_guard guard(mutex_);
      pending_.push_back(std::move(delivery));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_.Get(), &one, sizeof one);
  }

  void ClearWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(wake_.Get(), &count, sizeof count);
  }

  void RunPending() {
    for (;;) {
      std::shared_ptr<Delivery> next;
      {
        std::lock_guard guard(mutex_);
        if (pending_.empty()) return;
        next = std::move(pending_.front());
        pending_.pop_front();
      }
      next->Run();
    }
  }

  // A receiver that goes takes its undelivered messages along.
  void Forget(const ReceiverState* owner) {
    std::lock_guard guard(mutex_);
    std::erase_if(pending_, [owner](const auto& delivery) { return delivery->state.get() == owner; });
  }

 private:
  UniqueFd wake_;
  std::mutex mutex_;
  std::deque<std::shared_ptr<Delivery>> pending_;
};

// One Inbound per thread that has receivers.
struct InboundDirectory {
  std::mutex mutex;
  std::map<std::thread::id, std::weak_ptr<Inbound>> threads;
};

InboundDirectory& Directory() {
  static InboundDirectory* const directory = new InboundDirectory;  // outlives static destruction
  return *directory;
}

std::shared_ptr<Inbound> InboundOfThisThread(bool create) {
  InboundDirectory& directory = Directory();
  std::lock_guard guard(directory.mutex);
  std::weak_ptr<Inbound>& slot = directory.threads[std::this_thread::get_id()];
  std::shared_ptr<Inbound> inbound = slot.lock();
  if (!inbound && create) {
    inbound = std::make_shared<Inbound>();
    slot = inbound;
  }
  std::erase_if(directory.threads, [](const auto& entry) { return entry.second.expired(); });
  return inbound;
}

}  // namespace

struct CopyDataReceiver::Impl {
  Impl(MessageLoop& receiving_loop, WindowHandle receiving_window)
      : loop(receiving_loop), window(receiving_window) {}

  bool Start();
  void Stop();
  void Listen();
  void Serve(int fd);
  bool Deliver(WindowHandle sender, CopyData data, std::intptr_t* result);

  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  MessageLoop& loop;
  const WindowHandle window;
  WindowHandle helper = kNoWindow;
  std::string path;
  bool bound = false;
  bool listening = false;
  UniqueFd listen_fd;
  UniqueFd stop_read;
  UniqueFd stop_write;
  std::shared_ptr<ReceiverState> state = std::make_shared<ReceiverState>();
  std::shared_ptr<Inbound> inbound;
  std::thread listener;
  std::list<Connection> connections;  // the listener's alone until it has been joined
};

bool CopyDataReceiver::Impl::Start() {
  if (window == kNoWindow || !loop.IsWindow(window)) return false;
  path = WindowSocketPath(window);
  sockaddr_un address{};
  if (!FillAddress(path, address) || !MakeSocketFolder(fs::path(path).parent_path())) return false;
  if (!ClearSocketPath(path)) return false;
  listen_fd = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listen_fd.Get() < 0) return false;
  if (::bind(listen_fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  bound = true;
  // The folder is already private; the mode keeps the socket so if it is ever moved or linked.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(listen_fd.Get(), SOMAXCONN) != 0) return false;
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return false;
  stop_read = UniqueFd(pipe_ends[0]);
  stop_write = UniqueFd(pipe_ends[1]);

  inbound = InboundOfThisThread(true);
  if (inbound->WakeFd() < 0) return false;
  helper = loop.CreateWindow([queue = inbound](const Message& message) -> std::intptr_t {
    if (message.id == kDeliverCopyData) queue->RunPending();
    return 0;
  });
  if (helper == kNoWindow) return false;
  listener = std::thread([this] { Listen(); });
  return true;
}

void CopyDataReceiver::Impl::Stop() {
  {
    std::lock_guard guard(state->mutex);
    state->stopping = true;
    state->done.notify_all();
  }
  if (inbound) inbound->Forget(state.get());
  if (stop_write.Get() >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stop_write.Get(), &byte, 1);
  }
  if (listener.joinable()) listener.join();
  for (Connection& connection : connections) connection.thread.join();
  connections.clear();
  if (helper != kNoWindow) loop.DestroyWindow(helper);
  helper = kNoWindow;
  listen_fd.Reset();
  if (bound) ::unlink(path.c_str());
  bound = false;
}

void CopyDataReceiver::Impl::Listen() {
  for (;;) {
    pollfd entries[2] = {{listen_fd.Get(), POLLIN, 0}, {stop_read.Get(), POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (entries[1].revents != 0) return;
    const int fd = ::accept4(listen_fd.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors and the like: let it pass instead of spinning on the ready socket.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    connections.remove_if([](Connection& connection) {
      if (!connection.finished) return false;
      connection.thread.join();
      return true;
    });
    // One thread per connection: a handler that sends to a window which sends back to us must find us
    // listening, as a window answers sent messages while it waits for its own.
    Connection& connection = connections.emplace_back();
    connection.thread = std::thread([this, fd, &connection] {
      UniqueFd owned(fd);
      Serve(owned.Get());
      connection.finished = true;
    });
  }
}

void CopyDataReceiver::Impl::Serve(int fd) {
  if (!PeerIsSameUser(fd)) return;
  for (;;) {
    char header[kHeaderSize];
    if (!ReadAll(fd, header, sizeof header, stop_read.Get())) return;
    std::uint64_t kind = 0;
    std::uint64_t sender = 0;
    std::uint32_t length = 0;
    std::memcpy(&kind, header, 8);
    std::memcpy(&sender, header + 8, 8);
    std::memcpy(&length, header + 16, 4);
    // Refused by closing without an answer: the sender sees a failed send.
    if (length > kMaxCopyDataBytes) return;
    CopyData data;
    data.kind = kind;
    data.bytes.resize(length);
    if (length > 0 && !ReadAll(fd, data.bytes.data(), length, stop_read.Get())) return;
    std::intptr_t result = 0;
    if (!Deliver(sender, std::move(data), &result)) return;
    const std::int64_t wire = result;
    if (!WriteAll(fd, reinterpret_cast<const char*>(&wire), sizeof wire)) return;
  }
}

bool CopyDataReceiver::Impl::Deliver(WindowHandle sender, CopyData data, std::intptr_t* result) {
  auto delivery = std::make_shared<Delivery>();
  delivery->state = state;
  delivery->loop = &loop;
  delivery->window = window;
  delivery->sender = sender;
  delivery->data = std::move(data);
  std::unique_lock lock(state->mutex);
  // Queued under the lock, so a receiver that is stopping either sees it (and forgets it) or is not asked.
  if (state->stopping) return false;
  inbound->Push(delivery);
  loop.Post(helper, kDeliverCopyData);
  state->done.wait(lock, [&] { return delivery->finished || state->stopping; });
  if (!delivery->finished) return false;
  *result = delivery->result;
  return true;
}

CopyDataReceiver::CopyDataReceiver(MessageLoop& loop, WindowHandle window)
    : impl_(std::make_unique<Impl>(loop, window)) {
  impl_->listening = impl_->Start();
  if (!impl_->listening) impl_->Stop();
}

CopyDataReceiver::~CopyDataReceiver() { impl_->Stop(); }

bool CopyDataReceiver::Listening() const { return impl_->listening; }

std::optional<std::intptr_t> SendCopyData(WindowHandle target, WindowHandle sender, const CopyData& data) {
  if (target == kNoWindow || data.bytes.size() > kMaxCopyDataBytes) return std::nullopt;
  UniqueFd fd = ConnectTo(WindowSocketPath(target));
  if (fd.Get() < 0 || !PeerIsSameUser(fd.Get())) return std::nullopt;
  const std::string header = EncodeHeader(data.kind, sender, static_cast<std::uint32_t>(data.bytes.size()));
  if (!WriteAll(fd.Get(), header.data(), header.size()) ||
      !WriteAll(fd.Get(), data.bytes.data(), data.bytes.size())) {
    return std::nullopt;
  }
  // While we wait, copy data for this thread's own windows are handled here (the loop cannot run).
  const std::shared_ptr<Inbound> inbound = InboundOfThisThread(false);
  for (;;) {
    pollfd entries[2] = {{fd.Get(), POLLIN, 0}, {inbound ? inbound->WakeFd() : -1, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (entries[1].revents != 0) {
      inbound->ClearWake();
      inbound->RunPending();
    }
    if (entries[0].revents != 0) break;
  }
  std::int64_t wire = 0;
  if (!ReadAll(fd.Get(), reinterpret_cast<char*>(&wire), sizeof wire, -1)) return std::nullopt;
  return static_cast<std::intptr_t>(wire);
}

std::string WindowSocketPath(WindowHandle window) {
  return (Drive().Root() / ".orvo" / "windows" / std::to_string(window)).string();
}

bool WindowExists(WindowHandle window) {
  if (window == kNoWindow) return false;
  if (MessageLoop::IsLiveWindow(window)) return true;
  // A socket file left by a process that died refuses the connection: that window is gone.
  return ConnectTo(WindowSocketPath(window)).Get() >= 0;
}

}  // namespace orvo::platform

#include "support/account_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

extern char** environ;

namespace orvo::test {

namespace fs = std::filesystem;

namespace {

constexpr auto kStartLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(10);
const char* const kTlsFiles[] = {"ca.pem", "server.pem", "server.key"};

fs::path MakeTempFolder(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Reads one line from fd within the time limit; false on timeout or end of file.
bool ReadLine(int fd, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char c = 0;
    const ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

// The child starts with default signal handling whatever this test process set up, so SIGTERM reaches it.
int Spawn(const std::vector<std::string>& args, int stdout_fd, const fs::path& stderr_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGTERM, SIGINT, SIGPIPE}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

bool ParseAddress(const std::string& line, std::uint16_t& port) {
  const auto colon = line.rfind(':');
  if ((line.rfind("http://127.0.0.1:", 0) != 0 && line.rfind("https://127.0.0.1:", 0) != 0) ||
      colon == std::string::npos) {
    return false;
  }
  const long value = std::strtol(line.c_str() + colon + 1, nullptr, 10);
  if (value <= 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

void CopyMissing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (const char* name : kTlsFiles) {
    if (fs::exists(from / name, ec) && !fs::exists(to / name, ec)) fs::copy_file(from / name, to / name, ec);
  }
}

}  // namespace

AccountService::Folder::~Folder() {
  if (path.empty() || std::getenv("ORVO_KEEP_TEST_ROOTS") != nullptr) return;
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::unique_ptr<AccountService> AccountService::Start(const AccountServiceOptions& options) {
  std::unique_ptr<AccountService> service(new AccountService());
  service->catalog_.path = MakeTempFolder("orvo-service-catalog-");
  service->state_.path = MakeTempFolder("orvo-service-state-");
  if (service->catalog_.path.empty() || service->state_.path.empty()) {
    ADD_FAILURE() << "cannot create the account service's folders";
    return nullptr;
  }
  fs::create_directories(service->catalog_.path / "configs");
  fs::create_directories(service->catalog_.path / "files");
  const fs::path tls = service->state_.path / "tls";
  if (options.tls && !options.tls_folder.empty()) CopyMissing(options.tls_folder, tls);

  std::vector<std::string> args = {ORVO_ACCOUNT_SERVICE, "--catalog", service->catalog_.path.string(), "--state",
                                   service->state_.path.string()};
  if (options.tls) args.emplace_back("--tls");
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot make a pipe for the account service";
    return nullptr;
  }
  const fs::path stderr_file = service->state_.path / "service-stderr.txt";
  service->pid_ = Spawn(args, pipe_fds[1], stderr_file);
  close(pipe_fds[1]);
  std::string line;
  const bool started = service->pid_ > 0 && ReadLine(pipe_fds[0], line) && ParseAddress(line, service->port_);
  close(pipe_fds[0]);  // the service prints nothing after its address
  if (!started) {
    ADD_FAILURE() << "the account service did not start (" << line << "): " << ReadText(stderr_file);
    return nullptr;  // the destructor stops what was started
  }
  service->base_url_ = line;
  if (options.tls && !options.tls_folder.empty()) CopyMissing(tls, options.tls_folder);
  return service;
}

AccountService::~AccountService() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  pid_t done = 0;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string errors = ReadText(state_.path / "service-stderr.txt");
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    ADD_FAILURE() << "the account service did not stop on SIGTERM: " << errors;
  } else if (done == pid_ && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    ADD_FAILURE() << "the account service ended badly (status " << status << "): " << errors;
  }
}

fs::path AccountService::CaFile() const { return state_.path / "tls" / "ca.pem"; }

void AccountService::AddFile(const std::string& relative_path, const std::string& bytes) const {
  const fs::path target = catalog_.path / relative_path;
  fs::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << bytes;
}

void AccountService::AddFault(const nlohmann::json& rule) const {
  httplib::Client client(base_url_);
  if (base_url_.rfind("https:", 0) == 0) {
    client.set_ca_cert_path(CaFile().c_str());
    client.enable_server_certificate_verification(true);
  }
  const auto result = client.Post("/_control/fault", rule.dump(), "application/json");
  if (!result) {
    ADD_FAILURE() << "cannot reach the account service: " << httplib::to_string(result.error());
  } else if (result->status != 200) {
    ADD_FAILURE() << "fault rule refused (" << result->status << "): " << result->body;
  }
}

std::vector<nlohmann::json> AccountService::Requests() const {
  std::vector<nlohmann::json> entries;
  std::ifstream in(state_.path / "requests.jsonl");
  for (std::string line; std::getline(in, line);) {
    auto entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_discarded()) entries.push_back(std::move(entry));  // a line still being written is skipped
  }
  return entries;
}

std::vector<nlohmann::json> AccountService::RequestsTo(const std::string& path_prefix) const {
  std::vector<nlohmann::json> matching;
  for (auto& entry : Requests()) {
    if (entry.value("path", "").rfind(path_prefix, 0) == 0) matching.push_back(std::move(entry));
  }
  return matching;
}

}  // namespace orvo::test

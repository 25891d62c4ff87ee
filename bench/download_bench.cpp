// A 1 GiB file from the local account service, downloaded in the same run by the download client (the main
// window's request handling, draining into the job's file) and by `curl -o`, each in a child process so
// that wall time and peak resident memory are measured alike. Usage:
//   download_bench [--size-mib N] [--rounds N] [--service PATH] [--out-dir DIR]
// Both downloads are written to the same folder: by default /dev/shm when it has room, so that the disk's
// write-back, which varies by seconds from run to run, does not decide the comparison.
// The client half runs as: download_bench --client URL OUTPUT
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/request_owner.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/system_drive.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct RunResult {
  double seconds = 0;
  long peak_rss_kib = 0;
  int status = -1;
};

RunResult RunChild(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  RunResult result;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return result;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peak_rss_kib = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The client half: one component download through the request owner on a message loop.
class NoView : public orvo::net::RequestOwnerView {
 public:
  void SetProgress(int) override {}
  void ReportDownloadPercent(int) override {}
};

int RunClient(const std::string& url, const std::string& output) {
  namespace platform = orvo::platform;
  namespace net = orvo::net;
  const fs::path root = fs::temp_directory_path() / ("orvo-bench-root-" + std::to_string(getpid()));
  std::string problem;
  auto services = platform::CreatePlatform(root, &problem);
  if (!services) {
    std::fprintf(stderr, "platform: %s\n", problem.c_str());
    return 2;
  }
  platform::Install(std::move(services));
  const std::string target = platform::Drive().ToWindows(output);
  platform::MessageLoop loop;
  constexpr std::uint32_t kDone = 0x9007, kFailed = 0x9008;
  int outcome = -1;
  const auto owner_window = loop.CreateWindow([&](const platform::Message& message) -> std::intptr_t {
    if (message.id == kDone || message.id == kFailed) {
      outcome = message.id == kDone ? 0 : 1;
      loop.PostQuit(0);
    }
    return 0;
  });
  NoView view;
  net::RequestOwner owner(loop, owner_window, view);
  loop.SetPreTranslate([&](const platform::Message& message) {
    if (message.window == owner_window && message.id == platform::kWmTimer && message.wparam == net::kProgressTimer) {
      owner.OnProgressTimer();
      return true;
    }
    return false;
  });
  net::FCHttpJob job;
  job.type = net::kJobComponent;
  job.target_path = target;
  job.success_message = kDone;
  job.failure_message = kFailed;
  job.notify = true;
  job.file = net::SharedFile(platform::fs::File::Open(target, platform::fs::File::Mode::kCreateAlways));
  owner.SetCurrentDownload(owner.StartRequest(owner.BuildRequestInfo(url, job)));
  loop.Run();
  fs::remove_all(root);
  return outcome;
}

std::string StartService(const std::string& program, const fs::path& catalog, const fs::path& state, pid_t* pid) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<std::string> arguments = {program, "--catalog", catalog.string(), "--state", state.string()};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string line;
  char c = 0;
  while (spawned == 0 && read(pipe_fds[0], &c, 1) == 1 && c != '\n') line += c;
  close(pipe_fds[0]);
  return line;
}

void WriteCatalogFile(const fs::path& path, std::size_t mib) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  for (std::size_t i = 0; i < mib; ++i) {
    for (std::size_t j = 0; j < block.size(); j += 64) block[j] = static_cast<char>(i + j / 64);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

bool SameFiles(const fs::path& a, const fs::path& b) {
  std::ifstream one(a, std::ios::binary), two(b, std::ios::binary);
  std::vector<char> x(1 << 20), y(1 << 20);
  while (one && two) {
    one.read(x.data(), static_cast<std::streamsize>(x.size()));
    two.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (one.gcount() != two.gcount() || std::memcmp(x.data(), y.data(), static_cast<std::size_t>(one.gcount())) != 0) {
      return false;
    }
  }
  return one.eof() && two.eof();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--client") return RunClient(argv[2], argv[3]);
  std::size_t size_mib = 1024;
  int rounds = 3;
  std::string service = ORVO_ACCOUNT_SERVICE;
  std::string out_dir;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--size-mib") size_mib = std::strtoul(argv[i + 1], nullptr, 10);
    if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (option == "--service") service = argv[i + 1];
    if (option == "--out-dir") out_dir = argv[i + 1];
  }
  const fs::path work = fs::temp_directory_path() / ("orvo-download-bench-" + std::to_string(getpid()));
  WriteCatalogFile(work / "catalog" / "files" / "big.bin", size_mib);
  std::error_code error;
  if (out_dir.empty()) {
    const auto shm = fs::space("/dev/shm", error);
    out_dir = !error && shm.available > 2 * (size_mib << 20) + (256u << 20) ? "/dev/shm" : work.string();
  }
  fs::create_directories(work / "state");
  pid_t service_pid = 0;
  const std::string address = StartService(service, work / "catalog", work / "state", &service_pid);
  if (address.rfind("http://127.0.0.1:", 0) != 0) {
    std::fprintf(stderr, "the account service did not start (%s)\n", address.c_str());
    return 1;
  }
  const std::string url = address + "/files/big.bin";
  // The download client connects on port 80 whatever the URL says: send that to the service.
  setenv("ORVO_CONNECT_TO", ("127.0.0.1:80:127.0.0.1:" + address.substr(address.rfind(':') + 1)).c_str(), 1);
  unsetenv("http_proxy");

  const double bytes = static_cast<double>(size_mib) * 1024 * 1024;
  std::vector<double> ours_mbs, curl_mbs;
  long ours_rss = 0, curl_rss = 0;
  bool identical = true;
  for (int round = 0; round < rounds; ++round) {
    const fs::path ours_out = fs::path(out_dir) / ("orvo-bench-ours-" + std::to_string(getpid()));
    const fs::path curl_out = fs::path(out_dir) / ("orvo-bench-curl-" + std::to_string(getpid()));
    // Each run starts alone: no dirty pages of another pending, no other output kept, and the order
    // alternates between rounds. Each output is checked against the served file, then removed.
    const fs::path source = work / "catalog" / "files" / "big.bin";
    const auto run = [&](const std::vector<std::string>& command, const fs::path& out) {
      sync();
      RunResult result = RunChild(command);
      if (result.status == 0 && !(static_cast<double>(fs::file_size(out)) == bytes && SameFiles(out, source))) {
        identical = false;
      }
      fs::remove(out);
      return result;
    };
    const auto run_ours = [&] { return run({argv[0], "--client", url, ours_out.string()}, ours_out); };
    const auto run_curl = [&] { return run({"curl", "-s", "-o", curl_out.string(), url}, curl_out); };
    RunResult ours, curl;
    if (round % 2 == 0) {
      ours = run_ours();
      curl = run_curl();
    } else {
      curl = run_curl();
      ours = run_ours();
    }
    if (ours.status != 0 || curl.status != 0) {
      std::fprintf(stderr, "a download failed (client %d, curl %d)\n", ours.status, curl.status);
      identical = false;
      break;
    }
    ours_mbs.push_back(bytes / ours.seconds / 1e6);
    curl_mbs.push_back(bytes / curl.seconds / 1e6);
    ours_rss = std::max(ours_rss, ours.peak_rss_kib);
    curl_rss = std::max(curl_rss, curl.peak_rss_kib);
    std::printf("round %d: client %.2f s, %.0f MB/s, %ld KiB peak; curl %.2f s, %.0f MB/s, %ld KiB peak\n", round + 1,
                ours.seconds, ours_mbs.back(), ours.peak_rss_kib, curl.seconds, curl_mbs.back(), curl.peak_rss_kib);
  }
  kill(service_pid, SIGTERM);
  waitpid(service_pid, nullptr, 0);
  fs::remove_all(work);
  if (ours_mbs.empty()) return 1;
  std::printf("\n%zu MiB written to %s, %d rounds (medians)\n", size_mib, out_dir.c_str(),
              static_cast<int>(ours_mbs.size()));
  std::printf("| Tool | Throughput | Peak RSS |\n|---|---|---|\n");
  std::printf("| download client | %.0f MB/s | %.1f MiB |\n", Median(ours_mbs), static_cast<double>(ours_rss) / 1024);
  std::printf("| curl -o | %.0f MB/s | %.1f MiB |\n", Median(curl_mbs), static_cast<double>(curl_rss) / 1024);
  std::printf("throughput ratio (client / curl): %.2f; every download equal to the served file: %s\n", Median(ours_mbs) / Median(curl_mbs),
              identical ? "yes" : "NO");
  return identical ? 0 : 1;
}

// The plan built from a large configuration: 5,000 zip action sections, each with the keys a real action
// carries, read from the file, parsed and turned into steps (two per action, one more for the end).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "plan/plan_builder.h"
#include "platform/platform.h"

namespace {

constexpr int kActions = 5000;
constexpr const char* kConfigPath = "C:\\work\\install.ini";

std::string LargeConfiguration() {
  std::string ini = "[setup]\nproductionname=Orvo 365\ninstallfolder=Orvo 365\nlaunchid=61\n";
  for (int n = 0; n < kActions; ++n) {
    const std::string id = std::to_string(n);
    ini += "[action" + id + "]\nid=" + id + "\nfilename=OrvoApp" + id + ".zip\nurl=https://cdn.orvo.example/OrvoApp" +
           id + ".zip\nuninstallid=OrvoApp" + std::to_string(n / 2) + "\ndisplayname=Orvo App " + id +
           "\nmainfile=OrvoApp.exe\ninstallfolder=Orvo App/" + id + "\nversion=1.0.0." + id +
           "\nmd5=0123456789abcdef0123456789abcdef\nsize=1048576\ncheckversion=yes\nshortcut=yes\n"
           "shortcutnameandpath=Orvo\\Orvo App " + id + ",OrvoApp.exe\nstartmenu=yes\nstartmenufolder=Orvo\n";
  }
  return ini;
}

// A fresh system root in the temporary folder with the platform services installed for the benchmark.
class BenchRoot {
 public:
  BenchRoot() {
    path_ = std::filesystem::temp_directory_path() / ("orvo-bench-" + std::to_string(std::random_device()()));
    if (!std::filesystem::create_directory(path_)) std::abort();
    std::string problem;
    std::unique_ptr<orvo::platform::Platform> platform = orvo::platform::CreatePlatform(path_, &problem);
    if (!platform) std::abort();
    scoped_ = std::make_unique<orvo::platform::ScopedPlatform>(std::move(platform));
  }
  ~BenchRoot() {
    scoped_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchRoot(const BenchRoot&) = delete;
  BenchRoot& operator=(const BenchRoot&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::unique_ptr<orvo::platform::ScopedPlatform> scoped_;
};

void BM_BuildPlanFromFile(benchmark::State& state) {
  BenchRoot root;
  std::filesystem::create_directories(root.Path() / "work");
  std::ofstream(root.Path() / "work" / "install.ini", std::ios::binary) << LargeConfiguration();
  orvo::plan::BuildInputs inputs;
  inputs.workFolder = "C:\\work";
  inputs.localConfigFolder = "C:\\work\\OrvoInstaller";
  inputs.msiLogPath = "C:\\work\\x_ISM.Log";
  const orvo::plan::InstallSelection selection;
  std::size_t steps = 0;
  for (auto _ : state) {
    orvo::plan::SuiteSettings suite;
    suite.installFolder = "C:\\Program Files (x86)\\Orvo";
    orvo::plan::PlanBuilder builder(inputs, selection, suite);
    const orvo::plan::Plan plan = builder.BuildPlanFromFile(kConfigPath);
    steps = plan.size();
    benchmark::DoNotOptimize(plan);
  }
  if (steps != 2 * kActions + 1) state.SkipWithError("the plan lost steps");
  state.counters["steps"] = static_cast<double>(steps);
  const double actions = static_cast<double>(kActions) * static_cast<double>(state.iterations());
  state.counters["actions/s"] = benchmark::Counter(actions, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildPlanFromFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

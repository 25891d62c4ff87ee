#include "support/test_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace orvo::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("orvo-test-" + std::to_string(generator() % 1000000000ULL));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  if (std::getenv("ORVO_KEEP_TEST_ROOTS") != nullptr) return;
  std::error_code error;
  // Read-only files must go too.
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, error);
  }
  fs::remove_all(path_, error);
}

TestRoot::TestRoot(const std::string& profile_json) {
  if (!profile_json.empty()) {
    std::ofstream(folder_.Path() / "system-profile.json") << profile_json;
  }
  std::string problem;
  auto services = platform::CreatePlatform(folder_.Path(), &problem);
  if (!services) throw std::runtime_error("cannot create the test platform: " + problem);
  scoped_ = std::make_unique<platform::ScopedPlatform>(std::move(services));
}

TestRoot::~TestRoot() = default;

fs::path TestRoot::Linux(const std::string& windows_path) const {
  return scoped_->Get().drive.ToLinux(windows_path);
}

void TestRoot::WriteFile(const std::string& windows_path, const std::string& bytes) const {
  fs::path target = Linux(windows_path);
  fs::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << bytes;
}

fs::path BinaryDir() {
  const char* dir = std::getenv("ORVO_TEST_BINARY_DIR");
  return dir != nullptr ? fs::path(dir) : fs::current_path();
}

}  // namespace orvo::test

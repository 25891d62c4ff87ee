// A fresh system root for one test: a temporary folder laid out as drive C:, with the platform services of
// the process pointed at it for the life of the object. Removed afterwards unless ORVO_KEEP_TEST_ROOTS is
// set.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace orvo::test {

// A temporary folder, removed with its content when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class TestRoot {
 public:
  // profile_json: the content of system-profile.json (empty: none, so the defaults hold).
  explicit TestRoot(const std::string& profile_json = "");
  ~TestRoot();
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::filesystem::path& Root() const { return folder_.Path(); }
  platform::Platform& Platform() { return scoped_->Get(); }
  // Linux path of a Windows path on this root.
  std::filesystem::path Linux(const std::string& windows_path) const;
  // Writes a file given by its Windows path (parents created).
  void WriteFile(const std::string& windows_path, const std::string& bytes) const;

 private:
  TempFolder folder_;
  std::unique_ptr<platform::ScopedPlatform> scoped_;
};

// The folder of the built programs (OrvoInstaller.exe), from ORVO_TEST_BINARY_DIR.
std::filesystem::path BinaryDir();

}  // namespace orvo::test

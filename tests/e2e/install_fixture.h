// Whole install runs of the built OrvoInstaller.exe: a fresh system root, the local account service with TLS
// serving an install configuration and its component files, and small "#!/bin/sh" setup programs that note
// each run (with its arguments) under the system root and end with a chosen exit code.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/account_service.h"
#include "support/test_root.h"

namespace orvo::test {

// One component of the configuration: a section of the INI file or an item of an "/install" list.
struct Component {
  std::string section;  // the INI section name ("vcredist2019", "dotnet48", "action1", ...)
  // The keys written as they stand; "url", "md5" and "size" are added when the file is published.
  std::vector<std::pair<std::string, std::string>> keys;
  std::string bytes;  // the served file

  std::string Key(const std::string& name) const;
  void Set(const std::string& name, const std::string& value);
  std::string FileName() const { return Key("filename"); }
};

// Outcome of one installer run.
struct RunResult {
  int exit_code = 0;  // the whole Windows code (ORVO_EXIT_CODE_FILE); for a host run the 8 bits of orvo-host
  bool ended = false;  // the process ended within the time limit
  std::string log;     // the run's log file(s), decoded from UTF-16LE
  std::vector<nlohmann::json> requests;  // everything the account service received so far
  std::string errors;  // standard error
  // Host runs: the reports received, in order, as (status, text).
  std::vector<std::pair<int, std::string>> reports;
};

class InstallFixture : public ::testing::Test {
 protected:
  static constexpr const char* kInstallId = "uqe9137";
  static constexpr int kDefaultExitCode = 0;

  void SetUp() override;

  // A "#!/bin/sh" program that appends one line, its arguments separated by tabs, to the run record
  // "<root>/e2e-runs/<name>", runs the extra shell lines, and ends with the exit code.
  static std::string SetupProgram(const std::string& name, int exit_code, const std::string& extra_lines = "");

  // The standard components: two runtimes (a VC runtime whose registry and file checks both fail, and a
  // .NET runtime whose "Release" number is missing) and two setup programs, each ending with the code.
  static Component VcRuntime(int exit_code = kDefaultExitCode);
  static Component DotNetRuntime(int exit_code = kDefaultExitCode);
  // The photo setup also leaves "Program Files (x86)/Orvo/Suite/Orvo Photo/OrvoPhoto.exe", the
  // configuration's launch file, which notes its start in the run record "OrvoPhoto.exe".
  static Component PhotoSetup(int exit_code = kDefaultExitCode);
  static Component VideoSetup(int exit_code = kDefaultExitCode);
  std::vector<Component> StandardComponents() const;

  // Serves each component's file at /files/<filename> and fills its "url", "md5" and "size".
  void Publish(std::vector<Component>& components) const;
  // The configuration file: a "setup" section, then the components' sections in order.
  static std::string ConfigurationText(const std::vector<Component>& components);
  // Serves the configuration for the installer id.
  void ServeConfiguration(const std::vector<Component>& components) const;
  // The "/install" item list: a JSON array, one object per component, with the section's keys; a runtime
  // without an "uninstallid" gets the one that names its kind ("vcredist", "dotnet").
  static std::string ItemList(const std::vector<Component>& components);

  // Runs "OrvoInstaller.exe <arguments>" with the environment that reaches the service, and waits.
  RunResult Run(const std::string& arguments);
  // Runs a host-mode install through orvo-host with the item list, and waits.
  RunResult RunHost(const std::string& install_list);

  // The runs recorded by the setup program <name>: one entry per run, its arguments.
  std::vector<std::vector<std::string>> Runs(const std::string& name) const;
  // Requests for the path.
  static std::vector<nlohmann::json> RequestsFor(const RunResult& result, const std::string& path);

  std::filesystem::path WorkFolder() const;
  std::filesystem::path TempFolder() const;

  TestRoot root_;
  std::unique_ptr<AccountService> service_;

 private:
  std::string Environment() const;
  std::vector<std::filesystem::path> LogFiles() const;
  RunResult RunScript(const std::string& command, int limit_seconds);

  std::string user_name_;
};

// How often the text occurs.
std::size_t Count(const std::string& text, const std::string& needle);

}  // namespace orvo::test

// How a Windows command line becomes a Linux program and its arguments: finding the program, choosing how
// to run the file it names, and what "cmd.exe /c" runs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform::linux_detail {

struct LaunchPlan {
  std::string path;               // what posix_spawn executes
  std::vector<std::string> argv;  // its arguments, argv[0] included
};

// "cmd.exe" or "cmd", with or without a folder.
bool IsCommandInterpreter(std::string_view program);

// The plan for a command interpreter's line: its "/c" (or "/k") text through /bin/sh, a ".bat"/".cmd"
// script named first run as a shell script. False when the line has no such switch.
bool PlanCommandInterpreter(const std::string& command_line, const std::filesystem::path& working_folder,
                            LaunchPlan* plan);

// The plan for a program and its arguments (argv[0] included); a Windows error code when it cannot run.
std::uint32_t PlanProgram(const std::string& program, const std::vector<std::string>& arguments,
                          LaunchPlan* plan);

}  // namespace orvo::platform::linux_detail

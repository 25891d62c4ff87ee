// The Windows environment block of the process: "ProgramData", "public", "systemroot", PATH with ";" and
// the rest, built from the system drive. Names compare without regard to case. Child processes get the
// Linux environment with these variables added, their path values mapped to Linux form.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

class SystemDrive;

class WindowsEnvironment {
 public:
  static WindowsEnvironment ForDrive(const SystemDrive& drive);

  std::optional<std::string> Get(std::string_view name) const;
  void Set(std::string_view name, std::string_view value);
  void Remove(std::string_view name);
  // ExpandEnvironmentStrings: "%name%" replaced by its value; unknown names stay as written.
  std::string Expand(std::string_view text) const;
  // NAME=value entries in Windows form, sorted by name.
  std::vector<std::string> Block() const;
  // The environment for a Linux child: linux_environment (NAME=value) overlaid with these variables,
  // values that are Windows paths mapped to Linux; PATH = the Windows PATH mapped, then the Linux PATH.
  std::vector<std::string> ForLinuxChild(const SystemDrive& drive,
                                         const std::vector<std::string>& linux_environment) const;

 private:
  struct Entry {
    std::string name;  // as first set
    std::string value;
  };
  std::map<std::string, Entry> entries_;  // key: folded name
};

}  // namespace orvo::platform

#include "flow/product_lists.h"

#include <cstddef>
#include <vector>

#include "app/log.h"
#include "deploy/installed_products.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/win_types.h"
#include "script/hidden_command.h"
#include "system/file_helpers.h"

namespace orvo::flow {

namespace {

using platform::Hive;

// A folder with fewer entries than this is taken for the remains of a removed program.
constexpr std::size_t kMinFolderEntries = 5;

// One read of the key, so deleting values below cannot make the walk skip any (as deleting while
// enumerating by index would).
std::vector<platform::RegValue> ListValues(const std::string& key) {
  std::vector<platform::RegValue> values;
  if (platform::Reg().ListValues(Hive::kLocalMachine, key, values) != platform::error::kSuccess) values.clear();
  return values;
}

std::size_t FolderEntryCount(const std::string& file) {
  const std::string folder = sys::SplitPath(file).folder;
  std::vector<platform::fs::FileInfo> entries;
  if (folder.empty() || platform::fs::ListFolder(folder, entries) != platform::error::kSuccess) return 0;
  return entries.size();
}

void DeleteValue(const std::string& key, const std::string& name) {
  platform::Reg().DeleteValue(Hive::kLocalMachine, key, name);
}

}  // namespace

HiddenCommandRunner WaitingHiddenCommand() {
  return [](const std::string& command) { script::RunHiddenCommand(command, true); };
}

void CleanApplicationList61() {
  const std::string key = deploy::ApplicationFileListKey(61);
  const std::vector<platform::RegValue> values = ListValues(key);
  if (values.size() <= 1) return;
  for (const platform::RegValue& value : values) {
    if (!sys::FileExists(value.name) || FolderEntryCount(value.name) < kMinFolderEntries) DeleteValue(key, value.name);
  }
}

void CleanApplicationList157(const HiddenCommandRunner& run) {
  const std::string key = deploy::ApplicationFileListKey(157);
  for (const platform::RegValue& value : ListValues(key)) {
    if (!sys::FileExists(value.name)) {
      DeleteValue(key, value.name);
      continue;
    }
    if (sys::CompareVersions(sys::FileVersionText(value.name), kTaskProgramMaxVersion) > 0) continue;
    const std::string command = "\"" + value.name + "\" -createtask";
    log::Info("create orvo info task, run : %s", command.c_str());
    if (run) run(command);
  }
}

}  // namespace orvo::flow

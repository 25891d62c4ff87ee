// The registry: HKLM, HKCU and HKCR with REG_SZ and REG_DWORD values, and the two views of a 32-bit
// process on 64-bit Windows. Keys are addressed by path ("SOFTWARE\Orvo\Shared"), without handles: every
// call is one operation (one transaction in the store). Key and value names compare without regard to case
// and keep the case they were created with.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

enum class Hive { kLocalMachine, kCurrentUser, kClassesRoot };

// kDefault is the view of this (32-bit) process: on 64-bit Windows HKLM "SOFTWARE\..." is redirected to
// "SOFTWARE\WOW6432Node\..." (KEY_WOW64_32KEY does the same explicitly); kView64 is KEY_WOW64_64KEY.
enum class RegView { kDefault, kView32, kView64 };

enum class RegType : std::uint32_t { kString = 1, kDword = 4 };

struct RegValue {
  std::string name;  // empty: the key's default value
  RegType type = RegType::kString;
  std::string text;          // kString
  std::uint32_t number = 0;  // kDword
};

struct RegKeyCounts {
  std::uint32_t sub_keys = 0;
  std::uint32_t values = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // RegCreateKeyEx: creates the key and its missing parents; 0 when it exists afterwards.
  virtual std::uint32_t CreateKey(Hive hive, std::string_view path, RegView view = RegView::kDefault) = 0;
  // RegOpenKeyEx: 0 when the key exists, else kFileNotFound.
  virtual std::uint32_t OpenKey(Hive hive, std::string_view path, RegView view = RegView::kDefault) = 0;
  // RegDeleteKeyEx: only a key without sub-keys (else kAccessDenied); its values go with it.
  virtual std::uint32_t DeleteKey(Hive hive, std::string_view path, RegView view = RegView::kDefault) = 0;
  // RegDeleteTree + the key itself: the key, all its sub-keys and values.
  virtual std::uint32_t DeleteTree(Hive hive, std::string_view path, RegView view = RegView::kDefault) = 0;

  // RegSetValueEx on an existing key (kFileNotFound when the key does not exist).
  virtual std::uint32_t SetString(Hive hive, std::string_view path, std::string_view name, std::string_view text,
                                  RegView view = RegView::kDefault) = 0;
  virtual std::uint32_t SetDword(Hive hive, std::string_view path, std::string_view name, std::uint32_t number,
                                 RegView view = RegView::kDefault) = 0;
  // RegQueryValueEx: kFileNotFound when the key or the value is missing.
  virtual std::uint32_t QueryValue(Hive hive, std::string_view path, std::string_view name, RegValue& value,
                                   RegView view = RegView::kDefault) = 0;
  virtual std::uint32_t DeleteValue(Hive hive, std::string_view path, std::string_view name,
                                    RegView view = RegView::kDefault) = 0;

  // RegEnumKeyEx / RegEnumValue by index, in a stable order: sub-keys sorted by name without regard to
  // case, values in the order they were first set. kNoMoreItems past the end.
  virtual std::uint32_t EnumKey(Hive hive, std::string_view path, std::uint32_t index, std::string& name,
                                RegView view = RegView::kDefault) = 0;
  virtual std::uint32_t EnumValue(Hive hive, std::string_view path, std::uint32_t index, RegValue& value,
                                  RegView view = RegView::kDefault) = 0;
  // All at once, same order (one read).
  virtual std::uint32_t ListSubKeys(Hive hive, std::string_view path, std::vector<std::string>& names,
                                    RegView view = RegView::kDefault) = 0;
  virtual std::uint32_t ListValues(Hive hive, std::string_view path, std::vector<RegValue>& values,
                                   RegView view = RegView::kDefault) = 0;
  // RegQueryInfoKey: number of sub-keys and values.
  virtual std::uint32_t QueryCounts(Hive hive, std::string_view path, RegKeyCounts& counts,
                                    RegView view = RegView::kDefault) = 0;

  // Convenience readers: std::nullopt when missing or of another type.
  std::optional<std::string> ReadString(Hive hive, std::string_view path, std::string_view name,
                                        RegView view = RegView::kDefault);
  std::optional<std::uint32_t> ReadDword(Hive hive, std::string_view path, std::string_view name,
                                         RegView view = RegView::kDefault);
};

// Where the store keeps a key: HKCR is HKLM "SOFTWARE\Classes", and on 64-bit Windows the 32-bit view
// (kDefault, kView32) is redirected to "WOW6432Node" as on Windows 7 and later. The path comes back with
// its empty parts dropped; hive is kLocalMachine or kCurrentUser.
struct RegLocation {
  Hive hive = Hive::kLocalMachine;
  std::string path;
};
RegLocation ResolveRegistryPath(Hive hive, std::string_view path, RegView view, bool windows64);

// The store on SQLite: one database file, WAL journal, a busy time-out, so the installer, its temporary
// copy and a host can use it at once. windows64 decides whether the 32-bit view is redirected.
std::unique_ptr<Registry> OpenRegistryStore(const std::string& database_file, bool windows64,
                                            std::uint32_t* error = nullptr);

}  // namespace orvo::platform

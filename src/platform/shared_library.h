// Code libraries loaded into the process (LoadLibrary and GetProcAddress), and where the seven-zip codec
// library comes from.
#pragma once

#include <memory>
#include <string>

namespace orvo::platform {

class SharedLibrary {
 public:
  // file: the library as the operating system names it (a path, or a bare name for the loader's search).
  // Null, with *problem saying why, when it cannot be loaded.
  static std::unique_ptr<SharedLibrary> Load(const std::string& file, std::string* problem);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported symbol; null when the library does not export it.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The seven-zip codec library. On Windows it travels in the installer's resources; here it is the file
// named by ORVO_7Z_LIBRARY, else /usr/lib/p7zip/7z.so (where p7zip-full installs it).
inline constexpr const char* kSevenZipLibraryVariable = "ORVO_7Z_LIBRARY";
inline constexpr const char* kDefaultSevenZipLibrary = "/usr/lib/p7zip/7z.so";
std::string SevenZipLibraryFile();

}  // namespace orvo::platform

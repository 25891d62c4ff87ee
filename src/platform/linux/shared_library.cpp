#include "platform/shared_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace orvo::platform {

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& file, std::string* problem) {
  // Never unmapped: a codec library may leave worker threads or static objects behind it, and unmapping
  // code that may still run is the one failure we cannot recover from.
  void* handle = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    if (problem != nullptr) {
      const char* reason = file.empty() ? nullptr : dlerror();
      *problem = reason != nullptr ? reason : "no library named";
    }
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string SevenZipLibraryFile() {
  const char* chosen = std::getenv(kSevenZipLibraryVariable);
  return chosen != nullptr && *chosen != '\0' ? chosen : kDefaultSevenZipLibrary;
}

}  // namespace orvo::platform

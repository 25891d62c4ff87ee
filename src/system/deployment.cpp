#include "system/deployment.h"

#include <cstdlib>
#include <string_view>

#ifndef ORVO_DEFAULT_ACCOUNT_SERVICE
#error "ORVO_DEFAULT_ACCOUNT_SERVICE is given by the build"
#endif
#ifndef ORVO_DEFAULT_HELPDESK
#error "ORVO_DEFAULT_HELPDESK is given by the build"
#endif
#ifndef ORVO_DEFAULT_REDIRECT_SERVICE
#error "ORVO_DEFAULT_REDIRECT_SERVICE is given by the build"
#endif

namespace orvo::sys {
namespace {

// Callers append paths that start with "/", so a base written with a trailing slash would double it.
std::string WithoutTrailingSlash(std::string_view address) {
  while (!address.empty() && address.back() == '/') address.remove_suffix(1);
  return std::string(address);
}

// The process's own (Linux) environment: these values describe the deployment, not the Windows system
// the installer works on, so the Windows environment block is not the place to look.
std::string Value(const char* variable, const char* fallback) {
  const char* set = std::getenv(variable);
  return WithoutTrailingSlash(set != nullptr && *set != '\0' ? set : fallback);
}

}  // namespace

std::string AccountServiceBase() { return Value("ORVO_ACCOUNT_SERVICE", ORVO_DEFAULT_ACCOUNT_SERVICE); }
std::string HelpdeskBase() { return Value("ORVO_HELPDESK", ORVO_DEFAULT_HELPDESK); }
std::string RedirectServiceBase() { return Value("ORVO_REDIRECT_SERVICE", ORVO_DEFAULT_REDIRECT_SERVICE); }

}  // namespace orvo::sys

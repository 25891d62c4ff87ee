#include "system/shell_helpers.h"

#include "platform/shell.h"

namespace orvo::sys {

std::string GrantUsersModifyParameters(std::string_view path) {
  return "\"" + std::string(path) + "\" /grant Users:M /T";
}

void GrantUsersModify(std::string_view path) {
  platform::ShellRequest request;
  request.verb = "open";
  request.file = "icacls.exe";
  request.parameters = GrantUsersModifyParameters(path);
  request.hidden = true;
  // Best effort: the file stays usable without the grant, so a result of 32 or less changes nothing.
  platform::ShellExecute(request);
}

}  // namespace orvo::sys

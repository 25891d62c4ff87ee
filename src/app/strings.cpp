#include "app/strings.h"

namespace orvo::app {

std::string StartupString(int id) {
  switch (id) {
    case kStringAnotherInstallRunning:
      return "Another installation process is running at the moment. Please wait until this process is complete "
             "and try again. A restart of your computer may be necessary first.";
    case kStringCommonStillNeeded:
      return "Couldn't uninstall [AppName]. You still have Orvo applications installed on your computer that "
             "require it.";
    default: return {};
  }
}

}  // namespace orvo::app

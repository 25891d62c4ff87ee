// The deployment values: the addresses of the services this installer talks to. The build gives the
// defaults (CMake cache options); environment variables replace them for a test deployment or the demo.
#pragma once

#include <string>

namespace orvo::sys {

// The account service (configurations, retry settings, update check, statistic): https, no trailing slash.
// ORVO_ACCOUNT_SERVICE when set and not empty, else the build's ORVO_DEFAULT_ACCOUNT_SERVICE.
std::string AccountServiceBase();
// The helpdesk that receives problem reports. ORVO_HELPDESK, else ORVO_DEFAULT_HELPDESK.
std::string HelpdeskBase();
// The redirect service behind the product pages. ORVO_REDIRECT_SERVICE, else ORVO_DEFAULT_REDIRECT_SERVICE.
std::string RedirectServiceBase();

}  // namespace orvo::sys

// The texts the install controller shows, by string id in the selected language.
#pragma once

#include <string>

namespace orvo::flow {

// A cached id comes from the string cache, any other from the table directly.
std::string UiText(int id);
// A text that names the product being worked on: taken from the table as stored, so that its
// "[PRODUCTNAME]" becomes the product and not the "Orvo Installer" the cache puts there.
std::string ProductNamed(int id, const std::string& product);

}  // namespace orvo::flow

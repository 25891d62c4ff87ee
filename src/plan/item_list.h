// The item-list form of the configuration: the text of "/install" or "/uninstall", turned into items with
// the keys of configuration sections.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/config_file.h"

namespace orvo::plan {

// What an uninstall list needs to know about installed products (the product index in the registry).
struct InstalledProductIndex {
  // Uninstall ids of every installed product, in index order.
  std::function<std::vector<std::string>()> list;
  // The uninstall id of the product registered at a folder, empty when none.
  std::function<std::string(std::string_view folder)> findByLocation;
};
// The index as registered on this machine.
InstalledProductIndex RegisteredProducts();

// A JSON member's value as an item's text: strings as they are, integers in decimal, other numbers as a
// 32-bit float with "%f", true/false as "yes"/"no", anything else empty.
// "/install": a JSON object is one item, a JSON array one item per element object; any other text, or
// JSON that does not parse, gives none.
std::vector<Section> InstallItems(std::string_view text);

// "/uninstall": "all" gives one item per installed product with "Orvo Common" last; a text that is not
// JSON one item with that uninstallid; a JSON object its uninstallid (and id), or, without uninstallid,
// the product registered at its installfolder (none when no product is); an object with neither key
// gives one item without uninstallid, so the request is reported rather than ignored. A JSON array, or
// JSON that does not parse, gives none.
std::vector<Section> UninstallItems(std::string_view text, const InstalledProductIndex& products);

}  // namespace orvo::plan

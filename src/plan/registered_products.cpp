#include "deploy/installed_products.h"
#include "plan/item_list.h"

namespace orvo::plan {

InstalledProductIndex RegisteredProducts() {
  return InstalledProductIndex{
      [] { return deploy::ListInstalledProducts(); },
      [](std::string_view folder) { return deploy::FindProductByLocation(folder); },
  };
}

}  // namespace orvo::plan

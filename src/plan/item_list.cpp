#include "plan/item_list.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "plan/install_selection.h"
#include "platform/text.h"

namespace orvo::plan {

namespace {

using Json = nlohmann::ordered_json;

bool LooksLikeJson(std::string_view text) { return !text.empty() && (text.front() == '{' || text.front() == '['); }

std::string ValueText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  if (value.is_number_float()) {
    return platform::Format("%f", static_cast<double>(static_cast<float>(value.get<double>())));
  }
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  return std::string();
}

Section ItemOf(const Json& object) {
  Section item;
  for (const auto& [key, value] : object.items()) item.Add(key, ValueText(value));
  return item;
}

// Parse failures answer a discarded value; no exception leaves the reader.
Json ParseJson(std::string_view text) { return Json::parse(text, nullptr, false); }

Section UninstallItem(const std::string& uninstall_id, const std::string* id) {
  Section item;
  item.Add("uninstallid", uninstall_id);
  if (id != nullptr) item.Add("id", *id);
  return item;
}

std::vector<Section> AllProducts(const InstalledProductIndex& products) {
  std::vector<std::string> ids = products.list ? products.list() : std::vector<std::string>();
  // The common product goes last: the others may still need it while they are removed.
  std::stable_partition(ids.begin(), ids.end(), [](const std::string& id) { return id != kCommonUninstallId; });
  std::vector<Section> items;
  items.reserve(ids.size());
  for (const std::string& id : ids) items.push_back(UninstallItem(id, nullptr));
  return items;
}

std::vector<Section> UninstallObject(const Json& object, const InstalledProductIndex& products) {
  const Section fields = ItemOf(object);
  const std::string* id = fields.Find("id");
  if (const std::string* uninstall_id = fields.Find("uninstallid")) return {UninstallItem(*uninstall_id, id)};
  if (const std::string* folder = fields.Find("installfolder")) {
    const std::string found = products.findByLocation ? products.findByLocation(*folder) : std::string();
    if (found.empty()) return {};
    return {UninstallItem(found, id)};
  }
  Section without_id;
  if (id != nullptr) without_id.Add("id", *id);
  return {without_id};
}

}  // namespace

std::vector<Section> InstallItems(std::string_view text) {
  if (!LooksLikeJson(text)) return {};
  const Json document = ParseJson(text);
  if (document.is_object()) return {ItemOf(document)};
  std::vector<Section> items;
  if (!document.is_array()) return items;
  for (const Json& element : document) {
    if (element.is_object()) items.push_back(ItemOf(element));
  }
  return items;
}

std::vector<Section> UninstallItems(std::string_view text, const InstalledProductIndex& products) {
  if (text == "all") return AllProducts(products);
  if (!LooksLikeJson(text)) return {UninstallItem(std::string(text), nullptr)};
  const Json document = ParseJson(text);
  if (!document.is_object()) return {};
  return UninstallObject(document, products);
}

}  // namespace orvo::plan

#include "platform/system_profile.h"

#include <cpuid.h>
#include <pwd.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace orvo::platform {

namespace {

std::string LinuxUserName() {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr && found->pw_name[0]) {
    return found->pw_name;
  }
  return "User";
}

template <typename T>
void Take(const nlohmann::json& object, const char* name, T& out) {
  const auto it = object.find(name);
  if (it != object.end() && !it->is_null()) out = it->get<T>();
}

}  // namespace

SystemProfile LoadSystemProfile(const std::string& linux_file, std::string* problem) {
  SystemProfile profile;
  profile.user_name = LinuxUserName();
  std::ifstream in(linux_file, std::ios::binary);
  if (!in) return profile;
  std::stringstream text;
  text << in.rdbuf();
  try {
    const auto doc = nlohmann::json::parse(text.str());
    if (!doc.is_object()) throw std::runtime_error("the profile is not a JSON object");
    if (const auto it = doc.find("windows"); it != doc.end() && it->is_object()) {
      Take(*it, "major", profile.version.major);
      Take(*it, "minor", profile.version.minor);
      Take(*it, "build", profile.version.build);
      Take(*it, "servicePack", profile.version.service_pack_major);
      Take(*it, "productType", profile.version.product_type);
    }
    Take(doc, "windows64", profile.windows64);
    Take(doc, "userName", profile.user_name);
    Take(doc, "uiLanguage", profile.ui_language);
    Take(doc, "hotfixes", profile.hotfixes);
    Take(doc, "windowsUpdateBusy", profile.windows_update_busy);
    if (const auto it = doc.find("graphicsAdapters"); it != doc.end() && it->is_array()) {
      for (const auto& item : *it) {
        GraphicsAdapter adapter;
        Take(item, "description", adapter.description);
        Take(item, "vendorId", adapter.vendor_id);
        Take(item, "deviceId", adapter.device_id);
        Take(item, "dedicatedVideoMemory", adapter.dedicated_video_memory);
        profile.graphics_adapters.push_back(std::move(adapter));
      }
    }
  } catch (const std::exception& failure) {
    if (problem != nullptr) *problem = failure.what();
    SystemProfile defaults;
    defaults.user_name = LinuxUserName();
    return defaults;
  }
  if (profile.user_name.empty()) profile.user_name = LinuxUserName();
  return profile;
}

std::string SystemProfileToJson(const SystemProfile& profile) {
  nlohmann::json doc;
  doc["windows"] = {{"major", profile.version.major},
                    {"minor", profile.version.minor},
                    {"build", profile.version.build},
                    {"servicePack", profile.version.service_pack_major},
                    {"productType", profile.version.product_type}};
  doc["windows64"] = profile.windows64;
  doc["userName"] = profile.user_name;
  doc["uiLanguage"] = profile.ui_language;
  doc["hotfixes"] = profile.hotfixes;
  doc["windowsUpdateBusy"] = profile.windows_update_busy;
  doc["graphicsAdapters"] = nlohmann::json::array();
  for (const auto& adapter : profile.graphics_adapters) {
    doc["graphicsAdapters"].push_back({{"description", adapter.description},
                                       {"vendorId", adapter.vendor_id},
                                       {"deviceId", adapter.device_id},
                                       {"dedicatedVideoMemory", adapter.dedicated_video_memory}});
  }
  return doc.dump(2);
}

CpuInfo ReadCpuInfo() {
  CpuInfo info;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
    for (unsigned reg : {ebx, edx, ecx}) {
      for (int b = 0; b < 4; ++b) info.vendor.push_back(static_cast<char>((reg >> (8 * b)) & 0xFFu));
    }
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
    info.sse41 = (ecx & (1u << 19)) != 0;
    info.sse42 = (ecx & (1u << 20)) != 0;
  }
  // __get_cpuid checks the highest extended leaf itself.
  if (__get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) != 0) info.sse4a = (ecx & (1u << 6)) != 0;
  if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) != 0 && eax >= 0x80000004u) {
    char brand[49] = {};
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
      unsigned regs[4] = {};
      __get_cpuid(0x80000002u + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
      for (int r = 0; r < 4; ++r) {
        for (int b = 0; b < 4; ++b) brand[leaf * 16 + static_cast<unsigned>(r * 4 + b)] = static_cast<char>(regs[r] >> (8 * b));
      }
    }
    std::string text(brand);
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    info.brand = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  }
  return info;
}

MemoryInfo ReadMemoryInfo() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return {};
  return MemoryInfo{static_cast<std::uint64_t>(info.totalram) * info.mem_unit,
                    static_cast<std::uint64_t>(info.freeram + info.bufferram) * info.mem_unit};
}

}  // namespace orvo::platform

// What the installer asks Windows about the machine. Linux has no answer for most of it, so a small JSON
// file in the system root ("system-profile.json") describes the emulated Windows; absent members take the
// documented defaults (Windows 10 x64, English). CPU, memory and the process list are real.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvo::platform {

struct WindowsVersion {
  std::uint32_t major = 10;
  std::uint32_t minor = 0;
  std::uint32_t build = 19045;
  std::uint32_t service_pack_major = 0;
  std::uint32_t product_type = 1;  // 1 workstation, 2 domain controller, 3 server
};

struct GraphicsAdapter {
  std::string description;
  std::uint32_t vendor_id = 0;
  std::uint32_t device_id = 0;
  std::uint64_t dedicated_video_memory = 0;
};

struct SystemProfile {
  WindowsVersion version;
  bool windows64 = true;
  std::string user_name;                 // default: the Linux user's name
  std::uint16_t ui_language = 0x0409;    // LANGID of the user's UI language
  std::vector<std::string> hotfixes;     // "KB2919355", ...
  bool windows_update_busy = false;
  std::vector<GraphicsAdapter> graphics_adapters;
};

// Reads the profile; a missing file gives the defaults, a malformed one too (with *problem set).
SystemProfile LoadSystemProfile(const std::string& linux_file, std::string* problem = nullptr);
std::string SystemProfileToJson(const SystemProfile& profile);

struct CpuInfo {
  std::string brand;  // CPUID 0x80000002..4, blanks trimmed
  std::string vendor;  // CPUID 0, EBX EDX ECX: "GenuineIntel", "AuthenticAMD", ...
  bool sse41 = false;  // CPUID 1, ECX bit 19
  bool sse42 = false;  // CPUID 1, ECX bit 20
  bool sse4a = false;  // CPUID 0x80000001, ECX bit 6 (AMD)
};
CpuInfo ReadCpuInfo();

struct MemoryInfo {
  std::uint64_t total_physical = 0;
  std::uint64_t available_physical = 0;
};
MemoryInfo ReadMemoryInfo();

}  // namespace orvo::platform

#include "support/pe_builder.h"

#include <charconv>
#include <string_view>

#include "platform/text.h"

namespace orvo::test {
namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kPeHeaderOffset = 0x80;
constexpr std::uint32_t kHeadersSize = 0x200;
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint32_t kTextSize = 0x200;
constexpr std::uint32_t kResourceRva = 0x2000;
constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kRtManifest = 24;
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint16_t kBinaryValue = 0;
constexpr std::uint16_t kTextValue = 1;

// Little-endian output with patching of lengths written before they are known.
class Writer {
 public:
  void U8(std::uint8_t value) { data_.push_back(static_cast<char>(value)); }
  void U16(std::uint16_t value) {
    U8(static_cast<std::uint8_t>(value));
    U8(static_cast<std::uint8_t>(value >> 8));
  }
  void U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value));
    U16(static_cast<std::uint16_t>(value >> 16));
  }
  void U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value));
    U32(static_cast<std::uint32_t>(value >> 32));
  }
  void Bytes(std::string_view bytes) { data_.append(bytes); }
  void PadTo(std::size_t alignment) {
    while (data_.size() % alignment != 0) U8(0);
  }
  void PatchU16(std::size_t at, std::uint16_t value) {
    data_[at] = static_cast<char>(value & 0xFF);
    data_[at + 1] = static_cast<char>(value >> 8);
  }
  std::size_t Size() const { return data_.size(); }
  std::string& Data() { return data_; }

 private:
  std::string data_;
};

std::uint32_t AlignUp(std::size_t value, std::uint32_t alignment) {
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

std::string Utf16z(std::string_view utf8) {
  return platform::Utf16LeBytes(platform::Utf8ToUtf16(utf8)) + std::string(2, '\0');
}

// A node of the version tree as Windows lays it out: header, key, DWORD padding, value, padding, children.
struct VersionNode {
  std::string key;
  std::uint16_t type = kTextValue;
  std::string value;
  std::uint16_t value_length = 0;  // as stored: bytes for a binary value, characters for a text value
  std::vector<VersionNode> children;
  std::size_t* offset_out = nullptr;  // where to record the node's offset in the resource
};

void WriteNode(Writer& out, const VersionNode& node) {
  const std::size_t start = out.Size();
  if (node.offset_out != nullptr) *node.offset_out = start;
  out.U16(0);  // wLength, patched below
  out.U16(node.value_length);
  out.U16(node.type);
  out.Bytes(Utf16z(node.key));
  out.PadTo(4);
  out.Bytes(node.value);
  for (const VersionNode& child : node.children) {
    out.PadTo(4);
    WriteNode(out, child);
  }
  out.PatchU16(start, static_cast<std::uint16_t>(out.Size() - start));
}

std::string FixedFileInfo(const PeVersionResource& version) {
  auto high = [](const PeVersion& v) { return static_cast<std::uint32_t>(v[0]) << 16 | v[1]; };
  auto low = [](const PeVersion& v) { return static_cast<std::uint32_t>(v[2]) << 16 | v[3]; };
  Writer out;
  out.U32(0xFEEF04BDu);  // signature
  out.U32(0x00010000u);  // structure version 1.0
  out.U32(high(version.file_version));
  out.U32(low(version.file_version));
  out.U32(high(version.product_version));
  out.U32(low(version.product_version));
  out.U32(0x3F);          // file flags mask
  out.U32(0);             // file flags
  out.U32(0x00040004u);   // VOS_NT_WINDOWS32
  out.U32(1);             // VFT_APP
  out.U32(0);             // subtype
  out.U64(0);             // file date
  return out.Data();
}

// The Translation value: language and code page taken from the first table's key ("040904b0").
std::string Translation(const PeVersionResource& version) {
  std::uint32_t code = 0x040904B0u;
  if (!version.string_tables.empty()) {
    const std::string& key = version.string_tables.front().language;
    std::uint32_t parsed = 0;
    auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), parsed, 16);
    if (error == std::errc() && end == key.data() + key.size()) code = parsed;
  }
  Writer out;
  out.U16(static_cast<std::uint16_t>(code >> 16));
  out.U16(static_cast<std::uint16_t>(code & 0xFFFF));
  return out.Data();
}

struct VersionOffsets {
  std::size_t fixed_file_info = 0;
  std::size_t string_file_info = 0;
  std::size_t first_string = 0;
};

std::string VersionResource(const PeVersionResource& version, VersionOffsets& offsets) {
  VersionNode strings{"StringFileInfo", kTextValue, "", 0, {}, &offsets.string_file_info};
  for (const PeStringTable& table : version.string_tables) {
    VersionNode node{table.language, kTextValue, "", 0, {}, nullptr};
    for (const auto& [key, value] : table.strings) {
      const std::string text = Utf16z(value);
      node.children.push_back(VersionNode{key, kTextValue, text, static_cast<std::uint16_t>(text.size() / 2), {},
                                          nullptr});
    }
    strings.children.push_back(std::move(node));
  }
  if (!strings.children.empty() && !strings.children.front().children.empty()) {
    strings.children.front().children.front().offset_out = &offsets.first_string;
  }
  VersionNode variables{"VarFileInfo", kTextValue, "", 0, {}, nullptr};
  const std::string translation = Translation(version);
  variables.children.push_back(VersionNode{"Translation", kBinaryValue, translation, 4, {}, nullptr});

  const std::string fixed = FixedFileInfo(version);
  VersionNode root{"VS_VERSION_INFO", kBinaryValue, fixed, static_cast<std::uint16_t>(fixed.size()), {}, nullptr};
  if (version.var_file_info_first) {
    root.children = {variables, strings};
  } else {
    root.children = {strings, variables};
  }
  Writer out;
  WriteNode(out, root);
  // The fixed information follows the key "VS_VERSION_INFO" and its padding: 6 + 32 bytes, aligned to 40.
  offsets.fixed_file_info = 40;
  return out.Data();
}

// The .rsrc section: type -> name 1 -> language 0x409 -> data entry -> the resource itself.
struct ResourceSection {
  std::string bytes;
  std::size_t type_directory = 0;
  std::size_t data_entry = 0;
  std::size_t data = 0;
  std::size_t data_end = 0;
};

void WriteDirectory(Writer& out, std::uint16_t id, std::uint32_t target) {
  out.U32(0);  // characteristics
  out.U32(0);  // time stamp
  out.U32(0);  // version
  out.U16(0);  // named entries
  out.U16(1);  // id entries
  out.U32(id);
  out.U32(target);
}

ResourceSection BuildResourceSection(std::uint16_t type, std::string_view data) {
  ResourceSection section;
  Writer out;
  WriteDirectory(out, type, kSubdirectory | 0x18);
  section.type_directory = out.Size();
  WriteDirectory(out, 1, kSubdirectory | 0x30);
  WriteDirectory(out, 0x409, 0x48);
  section.data_entry = out.Size();
  const std::uint32_t data_offset = 0x60;
  out.U32(kResourceRva + data_offset);
  out.U32(static_cast<std::uint32_t>(data.size()));
  out.U32(0);  // code page
  out.U32(0);  // reserved
  out.PadTo(data_offset);
  section.data = out.Size();
  out.Bytes(data);
  section.data_end = out.Size();
  section.bytes = std::move(out.Data());
  return section;
}

void WriteSectionHeader(Writer& out, std::string_view name, std::uint32_t virtual_size, std::uint32_t rva,
                        std::uint32_t raw_size, std::uint32_t raw_pointer, std::uint32_t characteristics) {
  std::string padded(name);
  padded.resize(8, '\0');
  out.Bytes(padded);
  out.U32(virtual_size);
  out.U32(rva);
  out.U32(raw_size);
  out.U32(raw_pointer);
  out.U32(0);  // relocations
  out.U32(0);  // line numbers
  out.U16(0);
  out.U16(0);
  out.U32(characteristics);
}

void WriteOptionalHeader(Writer& out, bool pe32_plus, std::uint32_t image_size, std::uint32_t resource_raw_size,
                         std::uint32_t resource_size) {
  out.U16(pe32_plus ? 0x20B : 0x10B);
  out.U8(14);  // linker version
  out.U8(0);
  out.U32(kTextSize);          // size of code
  out.U32(resource_raw_size);  // size of initialised data
  out.U32(0);                  // size of uninitialised data
  out.U32(kTextRva);           // entry point
  out.U32(kTextRva);           // base of code
  if (pe32_plus) {
    out.U64(0x140000000ull);
  } else {
    out.U32(kResourceRva);     // base of data
    out.U32(0x400000u);
  }
  out.U32(kSectionAlignment);
  out.U32(kFileAlignment);
  out.U16(6);  // operating system version
  out.U16(0);
  out.U16(0);  // image version
  out.U16(0);
  out.U16(6);  // subsystem version
  out.U16(0);
  out.U32(0);  // Win32 version value
  out.U32(image_size);
  out.U32(kHeadersSize);
  out.U32(0);       // checksum
  out.U16(2);       // Windows GUI
  out.U16(0x8140);  // NX compatible, dynamic base, terminal-server aware
  for (std::uint64_t size : {0x100000ull, 0x1000ull, 0x100000ull, 0x1000ull}) {  // stack and heap
    if (pe32_plus) {
      out.U64(size);
    } else {
      out.U32(static_cast<std::uint32_t>(size));
    }
  }
  out.U32(0);   // loader flags
  out.U32(16);  // data directories
  for (std::uint32_t i = 0; i < 16; ++i) {
    const bool resources = i == 2 && resource_size != 0;
    out.U32(resources ? kResourceRva : 0);
    out.U32(resources ? resource_size : 0);
  }
}

}  // namespace

PeImage BuildPeImage(const PeImageOptions& options) {
  PeImage image;
  PeLayout& layout = image.layout;

  ResourceSection resources;
  VersionOffsets version_offsets;
  if (options.resource_section) {
    if (options.version) {
      resources = BuildResourceSection(kRtVersion, VersionResource(*options.version, version_offsets));
    } else {
      resources = BuildResourceSection(
          kRtManifest, "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>");
    }
  }
  const auto resource_size = static_cast<std::uint32_t>(resources.bytes.size());
  const std::uint32_t resource_raw_size = AlignUp(resource_size, kFileAlignment);
  const std::uint32_t image_size =
      options.resource_section ? kResourceRva + AlignUp(resource_size, kSectionAlignment) : kResourceRva;
  const std::uint16_t sections = options.resource_section ? 2 : 1;

  Writer out;
  out.Bytes("MZ");
  out.Bytes(std::string(0x3C - 2, '\0'));
  out.U32(kPeHeaderOffset);
  out.Bytes(std::string(kPeHeaderOffset - out.Size(), '\0'));

  layout.pe_header = out.Size();
  out.Bytes(std::string_view("PE\0\0", 4));
  out.U16(options.pe32_plus ? 0x8664 : 0x014C);  // machine
  out.U16(sections);
  out.U32(0);  // time stamp
  out.U32(0);  // symbol table
  out.U32(0);
  out.U16(options.pe32_plus ? 240 : 224);  // size of the optional header
  out.U16(options.pe32_plus ? 0x0022 : 0x0102);  // executable; large-address aware or 32-bit machine
  layout.optional_header = out.Size();
  layout.resource_directory_entry = layout.optional_header + (options.pe32_plus ? 112 : 96) + 2 * 8;
  WriteOptionalHeader(out, options.pe32_plus, image_size, resource_raw_size, resource_size);

  layout.section_table = out.Size();
  WriteSectionHeader(out, ".text", kTextSize, kTextRva, kTextSize, kHeadersSize, 0x60000020u);
  const std::uint32_t resource_pointer = kHeadersSize + kTextSize;
  if (options.resource_section) {
    WriteSectionHeader(out, ".rsrc", resource_size, kResourceRva, resource_raw_size, resource_pointer,
                       0x40000040u);
  }
  out.PadTo(kHeadersSize);

  out.U8(0xC3);  // ret
  out.PadTo(kFileAlignment);

  if (options.resource_section) {
    layout.resource_section = out.Size();
    layout.type_directory = resource_pointer + resources.type_directory;
    layout.resource_data_entry = resource_pointer + resources.data_entry;
    layout.resource_data = resource_pointer + resources.data;
    layout.resource_data_end = resource_pointer + resources.data_end;
    if (options.version) {
      layout.fixed_file_info = layout.resource_data + version_offsets.fixed_file_info;
      layout.string_file_info = layout.resource_data + version_offsets.string_file_info;
      if (version_offsets.first_string != 0) layout.first_string = layout.resource_data + version_offsets.first_string;
    }
    out.Bytes(resources.bytes);
    out.PadTo(kFileAlignment);
  }
  image.bytes = std::move(out.Data());
  return image;
}

std::string BuildVersionedPe(const PeVersion& file_version, const PeVersion& product_version,
                             const std::vector<std::pair<std::string, std::string>>& strings, bool pe32_plus) {
  PeImageOptions options;
  options.pe32_plus = pe32_plus;
  options.version = PeVersionResource{file_version, product_version, {PeStringTable{"040904b0", strings}}, false};
  return BuildPeImage(options).bytes;
}

}  // namespace orvo::test

// The image is untrusted: every read goes through Bytes, which answers nullopt outside the data, and all
// offset arithmetic is done in 64 bits so that 32-bit fields from the file cannot wrap.
#include "platform/file_version.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/text.h"

namespace orvo::platform {
namespace {

constexpr std::uint16_t kDosSignature = 0x5A4D;      // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;   // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::uint64_t kFixedInfoSize = 52;
constexpr std::uint64_t kBlockHeaderSize = 6;  // wLength, wValueLength, wType
constexpr std::uint16_t kTextValue = 1;

class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  std::uint64_t Size() const { return data_.size(); }
  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  std::optional<std::uint16_t> U16(std::uint64_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
  }
  std::optional<std::uint32_t> U32(std::uint64_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return Byte(offset) | (Byte(offset + 1) << 8) | (Byte(offset + 2) << 16) | (Byte(offset + 3) << 24);
  }
  std::optional<std::string_view> Slice(std::uint64_t offset, std::uint64_t length) const {
    if (!Has(offset, length)) return std::nullopt;
    return data_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

 private:
  std::uint32_t Byte(std::uint64_t offset) const {
    return static_cast<unsigned char>(data_[static_cast<std::size_t>(offset)]);
  }
  std::string_view data_;
};

std::uint64_t Align4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

// The PE headers that matter here: where the section table is and the resource directory's RVA.
struct PeHeaders {
  std::uint64_t section_table = 0;
  std::uint16_t section_count = 0;
  std::uint32_t resource_rva = 0;
};

std::optional<PeHeaders> ReadPeHeaders(const Bytes& image) {
  if (image.U16(0) != kDosSignature) return std::nullopt;
  const auto pe = image.U32(0x3C);
  if (!pe || image.U32(*pe) != kPeSignature) return std::nullopt;
  const std::uint64_t coff = std::uint64_t{*pe} + 4;
  const auto section_count = image.U16(coff + 2);
  const auto optional_size = image.U16(coff + 16);
  if (!section_count || !optional_size) return std::nullopt;
  const std::uint64_t optional_header = coff + 20;

  // The data directories sit after fields whose width differs between PE32 and PE32+.
  std::uint64_t count_field = 0;
  std::uint64_t directories = 0;
  const auto magic = image.U16(optional_header);
  if (magic == kPe32Magic) {
    count_field = 92;
    directories = 96;
  } else if (magic == kPe32PlusMagic) {
    count_field = 108;
    directories = 112;
  } else {
    return std::nullopt;
  }
  const std::uint64_t resource_entry = directories + 8 * kResourceDirectoryIndex;
  const auto directory_count = image.U32(optional_header + count_field);
  if (!directory_count || *directory_count <= kResourceDirectoryIndex) return std::nullopt;
  if (*optional_size < resource_entry + 8) return std::nullopt;
  const auto resource_rva = image.U32(optional_header + resource_entry);
  const auto resource_size = image.U32(optional_header + resource_entry + 4);
  if (!resource_rva || !resource_size || *resource_rva == 0 || *resource_size == 0) return std::nullopt;
  return PeHeaders{optional_header + *optional_size, *section_count, *resource_rva};
}

// The bytes of the file that hold [rva, rva + length) of the loaded image, or, with to_section_end, every
// byte of the file from rva to the end of its section. Only bytes the file really has are returned.
std::optional<std::string_view> MapRva(const Bytes& image, const PeHeaders& headers, std::uint32_t rva,
                                       std::uint64_t length, bool to_section_end) {
  constexpr std::uint64_t kSectionHeaderSize = 40;
  for (std::uint16_t i = 0; i < headers.section_count; ++i) {
    const std::uint64_t header = headers.section_table + i * kSectionHeaderSize;
    const auto virtual_size = image.U32(header + 8);
    const auto virtual_address = image.U32(header + 12);
    const auto raw_size = image.U32(header + 16);
    const auto raw_pointer = image.U32(header + 20);
    if (!virtual_size || !virtual_address || !raw_size || !raw_pointer) return std::nullopt;
    // Beyond SizeOfRawData the loader fills zeros that the file does not hold; beyond VirtualSize the
    // bytes are not part of the section.
    std::uint64_t span = *raw_size;
    if (*virtual_size != 0) span = std::min<std::uint64_t>(span, *virtual_size);
    if (rva < *virtual_address || rva - *virtual_address >= span) continue;
    const std::uint64_t into = rva - *virtual_address;
    const std::uint64_t file_offset = std::uint64_t{*raw_pointer} + into;
    if (to_section_end) {
      if (file_offset >= image.Size()) return std::nullopt;
      length = std::min(span - into, image.Size() - file_offset);
    } else if (length > span - into) {
      return std::nullopt;
    }
    return image.Slice(file_offset, length);
  }
  return std::nullopt;
}

// One entry of a resource directory: the entry with the given id, or the first entry when none is given.
std::optional<std::uint32_t> FindResourceEntry(const Bytes& resources, std::uint32_t directory,
                                               std::optional<std::uint16_t> id) {
  const auto named = resources.U16(std::uint64_t{directory} + 12);
  const auto ids = resources.U16(std::uint64_t{directory} + 14);
  if (!named || !ids) return std::nullopt;
  const std::uint32_t count = std::uint32_t{*named} + *ids;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = std::uint64_t{directory} + 16 + std::uint64_t{i} * 8;
    const auto name = resources.U32(entry);
    const auto target = resources.U32(entry + 4);
    if (!name || !target) return std::nullopt;
    if (!id || *name == *id) return *target;  // a named entry has its high bit set, so never equals an id
  }
  return std::nullopt;
}

std::optional<std::uint32_t> Subdirectory(std::optional<std::uint32_t> target) {
  if (!target || (*target & kSubdirectoryFlag) == 0) return std::nullopt;
  return *target & ~kSubdirectoryFlag;
}

// The bytes of the first RT_VERSION resource: type 16, its first name, that name's first language.
std::optional<std::string_view> LocateVersionResource(std::string_view data) {
  const Bytes image(data);
  const auto headers = ReadPeHeaders(image);
  if (!headers) return std::nullopt;
  const auto tree = MapRva(image, *headers, headers->resource_rva, 0, true);
  if (!tree) return std::nullopt;
  const Bytes resources(*tree);

  const auto names = Subdirectory(FindResourceEntry(resources, 0, kRtVersion));
  if (!names) return std::nullopt;
  const auto languages = Subdirectory(FindResourceEntry(resources, *names, std::nullopt));
  if (!languages) return std::nullopt;
  const auto data_entry = FindResourceEntry(resources, *languages, std::nullopt);
  if (!data_entry || (*data_entry & kSubdirectoryFlag) != 0) return std::nullopt;
  const auto rva = resources.U32(*data_entry);
  const auto size = resources.U32(std::uint64_t{*data_entry} + 4);
  if (!rva || !size) return std::nullopt;
  return MapRva(image, *headers, *rva, *size, false);
}

// One node of the version tree (VS_VERSIONINFO, StringFileInfo, StringTable, String...). Offsets are from
// the start of the resource, which is also what the DWORD alignment is counted from.
struct Block {
  std::uint64_t end = 0;
  std::u16string key;
  std::uint16_t value_length = 0;
  std::uint16_t type = 0;
  std::uint64_t value = 0;
  std::uint64_t children = 0;
};

std::optional<Block> ReadBlock(const Bytes& resource, std::uint64_t offset, std::uint64_t limit) {
  const auto length = resource.U16(offset);
  const auto value_length = resource.U16(offset + 2);
  const auto type = resource.U16(offset + 4);
  if (!length || !value_length || !type) return std::nullopt;
  if (*length < kBlockHeaderSize || offset > limit || *length > limit - offset) return std::nullopt;

  Block block;
  block.end = offset + *length;
  block.value_length = *value_length;
  block.type = *type;
  std::uint64_t position = offset + kBlockHeaderSize;
  for (;;) {
    if (position + 2 > block.end) return std::nullopt;  // the key must end inside the block
    const char16_t unit = static_cast<char16_t>(*resource.U16(position));
    position += 2;
    if (unit == u'\0') break;
    block.key.push_back(unit);
  }
  block.value = std::min(Align4(position), block.end);
  const std::uint64_t value_bytes = block.type == kTextValue ? std::uint64_t{*value_length} * 2 : *value_length;
  block.children = std::min(Align4(block.value + value_bytes), block.end);
  return block;
}

// Keys compare without regard to ASCII case, as VerQueryValue does.
bool KeyIs(const std::u16string& key, std::string_view wanted) {
  return ToLowerAscii(Utf16ToUtf8(key)) == ToLowerAscii(wanted);
}

// Calls visit(child) for each child of parent until visit returns true; false when the tree is damaged or
// no child was accepted.
template <typename Visit>
bool ForEachChild(const Bytes& resource, const Block& parent, Visit visit) {
  std::uint64_t position = parent.children;
  while (position + kBlockHeaderSize <= parent.end) {
    const auto child = ReadBlock(resource, position, parent.end);
    if (!child) return false;
    if (visit(*child)) return true;
    position = Align4(child->end);
  }
  return false;
}

// The VS_VERSIONINFO root; its fixed information, when it has any, must carry the signature.
std::optional<Block> ReadVersionRoot(const Bytes& resource) {
  const auto root = ReadBlock(resource, 0, resource.Size());
  if (!root || !KeyIs(root->key, "VS_VERSION_INFO")) return std::nullopt;
  if (root->value_length != 0) {
    if (root->value_length < kFixedInfoSize || root->value + root->value_length > root->end) return std::nullopt;
    if (resource.U32(root->value) != kFixedInfoSignature) return std::nullopt;
  }
  return root;
}

std::string StringValue(const Bytes& resource, const Block& entry) {
  // wValueLength counts characters with the terminating NUL; some tools write bytes instead, so the value
  // also stops at the block's end and at the first NUL.
  const std::uint64_t available = (entry.end - entry.value) / 2;
  const std::uint64_t units = std::min<std::uint64_t>(entry.value_length, available);
  std::u16string text;
  for (std::uint64_t i = 0; i < units; ++i) {
    const char16_t unit = static_cast<char16_t>(*resource.U16(entry.value + 2 * i));
    if (unit == u'\0') break;
    text.push_back(unit);
  }
  return Utf16ToUtf8(text);
}

}  // namespace

std::optional<std::string_view> FindVersionResource(std::string_view image) {
  const auto data = LocateVersionResource(image);
  if (!data || !ReadVersionRoot(Bytes(*data))) return std::nullopt;
  return data;
}

std::optional<std::string> QueryVersionString(std::string_view data, std::string_view table_name,
                                              std::string_view key) {
  const Bytes resource(data);
  const auto root = ReadVersionRoot(resource);
  if (!root) return std::nullopt;
  std::optional<std::string> result;
  ForEachChild(resource, *root, [&](const Block& info) {
    if (!KeyIs(info.key, "StringFileInfo")) return false;
    return ForEachChild(resource, info, [&](const Block& table) {
      if (!KeyIs(table.key, table_name)) return false;
      ForEachChild(resource, table, [&](const Block& entry) {
        if (!KeyIs(entry.key, key)) return false;
        result = StringValue(resource, entry);
        return true;
      });
      return true;
    });
  });
  return result;
}

std::optional<FixedFileVersion> ParseFixedFileVersion(std::string_view image) {
  const auto data = LocateVersionResource(image);
  if (!data) return std::nullopt;
  const Bytes resource(*data);
  const auto root = ReadVersionRoot(resource);
  if (!root || root->value_length == 0) return std::nullopt;
  FixedFileVersion version;
  version.file_version_ms = *resource.U32(root->value + 8);
  version.file_version_ls = *resource.U32(root->value + 12);
  version.product_version_ms = *resource.U32(root->value + 16);
  version.product_version_ls = *resource.U32(root->value + 20);
  return version;
}

std::optional<std::string> ParseVersionString(std::string_view image, std::string_view key) {
  const auto data = LocateVersionResource(image);
  if (!data) return std::nullopt;
  const Bytes resource(*data);
  const auto root = ReadVersionRoot(resource);
  if (!root) return std::nullopt;

  std::optional<std::string> result;
  ForEachChild(resource, *root, [&](const Block& info) {
    if (!KeyIs(info.key, "StringFileInfo")) return false;
    // Only the first string table is consulted, whatever its language.
    ForEachChild(resource, info, [&](const Block& table) {
      ForEachChild(resource, table, [&](const Block& entry) {
        if (!KeyIs(entry.key, key)) return false;
        result = StringValue(resource, entry);
        return true;
      });
      return true;
    });
    return true;
  });
  return result;
}

std::optional<FixedFileVersion> ReadFixedFileVersion(std::string_view path) {
  const auto bytes = fs::ReadFile(path);
  if (!bytes) return std::nullopt;
  return ParseFixedFileVersion(*bytes);
}

std::optional<std::string> ReadVersionString(std::string_view path, std::string_view key) {
  const auto bytes = fs::ReadFile(path);
  if (!bytes) return std::nullopt;
  return ParseVersionString(*bytes, key);
}

}  // namespace orvo::platform

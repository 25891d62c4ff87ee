#include "plan/config_file.h"

#include <array>
#include <optional>

#include "platform/file_system.h"
#include "platform/text.h"

namespace orvo::plan {

namespace {

// Windows-1252 at 0x80..0x9F; the five unassigned bytes map to the control code of the same value, as
// the system's conversion does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::u16string wide;
  wide.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    wide.push_back(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte));
  }
  return platform::Utf16ToUtf8(wide);
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    wide.push_back(static_cast<char16_t>(low | (high << 8)));
  }
  return platform::Utf16ToUtf8(wide);
}

// Code-page text: line by line, so one stray byte does not change how the rest of the file reads.
std::string CodePageToUtf8(std::string_view bytes) {
  if (platform::IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 8);
  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    text += platform::IsValidUtf8(line) ? std::string(line) : Cp1252ToUtf8(line);
    if (end == bytes.size()) break;
    text += '\n';
    start = end + 1;
  }
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Strip(std::string_view text, bool (*drop)(char)) {
  while (!text.empty() && drop(text.front())) text.remove_prefix(1);
  while (!text.empty() && drop(text.back())) text.remove_suffix(1);
  return text;
}

// The name between "[" and the last "]" (the rest of the line when there is none).
std::optional<std::string_view> SectionHeader(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const std::size_t close = line.rfind(']');
  return close == std::string_view::npos ? line : line.substr(0, close);
}

void AddLine(Section& section, std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    std::string whole = StripBlanksThenSemicolons(line);
    section.Add(whole, whole);
    return;
  }
  section.Add(StripBlanksThenSemicolons(line.substr(0, equals)),
              StripBlanksThenSemicolons(line.substr(equals + 1)));
}

}  // namespace

void Section::Add(std::string key, std::string value) { entries_.emplace_back(std::move(key), std::move(value)); }

const std::string* Section::Find(std::string_view key) const {
  for (const Entry& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

std::string Section::Get(std::string_view key) const {
  const std::string* value = Find(key);
  return value == nullptr ? std::string() : *value;
}

bool Section::IsYes(std::string_view key) const {
  const std::string* value = Find(key);
  return value != nullptr && *value == "yes";
}

std::vector<std::string> Section::Chain(std::string_view base_key) const {
  std::vector<std::string> values;
  std::string key(base_key);
  for (int number = 1;; ++number) {
    const std::string* value = Find(key);
    if (value == nullptr) break;
    values.push_back(*value);
    key += std::to_string(number);
  }
  return values;
}

std::string StripBlanksThenSemicolons(std::string_view text) {
  text = Strip(text, IsBlank);
  return std::string(Strip(text, [](char c) { return c == ';'; }));
}

std::string DecodeConfigText(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return Utf16LeToUtf8(bytes.substr(2));
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return CodePageToUtf8(bytes);
}

ConfigFile ConfigFile::Load(std::string_view path) {
  const std::optional<std::string> bytes = platform::fs::ReadFile(path);
  return bytes ? Parse(*bytes) : ConfigFile();
}

ConfigFile ConfigFile::Parse(std::string_view bytes) {
  ConfigFile file;
  const std::string text = DecodeConfigText(bytes);
  // Index of the section being read; lines before the first header belong to none.
  std::optional<std::size_t> current;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Strip(std::string_view(text).substr(start, end - start), IsBlank);
    start = end + 1;
    if (line.empty()) continue;
    if (const std::optional<std::string_view> header = SectionHeader(line)) {
      std::string name = StripBlanksThenSemicolons(*header);
      if (name.empty()) {
        current.reset();  // a dropped section keeps its lines to itself
        continue;
      }
      file.sections_.push_back(NamedSection{std::move(name), Section()});
      current = file.sections_.size() - 1;
      continue;
    }
    if (current) AddLine(file.sections_[*current].section, line);
  }
  return file;
}

std::vector<std::string> ConfigFile::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const NamedSection& section : sections_) names.push_back(section.name);
  return names;
}

const Section* ConfigFile::Find(std::string_view name) const {
  for (const NamedSection& section : sections_) {
    if (section.name == name) return &section.section;
  }
  return nullptr;
}

}  // namespace orvo::plan

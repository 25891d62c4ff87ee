// The install configuration: an INI file of sections holding key=value lines, and the section record the
// plan builder reads (also made from the items of "/install" and "/uninstall").
//
// Text: UTF-16LE when the file begins with the byte-order mark FF FE; otherwise the system code page,
// which here is UTF-8 (a UTF-8 byte-order mark is skipped). A line that is not well-formed UTF-8 is read
// as Windows-1252, the code page such files are written in on Western Windows, so no byte is lost or
// turned into U+FFFD. Every section and every line is read, whatever the file's length.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvo::plan {

// One section (or item): a multimap from key to value that keeps file order. Lookups compare keys exactly
// and return the first occurrence.
class Section {
 public:
  using Entry = std::pair<std::string, std::string>;

  void Add(std::string key, std::string value);
  // The first value of key, or null.
  const std::string* Find(std::string_view key) const;
  bool Has(std::string_view key) const { return Find(key) != nullptr; }
  // The first value of key, empty when absent.
  std::string Get(std::string_view key) const;
  // True only when the value is exactly "yes".
  bool IsYes(std::string_view key) const;
  // The numbered key chain: base, base + "1", that + "2", ... up to the first absent key; the values in
  // chain order.
  std::vector<std::string> Chain(std::string_view base_key) const;
  const std::vector<Entry>& Entries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }

 private:
  std::vector<Entry> entries_;
};

struct NamedSection {
  std::string name;
  Section section;
};

class ConfigFile {
 public:
  // The file at a Windows path; a file that cannot be read has no sections.
  static ConfigFile Load(std::string_view path);
  // The file's bytes as stored.
  static ConfigFile Parse(std::string_view bytes);

  // Every section in file order (each header gives its own section, also when a name repeats).
  const std::vector<NamedSection>& Sections() const { return sections_; }
  std::vector<std::string> SectionNames() const;
  // The first section with exactly this name, or null.
  const Section* Find(std::string_view name) const;

 private:
  std::vector<NamedSection> sections_;
};

// Strips all blanks (spaces and tabs) from both ends, then all ";" from both ends.
std::string StripBlanksThenSemicolons(std::string_view text);
// The file's bytes as UTF-8 text, following the rules at the top of this file.
std::string DecodeConfigText(std::string_view bytes);

}  // namespace orvo::plan

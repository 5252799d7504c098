// The plug-in list file, "KQCP_PLUGIN.xml": a root "PluginList" whose direct "Plugin" children
// name plug-in libraries by a path relative to the list file's own directory.
#pragma once

#include <string>
#include <vector>

namespace Vantor::KQCP {

struct PluginEntry {
  // "enable" equals "true" in any letter case.
  bool enable = false;
  // The "path" attribute joined to the list file's directory.
  std::u16string path;
  // The "name" attribute, or empty. Loaded plug-ins are known by the name they report instead.
  std::u16string name;
};

class PluginListReader {
 public:
  static constexpr int kRead = 0;
  // The file cannot be opened, is not a regular file, or is not well-formed XML.
  static constexpr int kUnreadable = -1;
  // The root element is not "PluginList".
  static constexpr int kWrongRoot = -2;

  // Replaces the entries with those of the file, in document order; on failure none are left.
  // An entry without a usable path (absent, empty, or too long once joined) is dropped.
  int Parse(const char16_t* listPath);
  const std::vector<PluginEntry>& Entries() const { return entries_; }

 private:
  std::vector<PluginEntry> entries_;
};

}  // namespace Vantor::KQCP

// Reading the plug-in list file through the DOM layer.
#include "plugin/plugin_list_reader.h"

#include <string_view>

#include "os/library.h"
#include "os/utf.h"
#include "plugin/plugin_path.h"
#include "plugin/regular_file.h"
#include "xml/dom_node.h"
#include "xml/dom_parser.h"

namespace Vantor::KQCP {

namespace {

bool IsTrueIgnoringCase(const char* value) {
  constexpr std::string_view kTrue = "true";
  const std::string_view text(value);
  if (text.size() != kTrue.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kTrue[i]) return false;
  }
  return true;
}

}  // namespace

int PluginListReader::Parse(const char16_t* listPath) {
  entries_.clear();
  if (!listPath) return kUnreadable;
  try {
    VEXO::XML::DOMNode top;
    VEXO::XML::DOMParser parser;
    parser.SetTopNode(&top);
    if (!parser.CreateParser()) return kUnreadable;
    // Only a regular file is a list: a FIFO would block the loader for ever. The file is fed as
    // an open-ended stream (a long token's blocks gathered, not parsed again for each one); the
    // final empty piece makes a truncated or empty file the error it is instead of a list cut
    // short.
    const bool fed = ReadRegularFile(os::ToNativePath(std::u16string(listPath)).c_str(),
                                     [&parser](const char* bytes, std::size_t length) {
                                       return parser.Feed(bytes, static_cast<int>(length));
                                     });
    if (!fed || !parser.Parse("", 0, true)) return kUnreadable;
    if (!top.Name().Equals("PluginList")) return kWrongRoot;

    const std::u16string_view list(listPath);
    for (const VEXO::XML::DOMNode* child : top.Children()) {
      if (!child->Name().Equals("Plugin")) continue;
      const char* path = child->GetAttribute("path");
      if (!path || !*path) continue;
      PluginEntry entry;
      entry.path = JoinToDirectory(list, os::Utf8ToUtf16(path));
      if (entry.path.empty()) continue;
      const char* enable = child->GetAttribute("enable");
      entry.enable = enable && IsTrueIgnoringCase(enable);
      if (const char* name = child->GetAttribute("name")) entry.name = os::Utf8ToUtf16(name);
      entries_.push_back(std::move(entry));
    }
  } catch (...) {
    // Memory ran out part-way: nothing half-read is handed on.
    entries_.clear();
    return kUnreadable;
  }
  return kRead;
}

}  // namespace Vantor::KQCP

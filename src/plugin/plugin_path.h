// Paths of plug-in list files and plug-in libraries: the directory part of a path, names joined
// to it, and the default list file beside the library. Paths keep the length bounds the list
// format has always had.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Vantor::KQCP {

inline constexpr std::u16string_view kPluginListFileName = u"KQCP_PLUGIN.xml";
// A joined path, its terminating NUL included, fits in this many characters.
inline constexpr std::size_t kMaxJoinedPath = 260;
// The library's own file name and the default list path, NUL included, fit in this many.
inline constexpr std::size_t kMaxModuleFileName = 259;

// Everything up to and including the last "\" or "/". Empty when the path has no separator or
// ends with its last one (it names a directory, not a file beside one).
std::u16string_view DirectoryPart(std::u16string_view path);

// The directory part of base followed by name; empty when base has no directory part or the
// result would not fit in kMaxJoinedPath. Never a path other than the one asked for.
std::u16string JoinToDirectory(std::u16string_view base, std::u16string_view name);

// "KQCP_PLUGIN.xml" in the directory of the given module file; empty when the module file name
// or the result would not fit in kMaxModuleFileName, or it has no directory part.
std::u16string DefaultListPathFor(std::u16string_view modulePath);

// The default list file beside the library itself; empty when it cannot be formed.
std::u16string DefaultPluginListPath();

}  // namespace Vantor::KQCP

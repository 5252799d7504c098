// Reads the namespace folder and maps each file name back to the object name it stands for.
#include "namespace_files.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

namespace kqcp_tool {

using Vantor::KQCP::os::NamedKind;
using Vantor::KQCP::os::NamedObject;

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The name a file stands for, or empty. Only a name whose escaped form is this very file
// counts: shortened (hashed) names cannot be decoded.
std::string DecodeName(NamedKind kind, const std::string& directory, const std::string& file,
                       std::size_t prefixLength) {
  std::string name;
  for (std::size_t i = prefixLength; i < file.size(); ++i) {
    if (file[i] != '%') {
      name += file[i];
      continue;
    }
    if (i + 2 >= file.size()) return {};
    const int high = HexDigit(file[i + 1]), low = HexDigit(file[i + 2]);
    if (high < 0 || low < 0) return {};
    name += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (name.empty() || NamedObject::FilePath(kind, name) != directory + file) return {};
  return name;
}

}  // namespace

const char* KindName(NamedKind kind) {
  switch (kind) {
    case NamedKind::kSharedMemory:
      return "shm";
    case NamedKind::kMutex:
      return "mutex";
    case NamedKind::kSemaphore:
      return "semaphore";
  }
  return "object";
}

bool ListObjectFiles(std::vector<ObjectFile>* files) {
  files->clear();
  // The folder as the library names it: "<folder>/kqcp.shm.x" minus "kqcp.shm.x".
  const std::string probe = NamedObject::FilePath(NamedKind::kSharedMemory, "x");
  if (probe.empty()) return false;
  const std::string directory = probe.substr(
      0, probe.size() - std::strlen(NamedObject::KindPrefix(NamedKind::kSharedMemory)) - 1);
  DIR* folder = opendir(directory.c_str());
  if (!folder) return false;
  while (const dirent* entry = readdir(folder)) {
    const std::string file = entry->d_name;
    for (NamedKind kind : {NamedKind::kSharedMemory, NamedKind::kMutex, NamedKind::kSemaphore}) {
      const char* prefix = NamedObject::KindPrefix(kind);
      const std::size_t length = std::strlen(prefix);
      if (file.compare(0, length, prefix) != 0) continue;
      files->push_back({kind, file, DecodeName(kind, directory, file, length)});
    }
  }
  closedir(folder);
  std::sort(files->begin(), files->end(),
            [](const ObjectFile& a, const ObjectFile& b) { return a.file < b.file; });
  return true;
}

bool IsValidPlatformName(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

}  // namespace kqcp_tool

// Registry file format: one line per key ("K<TAB>path") or value ("V<TAB>path<TAB>name<TAB>
// value"), with tab, newline and backslash escaped. Parent keys are created implicitly.
#include "os/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace Vantor::KQCP::os {
namespace {

std::mutex g_defaultPathMutex;
std::string g_defaultPath;

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(Unescape(field));
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

// Holds an exclusive lock on "<store>.lock" for the life of the object.
class FileLock {
 public:
  explicit FileLock(const std::string& storePath) {
    fd_ = open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

void AddWithParents(std::map<std::string, std::map<std::string, std::string>>& tree,
                    const std::string& key) {
  for (std::size_t pos = key.find('/'); pos != std::string::npos; pos = key.find('/', pos + 1)) {
    tree[key.substr(0, pos)];
  }
  tree[key];
}

}  // namespace

RegistryStore::RegistryStore(std::string filePath) : path_(std::move(filePath)) {}

std::string RegistryStore::DefaultPath() {
  {
    std::lock_guard<std::mutex> guard(g_defaultPathMutex);
    if (!g_defaultPath.empty()) return g_defaultPath;
  }
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.config";
  }
  return base + "/kqcp/registry";
}

void RegistryStore::SetDefaultPath(std::string path) {
  std::lock_guard<std::mutex> guard(g_defaultPathMutex);
  g_defaultPath = std::move(path);
}

bool RegistryStore::Read(Tree& tree) const {
  std::ifstream in(path_);
  if (!in) return !std::filesystem::exists(path_);
  std::string line;
  while (std::getline(in, line)) {
    auto fields = SplitTabs(line);
    if (fields.size() == 2 && fields[0] == "K") {
      AddWithParents(tree, fields[1]);
    } else if (fields.size() == 4 && fields[0] == "V") {
      AddWithParents(tree, fields[1]);
      tree[fields[1]][fields[2]] = fields[3];
    }
  }
  return !in.bad();
}

bool RegistryStore::Write(const Tree& tree) const {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  std::string temp = path_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    for (const auto& [key, values] : tree) {
      out << "K\t" << Escape(key) << '\n';
      for (const auto& [name, value] : values) {
        out << "V\t" << Escape(key) << '\t' << Escape(name) << '\t' << Escape(value) << '\n';
      }
    }
    out.flush();
    if (!out) return false;
  }
  return std::rename(temp.c_str(), path_.c_str()) == 0;
}

template <class Change>
bool RegistryStore::Modify(Change change) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  FileLock lock(path_);
  if (!lock.Held()) return false;
  Tree tree;
  if (!Read(tree)) return false;
  change(tree);
  return Write(tree);
}

bool RegistryStore::CreateKey(const std::string& key) {
  return Modify([&](Tree& tree) { AddWithParents(tree, key); });
}

bool RegistryStore::SetValue(const std::string& key, const std::string& name,
                             const std::string& value) {
  return Modify([&](Tree& tree) {
    AddWithParents(tree, key);
    tree[key][name] = value;
  });
}

bool RegistryStore::DeleteKey(const std::string& key) {
  return Modify([&](Tree& tree) {
    std::string prefix = key + "/";
    for (auto it = tree.begin(); it != tree.end();) {
      if (it->first == key || it->first.compare(0, prefix.size(), prefix) == 0) {
        it = tree.erase(it);
      } else {
        ++it;
      }
    }
  });
}

bool RegistryStore::KeyExists(const std::string& key) const {
  Tree tree;
  return Read(tree) && tree.count(key) != 0;
}

std::optional<std::string> RegistryStore::GetValue(const std::string& key,
                                                   const std::string& name) const {
  Tree tree;
  if (!Read(tree)) return std::nullopt;
  auto keyIt = tree.find(key);
  if (keyIt == tree.end()) return std::nullopt;
  auto valueIt = keyIt->second.find(name);
  if (valueIt == keyIt->second.end()) return std::nullopt;
  return valueIt->second;
}

std::vector<std::string> RegistryStore::Keys() const {
  Tree tree;
  std::vector<std::string> keys;
  if (!Read(tree)) return keys;
  for (const auto& entry : tree) keys.push_back(entry.first);
  return keys;
}

}  // namespace Vantor::KQCP::os

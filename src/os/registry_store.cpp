// Registry file format: one line per key ("K<TAB>path") or value ("V<TAB>path<TAB>name<TAB>
// value"), with tab, newline and backslash escaped. Parent keys are created implicitly.
#include "os/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

// Holds an exclusive lock on "<store>.lock" for the life of the object. A symlink planted in
// its place is refused, never followed.
class FileLock {
 public:
  explicit FileLock(const std::string& storePath) {
    fd_ = open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
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

// An absolute directory from the environment, or empty. A relative one would depend on the
// working directory; secure_getenv ignores the environment of a set-user-ID host.
std::string AbsoluteFromEnvironment(const char* name) {
  const char* value = secure_getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

// The user's home: $HOME when it is absolute, else the password database's entry.
std::string HomeDirectory() {
  std::string home = AbsoluteFromEnvironment("HOME");
  if (!home.empty()) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (!found || !found->pw_dir || found->pw_dir[0] != '/') return {};
  return found->pw_dir;
}

// A new file beside target, made exclusively and without following a symlink in its place.
int CreateTemporaryBeside(const std::string& target, std::string& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::uint64_t random = 0;
    if (getrandom(&random, sizeof random, 0) != sizeof random) return -1;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random));
    name = target + suffix;
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncDirectoryOf(const std::string& path) {
  std::string directory = std::filesystem::path(path).parent_path().string();
  const int fd =
      open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

RegistryStore::RegistryStore(std::string filePath) : path_(std::move(filePath)) {}

std::string RegistryStore::DefaultPath() {
  {
    std::lock_guard<std::mutex> guard(g_defaultPathMutex);
    if (!g_defaultPath.empty()) return g_defaultPath;
  }
  // Only the user's own directories: never a shared one such as /tmp, where another user could
  // plant files.
  std::string base = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
  if (base.empty()) {
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    base = home + "/.config";
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
  std::ostringstream text;
  for (const auto& [key, values] : tree) {
    text << "K\t" << Escape(key) << '\n';
    for (const auto& [name, value] : values) {
      text << "V\t" << Escape(key) << '\t' << Escape(name) << '\t' << Escape(value) << '\n';
    }
  }
  // Written whole to a file of our own, synced, then renamed over the store: a reader or a crash
  // sees the old contents or the new, and a symlink at the store's name is replaced, not written
  // through.
  std::string temp;
  const int fd = CreateTemporaryBeside(path_, temp);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text.str()) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path_.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  SyncDirectoryOf(path_);
  return true;
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

// A small file-backed registry: keys are "/"-separated paths, each with named string values
// (the empty name is the key's default value). Used by library registration.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Vantor::KQCP::os {

class RegistryStore {
 public:
  explicit RegistryStore(std::string filePath);

  // The store of this user: $XDG_CONFIG_HOME/kqcp/registry, else <home>/.config/kqcp/registry
  // with the home from $HOME or the password database (relative values are ignored), unless
  // SetDefaultPath chose another file. Empty when the user has no home.
  static std::string DefaultPath();
  static void SetDefaultPath(std::string path);

  // Each call reads the file, applies the change and writes the file back atomically (a new
  // file made exclusively beside it, synced, renamed over it), under a lock shared with other
  // processes. False when the file cannot be read or written.
  bool CreateKey(const std::string& key);
  bool SetValue(const std::string& key, const std::string& name, const std::string& value);
  // Removes the key with its subkeys; true also when the key did not exist.
  bool DeleteKey(const std::string& key);

  bool KeyExists(const std::string& key) const;
  std::optional<std::string> GetValue(const std::string& key, const std::string& name) const;
  std::vector<std::string> Keys() const;

 private:
  using Values = std::map<std::string, std::string>;
  using Tree = std::map<std::string, Values>;

  bool Read(Tree& tree) const;
  bool Write(const Tree& tree) const;
  template <class Change>
  bool Modify(Change change);

  std::string path_;
};

}  // namespace Vantor::KQCP::os

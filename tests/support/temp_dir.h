// A fresh temporary directory per test, removed with its contents afterwards, and a name that
// is unique to this process for objects that other test runs must never meet.
#pragma once

#include <string>

namespace kqcp_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// "<prefix>_<pid>_<counter>".
std::string UniqueName(const std::string& prefix);

}  // namespace kqcp_test

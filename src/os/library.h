// Dynamic libraries by path ("\" works as a separator, as hosts from other platforms write
// paths), symbol lookup, and the file path of libkqcp.so itself.
#pragma once

#include <string>

namespace Vantor::KQCP::os {

class Library {
 public:
  Library() = default;
  ~Library();
  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Load(const std::u16string& path);
  void* Symbol(const char* name) const;
  void Free();
  // Gives up ownership: the library stays loaded for the life of the process.
  void* Release();
  bool IsLoaded() const { return handle_ != nullptr; }
  void* Handle() const { return handle_; }
  // Why the last Load or Symbol failed.
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  mutable std::string error_;
};

// A path with every "\" turned into "/".
std::string ToNativePath(const std::string& path);
std::string ToNativePath(const std::u16string& path);

// Full path of the library (or executable) that contains this code; empty when unknown.
std::u16string OwnModulePath();
// Base address of the module that contains this code, used as the module handle.
void* OwnModuleHandle();

}  // namespace Vantor::KQCP::os

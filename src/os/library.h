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

// Absolute, canonical path of the library (or executable) that contains this code, resolved
// once when it was loaded; empty when it could not be resolved then.
std::u16string OwnModulePath();
// Base address of the module that contains this code, used as the module handle.
void* OwnModuleHandle();
// Makes the exported functions of the module that contains this code visible to libraries
// loaded later, even when the host loaded it privately (RTLD_LOCAL): plug-ins built against the
// public headers alone then find the BSTR functions. The module then stays loaded for good, as
// the plug-ins that bound to it do. Safe to call more than once; false when it did not succeed.
bool PublishOwnModuleSymbols();
// Keeps the module that contains this code mapped until the process ends, whatever dlclose
// calls follow (RTLD_NODELETE). Safe to call more than once; false when it did not succeed.
bool PinOwnModule();

}  // namespace Vantor::KQCP::os

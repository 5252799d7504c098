// dlopen-based libraries; the error text stays with the object that failed.
#include "os/library.h"

#include <dlfcn.h>

#include <utility>

#include "os/utf.h"

namespace Vantor::KQCP::os {

Library::~Library() { Free(); }

Library::Library(Library&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool Library::Load(const std::u16string& path) {
  Free();
  if (path.empty()) {
    error_ = "empty library path";
    return false;
  }
  std::string native = ToNativePath(path);
  handle_ = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* text = dlerror();
    error_ = text ? text : "cannot load library";
    return false;
  }
  error_.clear();
  return true;
}

void* Library::Symbol(const char* name) const {
  if (!handle_) {
    error_ = "library not loaded";
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle_, name);
  if (!symbol) {
    const char* text = dlerror();
    error_ = text ? text : "symbol not found";
  }
  return symbol;
}

void Library::Free() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void* Library::Release() { return std::exchange(handle_, nullptr); }

std::string ToNativePath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string ToNativePath(const std::u16string& path) { return ToNativePath(Utf16ToUtf8(path)); }

std::u16string OwnModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModulePath), &info) == 0 || !info.dli_fname) return {};
  return Utf8ToUtf16(info.dli_fname);
}

void* OwnModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

bool PublishOwnModuleSymbols() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PublishOwnModuleSymbols), &info) == 0 || !info.dli_fname ||
      !*info.dli_fname) {
    return false;
  }
  // Reopening by the loader's own name finds the loaded module; RTLD_NOLOAD never loads another
  // copy. The handle is kept on purpose: plug-ins bound to this module must not outlive it.
  return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL) != nullptr;
}

}  // namespace Vantor::KQCP::os

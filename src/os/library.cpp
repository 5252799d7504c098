// dlopen-based libraries; the error text stays with the object that failed.
#include "os/library.h"

#include <dlfcn.h>

#include <cstdlib>
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

namespace {

// The loader's name of the module that contains this code; empty when unknown.
std::string OwnLoaderName() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnLoaderName), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

const std::u16string& OwnPathAtLoad() {
  static const std::u16string path = [] {
    const std::string name = OwnLoaderName();
    char* resolved = name.empty() ? nullptr : realpath(name.c_str(), nullptr);
    std::u16string canonical = resolved ? Utf8ToUtf16(resolved) : std::u16string();
    std::free(resolved);
    return canonical;
  }();
  return path;
}

// Resolved while the library loads: a host that opened it by a relative path may change its
// working directory afterwards, and the name as written would then lead somewhere else.
[[maybe_unused]] const bool g_ownPathResolved = (OwnPathAtLoad(), true);

// Reopens the loaded module by the loader's own name, which finds it without touching the file
// system again; RTLD_NOLOAD never loads another copy. The handle is kept on purpose.
bool ReopenOwnModule(int flags) {
  const std::string name = OwnLoaderName();
  return !name.empty() && dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | flags) != nullptr;
}

}  // namespace

std::u16string OwnModulePath() { return OwnPathAtLoad(); }

void* OwnModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

bool PublishOwnModuleSymbols() {
  // Plug-ins bound to this module must not outlive it.
  return ReopenOwnModule(RTLD_GLOBAL);
}

bool PinOwnModule() { return ReopenOwnModule(RTLD_NODELETE); }

}  // namespace Vantor::KQCP::os
